#pragma once
// A programming dialog's view that shows nothing: tests derive from it and
// keep only the fields they look at.
#include <cstdint>
#include <string>

#include "core/flash/LoadMemoryModel.h"

namespace tarnvale::test {

class QuietLoadView : public LoadMemoryView {
 public:
  void SetTitle(const std::string&) override {}
  void SetFileName(const std::string&) override {}
  void SetLastModified(const std::string&) override {}
  void SetEraseTime(const std::string&) override {}
  void SetProgramTime(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void SetFreeText(const std::string&) override {}
  void SetProgressRange(std::uint32_t, std::uint32_t) override {}
  void SetProgress(std::uint32_t) override {}
  void StepProgress() override {}
  void ShowRunOnCompletion(bool) override {}
  bool RunOnCompletion() const override { return false; }
  void Close() override {}
};

}  // namespace tarnvale::test
