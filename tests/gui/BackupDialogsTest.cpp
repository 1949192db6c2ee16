// "Data Backup" and "Serial Tester" from the File menu, driven offscreen:
// the backup dialog shows its differences against the simulated RQ750 (its
// save, stopped, is in LongRunsTest); the serial tester sends a line and
// shows TX/RX.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMessageBox>
#include <QSpinBox>
#include <atomic>
#include <chrono>
#include <thread>

#include "GuiSupport.h"
#include "gui/backup/CDataBackup.h"
#include "gui/tools/CSerialTest.h"
#include "gui/ui/CCoolEdit.h"
#include "gui/ui/CTerminalDialog.h"
#include "gui/ui/QtOperator.h"

namespace tarnvale::gui {
namespace {

using test::Button;

QCheckBox* Box(QWidget& w, const QString& text) {
  for (auto* b : w.findChildren<QCheckBox*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

// "Show differences" compares only the ticked sections and says in its own
// view which side is which.
TEST(BackupDialog, ShowsDifferencesOfTheTickedSections) {
  const std::string file = test::OtherControllersBackup(test::MakeTempDir("guiload"));
  test::FrameOnSim f({}, "rq750");
  f.op.openFile = file;
  QString differences, sides;
  // The differences view is a plain dialog on top of the backup dialog.
  test::DialogScript<QDialog> closeView([&](QDialog& d) {
    if (d.windowTitle() != "Differences") return false;
    if (auto* label = d.findChild<QLabel*>("sides")) sides = label->text();
    d.reject();
    return true;
  });
  bool asked = false;
  test::DialogScript<CDataBackup> script([&](CDataBackup& d) {
    if (d.Busy()) return false;
    if (!asked) {
      Box(d, "Settings")->setChecked(true);
      Button(d, "Show differences")->click();
      asked = true;
      return false;
    }
    if (d.LastDifferences().isEmpty()) return false;
    differences = d.LastDifferences();
    Button(d, "Close")->click();
    return true;
  });
  ASSERT_TRUE(f.frame->RunCommand(cmd::kDataBackup));
  EXPECT_FALSE(script.TimedOut());
  EXPECT_TRUE(differences.startsWith("Setup changed ")) << differences.toStdString();
  EXPECT_FALSE(differences.contains("MaterialTable"));
  EXPECT_EQ(sides.toStdString(), "The controller on " + f.sim.Port() + " → the file " + file +
                                     " (what Load Data would change)");
}

// A question whose Yes overwrites something answers No to Enter, Escape and
// closing; the plain question keeps its own default.
TEST(QtOperatorQuestions, OverwritingQuestionsDefaultToNo) {
  QtOperator op(nullptr);
  struct Case {
    const char* name;
    bool defaultNo;
    int key;  // 0: the box is closed
    bool answer;
  };
  const Case cases[] = {{"Enter", true, Qt::Key_Return, false},
                        {"Escape", true, Qt::Key_Escape, false},
                        {"closed", true, 0, false},
                        {"Enter on the plain question", false, Qt::Key_Return, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QString defaultButton;
    test::AnswerNextModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      if (box->defaultButton() != nullptr) defaultButton = box->defaultButton()->text();
      if (c.key == 0) {
        box->close();
        return;
      }
      QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
      QApplication::sendEvent(box, &press);
    });
    const bool yes = c.defaultNo ? op.AskYesNoDefaultNo("Overwrite?") : op.AskYesNo("Overwrite?");
    EXPECT_EQ(yes, c.answer);
    if (c.defaultNo) {
      EXPECT_EQ(defaultButton.remove('&'), "No");
    }
  }
}

TEST(BackupDialog, ClosesAtOnceWhenNoControllerAnswers) {
  test::FrameOnPty f;  // nothing plays the controller on this pty
  ASSERT_TRUE(f.frame->RunCommand(cmd::kDataBackup));
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text.rfind("Couldn't connect to controller.", 0), 0u);
}

// The device answers only once the dialog has been seen waiting for it with
// its buttons off: the window's loop runs during the response wait.
TEST(SerialTesterDialog, SendsALineAndShowsTxAndRx) {
  test::FrameOnPty f;
  std::string received;
  std::atomic<bool> seenWaiting{false};
  std::thread device([&] {
    received = f.pty.Receive(2, 3000);
    for (int i = 0; i < 300 && !seenWaiting.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    f.pty.Send("ok");
  });
  QTimer watcher;
  watcher.setInterval(5);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    for (auto* d : QApplication::topLevelWidgets()) {
      auto* tester = qobject_cast<CSerialTest*>(d);
      if (tester == nullptr || !tester->Busy()) continue;
      if (tester->findChild<QLabel*>("pleaseWait")->isVisible() && !Button(*tester, "Send")->isEnabled() &&
          !Button(*tester, "Close")->isEnabled()) {
        seenWaiting = true;
      }
    }
  });
  watcher.start();
  bool checked = false;
  test::DialogScript<CSerialTest> script([&](CSerialTest& d) {
    d.LineEdit()->setText("A,0x42");
    d.CountBox()->setValue(2);
    d.TimeoutBox()->setValue(2000);
    Button(d, "Send")->click();
    checked = true;
    Button(d, "Close")->click();
    return true;
  });
  ASSERT_TRUE(f.frame->RunCommand(cmd::kSerialTester));
  device.join();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(seenWaiting.load());
  EXPECT_EQ(received, "AB");
  const QString text = f.frame->TerminalView()->Edit()->toPlainText();
  EXPECT_TRUE(text.contains("TX:A,B")) << text.toStdString();
  EXPECT_TRUE(text.contains("RX:o,k")) << text.toStdString();
}

// The file send from the dialog: the run is stopped by Escape between lines
// and says how many went (as many as reached the device), and the dialog
// then closes.
TEST(SerialTesterDialog, FileSendIsSaidAndStopsOnEscape) {
  test::FrameOnPty f;
  const auto dir = test::MakeTempDir("stfile");
  std::string lines = "bad\n";
  for (int i = 0; i < 40; ++i) lines += "A\n";
  test::WriteFileBytes(dir / "lines.txt", lines);
  std::atomic<int> received{0};
  std::atomic<bool> done{false};
  std::thread device([&] {
    // Nothing answers; every line waits out its time-out.
    while (!done.load()) received += static_cast<int>(f.pty.Receive(1, 50).size());
  });
  QTimer watcher;
  watcher.setInterval(5);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* tester = qobject_cast<CSerialTest*>(QApplication::activeModalWidget());
    if (tester == nullptr || !tester->SendingFile() || received.load() < 2) return;
    EXPECT_TRUE(tester->findChild<QPushButton*>("stop")->isEnabled());
    EXPECT_FALSE(Button(*tester, "Send")->isEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(tester, &escape);
    watcher.stop();
  });
  test::DialogScript<CSerialTest> script([&](CSerialTest& d) {
    d.FileEdit()->setText(QString::fromStdString((dir / "lines.txt").string()));
    d.TimeoutBox()->setValue(300);
    d.CountBox()->setValue(1);
    watcher.start();
    Button(d, "Send File")->click();  // returns when the run has ended
    return true;
  });
  ASSERT_TRUE(f.frame->RunCommand(cmd::kSerialTester));
  done = true;
  device.join();
  const std::string text = f.frame->TerminalView()->Edit()->toPlainText().toStdString();
  const int went = received.load();
  EXPECT_GE(went, 2);
  EXPECT_LT(went, 40);
  EXPECT_NE(text.find("Stopped: " + std::to_string(went) + " lines of lines.txt were sent"), std::string::npos)
      << text;
}

}  // namespace
}  // namespace tarnvale::gui
