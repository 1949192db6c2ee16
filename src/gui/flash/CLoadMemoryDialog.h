#pragma once
// The programming dialog: erases a controller's flash (or not, for a RAM
// load) and streams an image to it, showing the file, the erase and program
// times, progress and a one-line status. It starts by itself 100 ms after it
// opens. The file choice and the image check happen on the GUI thread; the
// erase (a wait of up to minutes) and the stream are one run on the model's
// worker thread, whose view calls are handled here on the GUI thread while
// the worker waits, so the window repaints throughout.
//
// Until the run has finished or failed the dialog ignores mouse clicks
// (except on "Stop" and "Run on completion") and typed keys. "Stop", Escape
// and the close box end the erase wait or the stream at its next step and
// close the dialog with rc::kStoppedByProgram (a stopped flash leaves the
// controller to be programmed again, as a failed one does). A failed run
// closes it. After a run, "Exit", the close box, Escape or Enter close it.

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <memory>

#include "core/flash/LoadMemoryModel.h"
#include "gui/flash/WorkerCalls.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnvale {
class Operator;
}

namespace tarnvale::gui {

class RunProgressView;

class CLoadMemoryDialog : public QDialog, public LoadMemoryView {
  Q_OBJECT
 public:
  CLoadMemoryDialog(ProgrammingRequest request, Operator& op, QWidget* parent = nullptr);
  ~CLoadMemoryDialog() override;

  // Shows the dialog modally, runs it to its end and collects the worker.
  // The model's result: '0' after "Success", otherwise what stopped the run.
  ResultCode Run();

  // True from opening until the run has finished or failed.
  bool RunInProgress() const { return !runOver_; }
  ResultCode Result() const { return model_.Result(); }

  // LoadMemoryView
  void SetTitle(const std::string& text) override;
  void SetFileName(const std::string& text) override;
  void SetLastModified(const std::string& text) override;
  void SetEraseTime(const std::string& text) override;
  void SetProgramTime(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void SetFreeText(const std::string& text) override;
  void SetProgressRange(std::uint32_t upper, std::uint32_t step) override;
  void SetProgress(std::uint32_t position) override;
  void StepProgress() override;
  void ShowRunOnCompletion(bool visible) override;
  bool RunOnCompletion() const override;
  bool VerifyAfterProgramming() const override { return verifyWanted_.load(); }
  bool StopRequested() override { return stopRequested_.load(); }
  void Close() override;

  // "Stop": the run ends at its next step and the dialog closes.
  void StopRun();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Relay;

  void BeginRun();
  void WorkerEnded();
  void EndRun();
  void JoinWorker();
  // Runs a view call on the GUI thread (the worker's calls wait).
  void OnGui(const std::function<void()>& f) { calls_.Call(f); }

  WorkerCalls calls_;  // outlives the model and its worker
  LoadMemoryModel model_;
  std::unique_ptr<Relay> relay_;
  QTimer startTimer_;
  bool opened_ = false;
  bool runOver_ = false;
  bool begun_ = false;
  std::atomic<bool> stopRequested_{false};

  QLabel* fileName_ = nullptr;
  QLabel* lastModified_ = nullptr;
  QLabel* eraseTime_ = nullptr;
  QLabel* programTime_ = nullptr;
  QLabel* freeText_ = nullptr;
  QProgressBar* progress_ = nullptr;  // in the run view's row
  RunProgressView* run_ = nullptr;      // fills the bar; "Stop"
  QLabel* status_ = nullptr;
  QCheckBox* runOnCompletion_ = nullptr;
  // "Verify after programming": shown where the device can read back; the
  // choice is kept in the settings for the next run.
  QCheckBox* verify_ = nullptr;
  std::atomic<bool> verifyWanted_{false};
  QPushButton* exit_ = nullptr;
  QPushButton* stop_ = nullptr;  // the run view's
};

}  // namespace tarnvale::gui
