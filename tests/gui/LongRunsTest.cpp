// Long runs in the desktop application, offscreen: every run a person can
// start from a progress dialog can be stopped by "Stop", Escape or the close
// box; it ends with rc::kStoppedByProgram, what was done is kept under the
// partial name, a file already under the chosen name is left as it was, and
// the dialog goes without hanging.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "GuiSupport.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/Workflows.h"
#include "core/programmer/BootFlash.h"
#include "core/protocol/Util.h"
#include "flash/FakeDevice.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/backup/CDataBackup.h"
#include "e2e/Processes.h"
#include "gui/flash/CMemoryReadDialog.h"
#include "gui/flash/QtJobRunner.h"
#include "support/SimBox.h"
#include "support/TestEnv.h"

namespace tarnvale::gui {
namespace {

enum class StopBy { Button, Escape, CloseBox };

const char* Name(StopBy how) {
  switch (how) {
    case StopBy::Button: return "Stop";
    case StopBy::Escape: return "Escape";
    case StopBy::CloseBox: return "close box";
  }
  return "?";
}

void StopDialog(QDialog& d, StopBy how) {
  switch (how) {
    case StopBy::Button: d.findChild<QPushButton*>("stop")->click(); break;
    case StopBy::Escape: QTest::keyClick(&d, Qt::Key_Escape); break;
    case StopBy::CloseBox: d.close(); break;
  }
}

std::uintmax_t SizeOf(const std::filesystem::path& p) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(p, ec);
  return ec ? 0 : n;
}

// A device that answers only after 3 s: the window's event loop goes on the
// whole time. The device's answer is sent by a timer of the GUI thread after
// 300 ticks of 10 ms, so a blocked event loop would never let it answer and
// the wait would end with its (generous) time-out instead.
TEST(LongRuns, TheEventLoopRunsWhileACommandWaitsForTheDevice) {
  test::FrameOnPty f;
  CMainFrame& frame = *f.frame;
  CommPort* port = frame.Link().PrimaryPort();
  ASSERT_NE(port, nullptr);
  int ticks = 0;
  bool busyShown = true, othersRefused = true, closeRefused = true;
  QTimer device;
  device.setInterval(10);
  QObject::connect(&device, &QTimer::timeout, [&] {
    if (++ticks == 150) {
      // Half-way: what a person sees and may do while the command waits.
      busyShown = frame.findChild<QLabel*>("pleaseWait")->isVisible() && !frame.menuBar()->isEnabled();
      othersRefused = !frame.RunCommand(cmd::kClearView);
      frame.close();
      closeRefused = frame.isVisible();
    }
    if (ticks == 300) f.pty.Send("0");
  });
  frame.show();
  device.start();
  ResultCode code = rc::kTimeout;
  frame.RunDeviceCommand([&] { code = WaitStatusByte(*port, 60000); });
  device.stop();
  EXPECT_EQ(code, rc::kSuccess);
  EXPECT_GE(ticks, 300);
  EXPECT_TRUE(busyShown);
  EXPECT_TRUE(othersRefused);
  EXPECT_TRUE(closeRefused);
  // Afterwards the window is as before.
  EXPECT_FALSE(frame.findChild<QLabel*>("pleaseWait")->isVisible());
  EXPECT_TRUE(frame.menuBar()->isEnabled());
  EXPECT_TRUE(frame.RunCommand(cmd::kClearView));
}

// One read-back run: starts it, and stops it once `started` says some of it
// was done. Returns the run's result.
struct ReadRun {
  const char* name;
  // Runs the read through the runner; `out` is the file it writes.
  std::function<ResultCode(JobRunner&, Operator&, const std::filesystem::path& out)> run;
  std::function<bool(CMemoryReadDialog&)> started;
};

int Lines(CMemoryReadDialog& d) { return d.findChild<QListWidget*>("messages")->count(); }

TEST(LongRuns, EveryReadBackStopsKeepingWhatWasReadAndLeavingTheOldFile) {
  test::PtyPair pty;
  // A controller with 64 KB that answers each line after 5 ms: the whole
  // dump would take 20 s, so every stop below comes in its middle.
  test::FakeDevice controller(
      pty,
      [](const test::SeenPacket& p) -> std::string {
        if (p.type == 0x10) return "00000000 0000FFFF 00000040\n\r";
        if (p.type == 0x04) return "0\n\r";
        if (p.type != 0x11) return "E";
        return "00000010:" + std::string(32, 'A') + "\n\r";
      },
      5);
  CommPort controllerPort;
  ASSERT_TRUE(controllerPort.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));

  sim::BoxOptions silentBox;
  silentBox.readStopAfter = 10;  // then silent: the reader would wait 60 s
  test::SimBox box(silentBox);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386), '0');

  const ReadRun reads[] = {
      {"memory dump",
       [&](JobRunner& runner, Operator&, const std::filesystem::path& out) {
         MemoryReadRequest r;
         r.port = &controllerPort;
         r.start = 0;
         r.end = 0xFFFF;
         r.path = out.string();
         return runner.RunMemoryRead(r);
       },
       [](CMemoryReadDialog& d) {
         const QString saved = d.findChild<QLabel*>("field1")->text();
         return saved.contains("bytes saved") && !saved.startsWith("0 of");
       }},
      {"boot flash read-back",
       [&](JobRunner& runner, Operator& op, const std::filesystem::path& out) {
         BootOptions o;
         o.boardConfirmed = true;
         o.readSettleMs = 0;
         o.box.recordSilenceMs = 60000;
         o.outputPath = out.string();
         return ReadBootFlashWith(box.Port(), [] { return rc::kSuccess; }, op, runner, 'D', nullptr, o);
       },
       [](CMemoryReadDialog& d) { return Lines(d) >= 16; }},
  };
  const auto dir = test::MakeTempDir("guistop");
  int n = 0;
  for (const ReadRun& read : reads) {
    for (const StopBy how : {StopBy::Button, StopBy::Escape, StopBy::CloseBox}) {
      SCOPED_TRACE(std::string(read.name) + " stopped by " + Name(how));
      const auto out = dir / ("read" + std::to_string(n++) + ".out");
      test::WriteFileBytes(out, "old");
      test::RecordingOperator op;
      QtJobRunner runner(nullptr, op);
      bool stopped = false;
      test::DialogScript<CMemoryReadDialog> script([&](CMemoryReadDialog& d) {
        if (!d.ReadInProgress() || !read.started(d)) return false;
        EXPECT_TRUE(d.findChild<QPushButton*>("stop")->isEnabled());
        StopDialog(d, how);
        stopped = true;
        return true;
      });
      EXPECT_EQ(read.run(runner, op, out), rc::kStoppedByProgram);
      EXPECT_FALSE(script.TimedOut());
      EXPECT_TRUE(stopped);
      EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
      EXPECT_EQ(test::ReadFileBytes(out), "old");
      EXPECT_GT(SizeOf(out.string() + ".partial"), 0u);
      // Let the box's last records drain before the next run asks again.
      box.Port().Purge();
      controllerPort.Purge();
    }
  }
}

// A backup save or load of every section with a controller on a slow line,
// stopped once its first section is through: the report says the run was
// stopped; a save leaves the file under the chosen name unwritten with what
// was gathered in its ".partial". Escape and the close box also close the
// dialog; "Stop" leaves it open for another run.
TEST(LongRuns, ABackupSaveOrLoadStopsKeepingWhatWasGathered) {
  const auto dir = test::MakeTempDir("guibackupstop");
  const std::string backupFile = (dir / "other.xml").string();
  {
    test::SimProcess other({"--pty", "--seed", "5"}, dir, "rq750");
    const auto r = test::RunCommand({TARNVALE_CLI_PATH, "backup", "save", backupFile, "--port", other.Port()}, dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  test::SimProcess sim({"--pty", "--baud", "9600"}, dir, "rq750");
  int n = 0;
  for (const bool load : {false, true}) {
    for (const StopBy how : {StopBy::Button, StopBy::Escape, StopBy::CloseBox}) {
      SCOPED_TRACE(std::string(load ? "load" : "save") + " stopped by " + Name(how));
      test::RecordingOperator op;
      ConfigData settings;
      test::SaveFreshSettings(settings, sim.Port());
      CMainFrame frame(settings, &op);
      const auto path = dir / ("save" + std::to_string(n++) + ".xml");
      op.saveFile = path.string();
      op.openFile = backupFile;
      op.answers = {true};  // the load's question
      int stage = 0;
      test::DialogScript<CDataBackup> script(
          [&](CDataBackup& d) {
            if (stage == 0) {
              for (auto* box : d.findChildren<QCheckBox*>()) box->setChecked(true);
              for (auto* b : d.findChildren<QPushButton*>()) {
                if (b->text() == (load ? "Load Data" : "Save Data")) b->click();
              }
              stage = 1;
              return false;
            }
            if (stage == 1) {
              // A load reads the controller first; it is stopped while sending.
              if (load && op.questions.empty()) return false;
              if (!d.Busy() || !d.ProgressText().contains(" done")) return false;
              StopDialog(d, how);
              stage = 2;
              return false;
            }
            if (d.Busy()) return false;
            EXPECT_EQ(how, StopBy::Button);
            d.done(QDialog::Accepted);
            return true;
          },
          60000);
      ASSERT_TRUE(frame.RunCommand(cmd::kDataBackup));
      EXPECT_FALSE(script.TimedOut());
      EXPECT_EQ(stage, 2);
      EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
      ASSERT_FALSE(op.messages.empty());
      EXPECT_NE(op.messages.back().text.find("stopped"), std::string::npos) << op.messages.back().text;
      if (!load) {
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_GT(SizeOf(path.string() + ".partial"), 0u);
      }
    }
  }
}

}  // namespace
}  // namespace tarnvale::gui
