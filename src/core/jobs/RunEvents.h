#pragma once
// What every long run says while it goes, in one vocabulary: which phase it
// is in, how much there is to do (units and the image bytes they carry), how
// much is done, a warning that does not end it, and how it finished. A front
// end draws every run from these alone (a bar, plain lines, JSON, a dialog),
// so no front end reads an image of its own to count bytes.
//
// Events reach the sink synchronously on the thread of the run, in this
// order: any number of PhaseStarted and Warning, a Total before the first
// Progress of its phase, Progress with units and bytes never going back
// within a phase, and exactly one Finished, last.

#include <cstdint>
#include <string>
#include <variant>

#include "core/result/ResultCode.h"

namespace tarnvale {

struct PhaseStarted {
  std::string name;  // "Erasing", "Programming", "Reading", ...
};

struct RunTotal {
  std::uint64_t units = 0;  // packets, records, bytes: what Progress counts
  std::uint64_t bytes = 0;  // the image or file bytes behind them; 0 when none
};

struct RunProgress {
  std::uint64_t units = 0;
  std::uint64_t bytes = 0;
};

struct RunWarning {
  std::string text;
};

struct RunFinished {
  ResultCode code = rc::kSuccess;
  std::string summary;  // what was kept or moved, in words; may be empty
};

using RunEvent = std::variant<PhaseStarted, RunTotal, RunProgress, RunWarning, RunFinished>;

class RunSink {
 public:
  virtual ~RunSink() = default;
  virtual void OnEvent(const RunEvent& event) = 0;
};

// The side of a run that speaks the vocabulary: it sends Total and Finished
// at most once each, and after the run has returned, Ended supplies the
// Finished a stopped run no longer sends itself (stopped runs are silent).
class RunReporter {
 public:
  explicit RunReporter(RunSink& sink) : sink_(sink) {}
  void Phase(const std::string& name) { sink_.OnEvent(PhaseStarted{name}); }
  void Total(std::uint64_t units, std::uint64_t bytes) { sink_.OnEvent(RunTotal{units, bytes}); }
  void Progress(std::uint64_t units, std::uint64_t bytes) { sink_.OnEvent(RunProgress{units, bytes}); }
  void Warning(const std::string& text) { sink_.OnEvent(RunWarning{text}); }
  void Finish(ResultCode code, const std::string& summary = {}) {
    if (finished_) return;
    finished_ = true;
    sink_.OnEvent(RunFinished{code, summary.empty() ? ResultText(code) : summary});
  }
  // The run's return value: its Finished, unless it sent one.
  void Ended(ResultCode code) { Finish(code); }
  bool Finished() const { return finished_; }

 private:
  RunSink& sink_;
  bool finished_ = false;
};

// A sink that forgets everything: for runs nobody watches.
class NullRunSink final : public RunSink {
 public:
  void OnEvent(const RunEvent&) override {}
};

}  // namespace tarnvale
