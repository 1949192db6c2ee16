#pragma once
// "Pin States": the expected and read level of every used CPU pin after one
// stage of the pin test, a green line where they agree and a red one where
// they differ, the differing ones first. The window title names the stage.
//
// After a whole run the same window shows the run: its verdict, a summary
// list of every pin (the failing ones first, each with its diagnosis and
// the stage and step that showed it) above the stage lists, one tab each.

#include <QDialog>
#include <string>
#include <vector>

#include "core/programmer/PinImage.h"
#include "core/programmer/TestCpuModel.h"

class QLabel;
class QTabWidget;

namespace tarnvale::gui {

class CXListBox;

class CPinStateDialog : public QDialog {
  Q_OBJECT
 public:
  CPinStateDialog(const PinImage& expected, const PinImage& read, const std::string& title,
                  QWidget* parent = nullptr);
  explicit CPinStateDialog(const PinTestReport& report, QWidget* parent = nullptr);
  // The pin list of the one stage, or of the stage whose tab is shown.
  CXListBox* List() const;
  // After a whole run: the summary, the verdict, and each stage's list.
  CXListBox* Summary() const { return summary_; }
  QLabel* Verdict() const { return verdict_; }
  int StageCount() const { return static_cast<int>(stageLists_.size()); }
  CXListBox* StageList(int i) const { return stageLists_.at(static_cast<std::size_t>(i)); }
  std::string StageTitle(int i) const;

 private:
  CXListBox* MakeStageList(const PinImage& expected, const PinImage& read);

  CXListBox* summary_ = nullptr;
  QLabel* verdict_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  std::vector<CXListBox*> stageLists_;
  std::vector<std::string> stageTitles_;
};

}  // namespace tarnvale::gui
