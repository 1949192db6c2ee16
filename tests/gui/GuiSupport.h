#pragma once
// Helpers for driving the desktop application offscreen: the one
// QApplication of the suite, event pumping with deadlines, answering modal
// dialogs, and a main window on a pseudo-terminal.
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

// Processes events until pred holds or timeoutMs pass; returns pred().
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 2000);
void Pump(int ms);

// Reads what the program wrote to the pty while keeping the event loop
// running (the terminal paces its output with a timer).
std::string ReceivePumping(PtyPair& pty, std::size_t count, int timeoutMs = 2000);

// When a modal widget next appears, hands it to `answer` (which must close
// it). Call before the code that opens the dialog.
void AnswerNextModal(std::function<void(QWidget*)> answer);

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
