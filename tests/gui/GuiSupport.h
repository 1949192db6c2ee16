#pragma once
// Helpers for driving the desktop application offscreen: the one
// QApplication of the suite, event pumping with deadlines, answering modal
// dialogs, and a main window on a pseudo-terminal.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "core/settings/ConfigData.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"

namespace tarnvale::gui {
class CMainFrame;
}

namespace tarnvale::test {

// Processes events until pred holds or timeoutMs pass; returns pred(). The
// time is a guard for a condition that never comes, not a limit a busy
// machine should meet.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 20000);
void Pump(int ms);

// Reads what the program wrote to the pty while keeping the event loop
// running (the terminal paces its output with a timer).
std::string ReceivePumping(PtyPair& pty, std::size_t count, int timeoutMs = 2000);

// When a modal widget next appears, hands it to `answer` (which must close
// it). Call before the code that opens the dialog.
void AnswerNextModal(std::function<void(QWidget*)> answer);

// While a modal dialog of type D is the active one, hands it to `step` every
// 10 ms until `step` returns true. A dialog still open after the deadline is
// closed by force (and TimedOut says so), so a fault cannot hang the suite.
// A step that opens a message box of its own is not entered again meanwhile.
template <class D>
class DialogScript {
 public:
  explicit DialogScript(std::function<bool(D&)> step, int deadlineMs = 15000) : step_(std::move(step)) {
    clock_.start();
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this, deadlineMs] {
      auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
      if (d == nullptr || !d->isVisible() || busy_) return;
      busy_ = true;
      if (clock_.elapsed() > deadlineMs) {
        timedOut_ = true;
        timer_.stop();
        d->done(QDialog::Rejected);
      } else if (step_(*d)) {
        timer_.stop();
      }
      busy_ = false;
    });
    timer_.start();
  }
  bool TimedOut() const { return timedOut_; }

 private:
  std::function<bool(D&)> step_;
  QTimer timer_;
  QElapsedTimer clock_;
  bool timedOut_ = false;
  bool busy_ = false;
};

// Forgets every stored setting: the next Load starts from first-run defaults.
void ForgetSettings();
// First-run settings with the primary port `port`, loaded and saved.
void SaveFreshSettings(ConfigData& settings, const std::string& port);

// A main window on a pty, with a recording operator.
struct FrameOnPty {
  FrameOnPty();
  ~FrameOnPty();
  PtyPair pty;
  RecordingOperator op;
  ConfigData settings;
  std::unique_ptr<gui::CMainFrame> frame;
};

}  // namespace tarnvale::test
