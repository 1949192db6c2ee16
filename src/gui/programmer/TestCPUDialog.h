#pragma once
// "Test": the CPU board test dialog on the programmer port. A thin view over
// TestCpuModel: identification fields, the line tests, control-line probing,
// the pin test with its "Pin States" lists, RAM bank runs with a progress
// bar, and the boot flash buttons (enabled by the flash-ID rule): blank
// check, erase, verify (a read-back on its own thread with every button off
// until it ends), read and program.
//
// The flash ID is read once the window shows. Every exchange that waits on
// the box (opening, the ID reads, the CPU test, blank check and erase, the
// boot buttons, closing) runs on a worker thread with every button off and
// "Please wait…" shown, so the window repaints meanwhile (the line tests,
// probing and the start of a RAM run and of a verify too: each first asks
// the box); the view calls it
// makes are done on the GUI thread. RAM and verify events come from their
// threads and are handled here on the GUI thread, after any exchange under
// way. Closing lets a RAM run end (at most 5 s), stops a verify read-back,
// joins every worker and switches the line test off before the window goes.

#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/programmer/TestCpuModel.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tarnvale {
class CommPort;
class Operator;
}  // namespace tarnvale

namespace tarnvale::gui {

class TestCPUDialog : public QDialog, public TestCpuView, public RamEvents {
  Q_OBJECT
 public:
  using PinDialogRunner = std::function<void(const PinTestReport& report)>;

  TestCPUDialog(CommPort& port, Operator& op, QWidget* parent = nullptr,
                BoxTimings timings = BoxTimings{});
  ~TestCPUDialog() override;

  // Replaces the modal "Pin States" window (tests).
  void SetPinDialogRunner(PinDialogRunner runner) { pinRunner_ = std::move(runner); }
  // The box's settling time before a verify read-back (tests shorten it).
  void SetBootReadSettleMs(std::uint32_t ms) { bootSettleMs_ = ms; }

  QPushButton* Button(TestButton b) const { return buttons_[static_cast<std::size_t>(b)]; }
  QLineEdit* Field(BoardField f) const { return fields_[static_cast<std::size_t>(f)]; }
  QListWidget* List() const { return list_; }
  QSpinBox* Bank() const { return bank_; }
  QProgressBar* Progress() const { return progress_; }
  TestCpuModel& Model() { return *model_; }

  // TestCpuView
  void AddLine(const std::string& text) override;
  void SetButtons(const ButtonStates& enabled) override;
  void SetField(BoardField field, const std::string& text) override;
  void SetBankRange(int low, int high) override;
  void SetProgress(int percent) override;
  void ShowPinStates(const PinTestReport& report) override;
  void SetButtonCaption(TestButton button, const std::string& text) override;

  // RamEvents (watcher thread): carried to the GUI thread.
  void OnRamProgress(std::uint32_t percent) override;
  void OnRamFinished(ResultCode code, const RamStatus& last) override;

 public slots:
  void done(int r) override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void OnButton(TestButton b);
  // Runs an exchange with the box off the GUI thread (see above).
  void Busy(const std::function<void()>& exchange);
  // Runs a model call of the RAM or verify events now, or after the
  // exchange under way.
  void OnModel(const std::function<void()>& f);
  class VerifyRelay;

  std::unique_ptr<BoxLink> link_;
  std::unique_ptr<TestCpuModel> model_;
  std::array<QPushButton*, kTestButtonCount> buttons_{};
  std::array<QLineEdit*, 5> fields_{};
  QListWidget* list_ = nullptr;
  QSpinBox* bank_ = nullptr;
  QProgressBar* progress_ = nullptr;
  PinDialogRunner pinRunner_;
  Operator& op_;
  std::unique_ptr<JobRunner> runner_;
  std::unique_ptr<VerifyRelay> verifyRelay_;
  std::uint32_t bootSettleMs_ = kBootReadSettleMs;
  bool opened_ = false;
  bool closing_ = false;
  bool busy_ = false;
  std::optional<int> closeAfterExchange_;
  ButtonStates pendingButtons_{};
  std::vector<std::function<void()>> deferred_;
  QLabel* pleaseWait_ = nullptr;
};

}  // namespace tarnvale::gui
