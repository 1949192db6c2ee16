// The controller commands of the File menu run through their progress
// dialogs: "Flash RQ700 Series" and "Load" through the programming dialog
// against the simulated controller, "Dump RQ700 Series Memory" through the
// read-back dialog against a scripted one.
// The operator's side (file choices, the MAC question, message boxes) is a
// recording operator; the dialogs themselves are driven with real clicks and
// keys while their workers run.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <regex>
#include <set>

#include "GuiSupport.h"
#include "core/flash/Workflows.h"
#include "flash/FakeDevice.h"
#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/flash/CMemoryReadDialog.h"
#include "gui/ui/CTerminalDialog.h"
#include "support/ImageGen.h"

namespace tarnvale::gui {
namespace {

using test::Bar;
using test::Child;
using test::ListTexts;
using test::Text;

const std::string kElapsed = R"(\d+ Min\. \d+ Sec\.)";

::testing::AssertionResult Matches(const std::string& text, const std::string& pattern) {
  if (std::regex_match(text, std::regex(pattern))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << '"' << text << "\" does not match " << pattern;
}

// What the programming dialog shows, field after field:
// title|file|last modified|erase time|program time|status|run box|bar|exit.
std::string Shown(CLoadMemoryDialog& d) {
  QStringList f{d.windowTitle()};
  for (const char* n : {"fileName", "lastModified", "eraseTime", "programTime", "status"}) f << Text(d, n);
  f << (Child<QCheckBox>(d, "runOnCompletion")->isHidden() ? "no run box" : "run box") << Bar(d)
    << (Child<QPushButton>(d, "exit")->isEnabled() ? "exit on" : "exit off");
  return f.join('|').toStdString();
}

using FrameOnSim = test::FrameOnSim;

// "Flash RQ700 Series" from the menu to "Success": the file and the MAC
// question go through the operator, the dialog erases and programs, takes
// no keys or clicks while it works, shows its final texts and closes
// on "Exit".
TEST(FlashDialogs, FlashRQ700SeriesProgramsTheControllerThroughTheProgrammingDialog) {
  FrameOnSim f({"--erase-ms", "400", "--baud", "115200", "--serial", "SN7731"});
  test::FmfSpec recipe;
  recipe.generation = 4;
  recipe.version = "4.57.05";  // old enough for the MAC question
  recipe.codeBytes = 6000;
  const auto fmf = f.dir / "g4.FMF";
  test::WriteFmf(fmf, recipe);
  f.op.openFile = fmf.string();
  f.op.answers = {true};

  std::set<QString> statusesWhileRunning;
  bool triedToLeave = false, stayedOpenWhileRunning = true;
  std::string end;
  test::DialogScript<CLoadMemoryDialog> script([&](CLoadMemoryDialog& d) {
    auto* exit = Child<QPushButton>(d, "exit");
    if (d.RunInProgress()) {
      statusesWhileRunning.insert(Text(d, "status"));
      if (!triedToLeave && !Text(d, "status").isEmpty()) {
        triedToLeave = true;
        // Typed keys and clicks are held back (Escape and the close box
        // are "Stop", tried in LongRunsTest).
        QTest::keyClick(&d, Qt::Key_Return);
        QTest::keyClick(&d, 'x');
        QTest::mouseClick(exit, Qt::LeftButton);
        stayedOpenWhileRunning = d.isVisible();
      }
      return false;
    }
    end = Shown(d);
    QTest::mouseClick(exit, Qt::LeftButton);
    return true;
  });
  EXPECT_TRUE(f.frame->RunCommand(cmd::kFlashRQ700));
  EXPECT_FALSE(script.TimedOut());
  ASSERT_FALSE(end.empty()) << "the programming dialog never finished";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // "Exit" closed it
  EXPECT_TRUE(triedToLeave);
  EXPECT_TRUE(stayedOpenWhileRunning);
  EXPECT_TRUE(statusesWhileRunning.count("Erasing Flash Memory...Please wait, this could take several seconds"));
  // The bar's range is the image's records, all written; only a RAM load
  // can start the program.
  EXPECT_TRUE(Matches(end, R"(Program Flash Memory\|g4\.FMF\|\d\d/\d\d/\d{4}  @  \d\d:\d\d:\d\d [AP]M\|)" + kElapsed +
                               R"(\|)" + kElapsed +
                               R"(\|(\d{3,}) Records successfully written!\|no run box\|\1/\1\|exit on)"));

  EXPECT_EQ(f.op.questions.size(), 1u);
  const auto messages = f.op.MessageTexts();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Success");
  // The command is over: the terminal polls again.
  EXPECT_TRUE(f.frame->TerminalView()->IsPolling());
}

// "Verify after programming", ticked while the erase runs, reads back what
// was programmed: a weak cell fails the run with its address and the count,
// and the choice is remembered, so the next flash verifies unasked and ends
// with "Verified N bytes".
TEST(FlashDialogs, VerifyAfterProgrammingIsRememberedAndNamesAWeakCell) {
  // The weak cell is the simulator's third program packet: the first run's.
  FrameOnSim f({"--erase-ms", "1500", "--fault", "weak-cell:3"});  // time to tick the box
  test::FmfSpec recipe;
  recipe.version = "5.01.00";
  recipe.codeBytes = 2000;
  const auto fmf = f.dir / "v.FMF";
  test::WriteFmf(fmf, recipe);
  f.op.openFile = fmf.string();
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "weak cell" : "second run");
    bool checkedAtOpen = false, seen = false;
    test::DialogScript<CLoadMemoryDialog> script([&](CLoadMemoryDialog& d) {
      auto* verify = Child<QCheckBox>(d, "verify");
      if (!seen) {
        seen = true;
        checkedAtOpen = verify != nullptr && verify->isChecked();
        if (verify != nullptr && !verify->isChecked()) QTest::mouseClick(verify, Qt::LeftButton);
      }
      if (d.RunInProgress()) return false;
      Child<QPushButton>(d, "exit")->click();
      return true;
    });
    EXPECT_TRUE(f.frame->RunCommand(cmd::kFlashRQ700));
    EXPECT_FALSE(script.TimedOut());
    EXPECT_EQ(checkedAtOpen, !first);  // the second run remembers the first's choice
    const auto messages = f.op.MessageTexts();
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(Matches(messages.back(),
                        first ? R"(Verify failed at 0x03[0-9A-F]{6}: expected 0x[0-9A-F]{2}, read 0x[0-9A-F]{2}; 1 of \d+ bytes differ)"
                              : R"(Verified \d+ bytes)"));
  }
}

// "Load" puts a HEX image into the controller's RAM without erasing; the
// "run on completion" box, the one control that takes clicks during the run,
// starts the program after the last packet.
TEST(FlashDialogs, LoadTakesTheRunBoxWhileItStreams) {
  FrameOnSim f({"--range", "00002000:000027FF", "--baud", "115200"});
  const auto hex = f.dir / "ram.HEX";
  test::WriteHexImage(hex, 0x2000, test::PseudoRandomBytes(2048, 7));
  f.op.openFile = hex.string();

  std::string load;
  bool clickedWhileRunning = false, checkedByClick = false;
  test::DialogScript<CLoadMemoryDialog> loadScript([&](CLoadMemoryDialog& d) {
    auto* runBox = Child<QCheckBox>(d, "runOnCompletion");
    if (d.RunInProgress()) {
      if (!Text(d, "status").startsWith("Records")) return false;  // the stream is under way
      if (!clickedWhileRunning) QTest::mouseClick(runBox, Qt::LeftButton);
      clickedWhileRunning = true;
      checkedByClick = checkedByClick || runBox->isChecked();
      return false;
    }
    load = Shown(d);
    QTest::keyClick(&d, Qt::Key_Escape);  // leaves once the run is over
    return true;
  });
  EXPECT_TRUE(f.frame->RunCommand(cmd::kLoad));
  EXPECT_FALSE(loadScript.TimedOut());
  EXPECT_TRUE(clickedWhileRunning);
  EXPECT_TRUE(checkedByClick);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(Matches(load, R"(Load Memory\|ram\.HEX\|[^|]*\|N/A\|[^|]*\|)"
                            R"(\d+ Records successfully written!\|run box\|.*)"));
  EXPECT_EQ(f.op.MessageTexts(), std::vector<std::string>{"Success"});
  // Without a start record the program starts at the image base, 0 here.
  auto started = [&] {
    const std::string simLog = test::Slurp(f.log);
    const auto endPacket = simLog.find("packet type=01");
    return endPacket != std::string::npos && simLog.find("run 00000000 awaiting=0", endPacket) != std::string::npos;
  };
  EXPECT_TRUE(test::PumpUntil(started)) << test::Slurp(f.log);
}

// A dump whose line goes unanswered ends with "Retry" and "OK" enabled;
// "Retry" reads the range again from its start and the file is saved. (What
// a failed dump keeps and says is the read-back model's business.)
TEST(FlashDialogs, DumpRetryAfterASilentLineReadsAgainFromTheStart) {
  test::FrameOnPty f;
  const auto bin = test::MakeTempDir("retry") / "retry.Bin";
  std::atomic<int> run{1}, firstLineRequests{0};
  test::FakeDevice device(f.pty, [&](const test::SeenPacket& p) -> std::string {
    if (p.type == 0x10) return "00000100 0000013F 00000040\n\r";
    if (p.type == 0x04) return "0\n\r";
    if (p.type != 0x11 || p.address < 0x100 || p.address >= 0x140) return "E";
    if (p.address == 0x100) ++firstLineRequests;
    if (run.load() == 1 && p.address == 0x110) return {};  // silence: the line times out
    return "00000010:" + std::string(32, 'A') + "\n\r";
  });
  f.op.saveFile = bin.string();
  QString buttonsAfterFailure;
  test::DialogScript<CMemoryReadDialog> script([&](CMemoryReadDialog& d) {
    auto* ok = Child<QPushButton>(d, "ok");
    auto* retry = Child<QPushButton>(d, "retry");
    if (d.ReadInProgress()) return false;
    const QString list = ListTexts(d).join('\n');
    if (run.load() == 1 && list.contains("Memory Dump Aborted Unexpectedly")) {
      run = 2;
      buttonsAfterFailure = QString("ok %1 retry %2, ").arg(ok->isEnabled()).arg(retry->isEnabled());
      QTest::mouseClick(retry, Qt::LeftButton);
      buttonsAfterFailure += QString("retry %1 after its click").arg(retry->isEnabled());
      return false;
    }
    if (run.load() != 2 || !list.contains("File saved to")) return false;
    QTest::mouseClick(ok, Qt::LeftButton);
    return true;
  });
  EXPECT_TRUE(f.frame->RunCommand(cmd::kDumpRQ700Memory));
  EXPECT_FALSE(script.TimedOut());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(buttonsAfterFailure, "ok 1 retry 1, retry 0 after its click");
  EXPECT_EQ(firstLineRequests.load(), 2);  // the second read began at the start again
  EXPECT_EQ(test::Slurp(bin).size(), 0x140u);
}

// Mended deadlock: "OK" pressed the moment it is enabled. The reading thread
// still has its last progress event to deliver, and closing must take it
// rather than wait for a thread that is waiting for the dialog.
TEST(FlashDialogs, OkRightAfterTheDoneMessageCollectsTheReadingThread) {
  test::FrameOnPty f;
  const auto bin = test::MakeTempDir("ok") / "ok.Bin";
  test::FakeDevice device(f.pty, [](const test::SeenPacket& p) -> std::string {
    if (p.type == 0x10) return "00000000 0000001F 00000020\n\r";
    if (p.type == 0x04) return "0\n\r";
    if (p.type == 0x11) return "00000010.A5\n\r";
    return "E";
  });
  f.op.saveFile = bin.string();

  // Clicks "OK" from the event queue as soon as the done message enables it.
  struct ClickWhenEnabled : QObject {
    bool clicked = false;
    bool eventFilter(QObject* watched, QEvent* e) override {
      auto* ok = qobject_cast<QPushButton*>(watched);
      if (ok != nullptr && e->type() == QEvent::EnabledChange && ok->isEnabled() && !clicked) {
        clicked = true;
        QTimer::singleShot(0, ok, [ok] {
          QThread::msleep(50);  // by now the reading thread waits on its last progress event
          ok->click();
        });
      }
      return false;
    }
  } clicker;
  test::DialogScript<CMemoryReadDialog> script([&](CMemoryReadDialog& d) {
    Child<QPushButton>(d, "ok")->installEventFilter(&clicker);
    return true;
  });
  EXPECT_TRUE(f.frame->RunCommand(cmd::kDumpRQ700Memory));
  EXPECT_FALSE(script.TimedOut());
  EXPECT_TRUE(clicker.clicked);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(test::Slurp(bin), std::string(0x20, '\xA5'));
}

}  // namespace
}  // namespace tarnvale::gui
