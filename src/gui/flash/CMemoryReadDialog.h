#pragma once
// The read-back dialog ("Read Memory"): a list of messages, two text fields,
// a progress bar with "Stop", "OK" and "Retry". A 100 ms timer starts the
// read on its first tick and shows the elapsed time on the later ones. The
// reading thread's events reach the GUI thread as every run's do, through a
// RunProgressView: the bar, "Stop" and the end of the run from the run's
// vocabulary, the list and field texts (the model's) through the same queue,
// in batches, without the reader ever waiting for the window.
//
// "OK" and "Retry" stay disabled while a read runs; "Stop", the close box
// and Escape stop it (what was read is kept as the reader keeps it) and close
// the dialog with rc::kStoppedByProgram. A hidden dialog (request.visible false) runs
// without appearing and closes by itself at the end.

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "core/flash/MemoryDump.h"
#include "gui/flash/WorkerCalls.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarnvale {
class Operator;
}

namespace tarnvale::gui {

class RunProgressView;

class CMemoryReadDialog : public QDialog, public MemoryReadView {
  Q_OBJECT
 public:
  CMemoryReadDialog(MemoryReadRequest request, Operator& op, QWidget* parent = nullptr);
  ~CMemoryReadDialog() override;

  // Runs the dialog modally to its end and collects the reading thread; the
  // result of the last read.
  ResultCode Run();

  bool ReadInProgress() const { return model_.Running(); }
  ResultCode Result() const { return stopped_ ? rc::kStoppedByProgram : model_.Result(); }
  // Stops a running read, collects the reader and closes the dialog.
  void StopRead();

  // MemoryReadView
  void AddListText(const std::string& text) override;
  void SetField1(const std::string& text) override;
  void SetField2(const std::string& text) override;
  void SetProgressRange(std::uint32_t upper) override;
  void SetProgressStep(std::uint32_t step) override;
  void SetProgress(std::uint32_t position) override;
  void EnableOk(bool on) override;
  void EnableRetry(bool on) override;
  void ShowRetry(bool visible) override;
  void Close() override;

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  class Relay;

  void OnOk();
  void OnRetry();
  void JoinWorker();
  void FitWidthTo(int needed);

  const bool visible_;
  WorkerCalls calls_;  // outlives the model and its worker
  std::unique_ptr<Relay> relay_;  // outlives the model's reading thread
  MemoryReadModel model_;
  QTimer timer_;
  bool opened_ = false;
  bool stopped_ = false;  // the person stopped the read before its result
  int widestShown_ = 0;  // the widest list line of the batch being shown

  QListWidget* list_ = nullptr;
  QLabel* field1_ = nullptr;
  QLabel* field2_ = nullptr;
  QProgressBar* progress_ = nullptr;  // in the run view's row
  RunProgressView* run_ = nullptr;      // fills the bar; "Stop"
  QPushButton* ok_ = nullptr;
  QPushButton* retry_ = nullptr;
};

}  // namespace tarnvale::gui
