#pragma once
// Helpers for driving the desktop application offscreen: the one
// QApplication of the suite, event pumping with deadlines, answering modal
// dialogs, finding a dialog's controls, and a main window on a
// pseudo-terminal or a simulator.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/settings/ConfigData.h"
#include "e2e/Processes.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

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

// A main window on a pty, with a recording operator (the window, declared
// last, goes before the pty).
struct FrameOnPty {
  FrameOnPty();
  PtyPair pty;
  RecordingOperator op;
  ConfigData settings;
  std::unique_ptr<gui::CMainFrame> frame;
};

// A main window with its primary port on a simulated `device` ("rq700",
// "rq750" or "tn835") serving a pty, started in a folder of its own. The
// rq700 logs its packets to `log`.
struct FrameOnSim {
  explicit FrameOnSim(const std::vector<std::string>& args, const std::string& device = "rq700");
  std::filesystem::path dir, log;
  SimProcess sim;
  RecordingOperator op;
  ConfigData settings;
  std::unique_ptr<gui::CMainFrame> frame;
};

// A backup file, made with the command line in `dir`, of another RQ750
// than the one a test's window talks to; its path.
std::string OtherControllersBackup(const std::filesystem::path& dir);

// A dialog's parts by object name, and its push buttons by the text a person
// reads (without the mnemonic's '&').
template <class W>
W* Child(QWidget& w, const char* name) {
  return w.findChild<W*>(QString::fromLatin1(name));
}
QString Text(QWidget& w, const char* label);
QPushButton* Button(QWidget& w, const QString& text);
// The lines of the list "messages" and the bar "progress" as "value/maximum".
QStringList ListTexts(QWidget& w);
QString Bar(QWidget& w);

}  // namespace tarnvale::test
