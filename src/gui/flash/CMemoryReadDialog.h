#pragma once
// The read-back dialog ("Read Memory"): a list of messages, two text fields,
// a progress bar, "OK" and "Retry". A 100 ms timer starts the read on its
// first tick and shows the elapsed time on the later ones; the reading
// thread's events are queued to the GUI thread and handled there in batches;
// only its result waits until the dialog has taken it.
//
// "OK" and "Retry" stay disabled while a read runs; "Stop", the close box
// and Escape stop it (what was read is kept as the reader keeps it) and close
// the dialog with rc::kStoppedByProgram. A hidden dialog (request.visible false) runs
// without appearing and closes by itself at the end.

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  // From the reading thread: an event for the model, handled in order on
  // the GUI thread without waiting for it.
  void Queue(std::function<void()> event);
  // On the GUI thread: handles what is queued.
  void RunQueued();
  void FitWidthTo(int needed);

  const bool visible_;
  WorkerCalls calls_;  // outlives the model and its worker
  MemoryReadModel model_;
  std::unique_ptr<Relay> relay_;
  QTimer timer_;
  bool opened_ = false;
  bool stopped_ = false;  // the person stopped the read before its result
  std::mutex queueMutex_;
  std::vector<std::function<void()>> queued_;  // under queueMutex_
  bool batching_ = false;
  int widestQueued_ = 0;

  QListWidget* list_ = nullptr;
  QLabel* field1_ = nullptr;
  QLabel* field2_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* retry_ = nullptr;
  QPushButton* stop_ = nullptr;
};

}  // namespace tarnvale::gui
