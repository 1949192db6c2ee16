// Long runs in the desktop application, offscreen: every run a person can
// start from a progress dialog can be stopped by "Stop", Escape or the close
// box; it ends with rc::kStoppedByProgram, what was done is kept under the
// partial name, a file already under the chosen name is left as it was, and
// the dialog goes without hanging.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <chrono>
#include <thread>

#include "GuiSupport.h"
#include "core/backup/DataBackupModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/Workflows.h"
#include "core/programmer/BootFlash.h"
#include "core/protocol/Util.h"
#include "flash/FakeDevice.h"
#include "gui/backup/CDataBackup.h"
#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/flash/CMemoryReadDialog.h"
#include "gui/flash/QtJobRunner.h"
#include "gui/ui/RunProgressView.h"
#include "support/ImageGen.h"
#include "support/SimBox.h"

namespace tarnvale::gui {
namespace {

enum class StopBy { Button, Escape, CloseBox };

const char* Name(StopBy how) {
  return how == StopBy::Button ? "Stop" : how == StopBy::Escape ? "Escape" : "close box";
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

// The programming dialog for `fmf` on a scripted controller.
struct ProgrammingOnFake {
  ProgrammingOnFake(const std::filesystem::path& fmf, test::FakeDevice::Handler answer,
                    int mode = kModeProgramFlash, int replyDelayMs = 0)
      : controller(pty, std::move(answer), replyDelayMs) {
    EXPECT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
    request.port = &port;
    request.mode = mode;
    request.path = fmf.string();
    dialog = std::make_unique<CLoadMemoryDialog>(request, op);
  }
  test::PtyPair pty;
  test::FakeDevice controller;
  CommPort port;
  test::RecordingOperator op;
  ProgrammingRequest request;
  std::unique_ptr<CLoadMemoryDialog> dialog;
};

// The device's answer is sent by a timer of the GUI thread after 40 ticks,
// so a blocked event loop would never let it answer and the wait would end
// with its (generous) time-out instead.
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
    if (++ticks == 20) {
      // Half-way: what a person sees and may do while the command waits.
      busyShown = frame.findChild<QLabel*>("pleaseWait")->isVisible() && !frame.menuBar()->isEnabled();
      othersRefused = !frame.RunCommand(cmd::kClearView);
      frame.close();
      closeRefused = frame.isVisible();
    }
    if (ticks == 40) f.pty.Send("0");
  });
  frame.show();
  device.start();
  ResultCode code = rc::kTimeout;
  frame.RunDeviceCommand([&] { code = WaitStatusByte(*port, 60000); });
  device.stop();
  EXPECT_EQ(code, rc::kSuccess);
  EXPECT_GE(ticks, 40);
  EXPECT_TRUE(busyShown);
  EXPECT_TRUE(othersRefused);
  EXPECT_TRUE(closeRefused);
  // Afterwards the window is as before.
  EXPECT_FALSE(frame.findChild<QLabel*>("pleaseWait")->isVisible());
  EXPECT_TRUE(frame.menuBar()->isEnabled());
  EXPECT_TRUE(frame.RunCommand(cmd::kClearView));
}

// A flash programmed through its dialog, stopped in the erase (a controller
// that would keep it waiting six minutes) and in the stream (one that
// answers each packet late), and a RAM load stopped in its stream: the run
// ends with rc::kStoppedByProgram, the dialog closes by itself, and nothing
// more reaches the controller. The erase wait runs off the GUI thread: the
// script, a timer of that thread, stops it only after ticking 30 times in it.
TEST(LongRuns, TheProgrammingRunStopsInTheEraseAndInTheStream) {
  const auto fmf = test::MakeTempDir("guiprogstop") / "stop.FMF";
  test::FmfSpec recipe;
  recipe.codeBytes = 60000;
  test::WriteFmf(fmf, recipe);
  const struct {
    const char* phase;
    bool answersErase;
    int mode;
    StopBy how;
  } cases[] = {
      {"erase", false, kModeProgramFlash, StopBy::Button},
      {"stream", true, kModeProgramFlash, StopBy::Escape},
      {"RAM load", true, kModeLoad, StopBy::CloseBox},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.phase) + " stopped by " + Name(c.how));
    auto answer = [&c](const test::SeenPacket& p) -> std::string {
      return p.type != 0x06 || c.answersErase ? "0" : "";
    };
    ProgrammingOnFake run(fmf, answer, c.mode, 5);
    const test::FakeDevice& controller = run.controller;
    int ticksWhileErasing = 0;
    std::size_t packetsAtStop = 0;
    test::DialogScript<CLoadMemoryDialog> script([&](CLoadMemoryDialog& d) {
      if (!d.RunInProgress()) return false;
      const QString status = test::Text(d, "status");
      if (status.startsWith("Erasing Flash")) ++ticksWhileErasing;
      // Past the first record, or 30 ticks into the erase with its packet at
      // the controller (so the count below is the whole of what it got).
      const bool now = c.answersErase ? status.startsWith("Records ") && !status.startsWith("Records 0 ")
                                      : ticksWhileErasing >= 30 && !controller.Packets().empty();
      if (!now) return false;
      StopDialog(d, c.how);
      packetsAtStop = controller.Packets().size();
      return true;
    });
    EXPECT_EQ(run.dialog->Run(), rc::kStoppedByProgram);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_GT(packetsAtStop, 0u);
    EXPECT_FALSE(run.dialog->isVisible());
    EXPECT_TRUE(run.op.messages.empty()) << "a stop is no failure to report";
    // At most the window still on its way when the stop came, and the
    // packet being written.
    EXPECT_LE(controller.Packets().size(), packetsAtStop + 4);
    if (!c.answersErase) {
      EXPECT_EQ(controller.Packets().size(), 1u) << "nothing after the erase packet";
    }
  }
}

// The read-back dialog's three ways to stop a read; how each reader keeps
// what it read under the partial name is the core's own business.
TEST(LongRuns, AReadBackStopsKeepingWhatWasReadAndLeavingTheOldFile) {
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

  const auto dir = test::MakeTempDir("guistop");
  int n = 0;
  for (const StopBy how : {StopBy::Button, StopBy::Escape, StopBy::CloseBox}) {
    SCOPED_TRACE(std::string("stopped by ") + Name(how));
    const auto out = dir / ("read" + std::to_string(n++) + ".out");
    test::WriteFileBytes(out, "old");
    test::RecordingOperator op;
    QtJobRunner runner(nullptr, op);
    bool stopped = false;
    test::DialogScript<CMemoryReadDialog> script([&](CMemoryReadDialog& d) {
      const QString saved = test::Text(d, "field1");
      if (!d.ReadInProgress() || !saved.contains("bytes saved") || saved.startsWith("0 of")) return false;
      EXPECT_TRUE(d.findChild<QPushButton*>("stop")->isEnabled());
      StopDialog(d, how);
      stopped = true;
      return true;
    });
    MemoryReadRequest r;
    r.port = &controllerPort;
    r.start = 0;
    r.end = 0xFFFF;
    r.path = out.string();
    EXPECT_EQ(runner.RunMemoryRead(r), rc::kStoppedByProgram);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_TRUE(stopped);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(test::ReadFileBytes(out), "old");
    EXPECT_GT(SizeOf(out.string() + ".partial"), 0u);
    controllerPort.Purge();  // the last lines drain before the next run asks again
  }
}

// The GUI's boot flash read goes at the wire's pace, as the CLI's does: its
// reader never waits for the window except with its result. Here the GUI
// thread is held from the first line shown until the reader has read the
// whole flash and saved the file; a reader that waited on the window for
// its lines (4096 of them) would stall with the pty full and never get there.
TEST(LongRuns, TheBootFlashReadGoesAtTheWiresPaceWhateverTheWindowDoes) {
  test::SimBox box;
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386), '0');
  const auto out = test::MakeTempDir("guipace") / "boot.txt";
  test::RecordingOperator op;
  QtJobRunner runner(nullptr, op);
  bool held = false, readWhileHeld = false;
  test::DialogScript<CMemoryReadDialog> script(
      [&](CMemoryReadDialog& d) {
        if (!held) {
          if (test::ListTexts(d).isEmpty()) return false;
          // Held: no events are handled until the file is there (or the guard).
          held = true;
          const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < guard) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          readWhileHeld = std::filesystem::exists(out);
          return false;
        }
        auto* ok = d.findChild<QPushButton*>("ok");
        if (d.ReadInProgress() || !ok->isEnabled()) return false;
        ok->click();
        return true;
      },
      90000);
  BootOptions o;
  o.boardConfirmed = true;
  o.readSettleMs = 0;
  o.box.recordSilenceMs = 5000;
  o.outputPath = out.string();
  EXPECT_EQ(ReadBootFlashWith(box.Port(), [] { return rc::kSuccess; }, op, runner, 'D', nullptr, o), rc::kSuccess);
  EXPECT_FALSE(script.TimedOut());
  EXPECT_TRUE(readWhileHeld);
}

// The run view hears a run from the run's own thread without holding it up:
// the run has told everything (and ended) before the window handled any of
// it; then the view shows the last count, the warning and the finish once,
// and "Stop" asks the run to stop once and only while it runs.
TEST(LongRuns, TheRunViewShowsARunToldFromItsThreadWithoutHoldingItUp) {
  RunProgressView view;
  int stops = 0;
  view.SetStop([&] { ++stops; });
  std::vector<int> finished;
  QObject::connect(&view, &RunProgressView::Finished, [&](int code) { finished.push_back(code); });
  view.Begin();
  auto* stop = view.findChild<QPushButton*>("stop");
  ASSERT_TRUE(stop->isEnabled());
  stop->click();
  stop->click();
  EXPECT_EQ(stops, 1);
  std::thread run([&] {
    RunReporter report(view);
    report.Phase("Settings");
    report.Total(9, 0);
    for (std::uint64_t i = 1; i <= 9; ++i) report.Progress(i, 0);
    report.Warning("2 records could not be carried over");
    report.Finish(rc::kStoppedByProgram);
  });
  run.join();
  EXPECT_EQ(view.Text(), "Working...") << "nothing shown before the window's turn";
  EXPECT_TRUE(test::PumpUntil([&] { return !finished.empty(); }));
  test::Pump(20);
  EXPECT_EQ(finished, std::vector<int>{rc::kStoppedByProgram});
  EXPECT_EQ(view.Text(), "Settings: 9 of 9");
  EXPECT_EQ(view.Warnings(), QStringList{"2 records could not be carried over"});
  EXPECT_FALSE(view.Running());
  EXPECT_FALSE(stop->isEnabled());
  view.Stop();
  EXPECT_EQ(stops, 1);
}

// A refusal mid-way closes the programming dialog by itself with "Stop" off
// and says what the controller refused. (The full bar of a run to "Success"
// is in FlashDialogsTest.)
TEST(LongRuns, AProgrammingRefusalClosesTheDialogAndSaysWhy) {
  const auto fmf = test::MakeTempDir("guiprogbar") / "bar.FMF";
  test::FmfSpec recipe;
  recipe.codeBytes = 20000;
  test::WriteFmf(fmf, recipe);
  int records = 0;
  ProgrammingOnFake run(fmf, [&](const test::SeenPacket& p) -> std::string {
    return p.type != 0x06 && ++records == 250 ? "D" : "0";
  });
  CLoadMemoryDialog& dialog = *run.dialog;
  // Closes a dialog that stays open (after its deadline): it should not.
  test::DialogScript<CLoadMemoryDialog> guard([](CLoadMemoryDialog&) { return false; });
  EXPECT_EQ(dialog.Run(), 'D');
  EXPECT_FALSE(guard.TimedOut());
  EXPECT_EQ(run.op.MessageTexts(), std::vector<std::string>{"Data Mis-match"});
  EXPECT_FALSE(test::Child<QPushButton>(dialog, "stop")->isEnabled());
}

// A backup save or load of every section with a controller on a slow line,
// stopped once its first section is through: the report says the run was
// stopped; a save leaves the file under the chosen name unwritten with what
// was gathered in its ".partial". Escape and the close box also close the
// dialog; "Stop" leaves it open for another run, "Close" then closes it and
// the port is given back. (How the dialog is stopped
// does not depend on the run, so each way is tried on one of them.)
TEST(LongRuns, ABackupSaveOrLoadStopsKeepingWhatWasGathered) {
  const auto dir = test::MakeTempDir("guibackupstop");
  const std::string backupFile = test::OtherControllersBackup(dir);
  test::SimProcess sim({"--pty", "--baud", "9600"}, dir, "rq750");
  int n = 0;
  for (const auto& [load, how] : {std::pair{false, StopBy::Button}, std::pair{false, StopBy::Escape},
                                  std::pair{true, StopBy::Button}, std::pair{true, StopBy::CloseBox}}) {
    SCOPED_TRACE(std::string(load ? "load" : "save") + " stopped by " + Name(how));
    test::RecordingOperator op;
    ConfigData settings;
    test::SaveFreshSettings(settings, sim.Port());
    CMainFrame frame(settings, &op);
    const auto path = dir / ("save" + std::to_string(n++) + ".xml");
    op.saveFile = path.string();
    op.openFile = backupFile;
    op.answers = {true};  // the load's question
    const auto before = backup::ReadSerialSettings(*frame.Link().PrimaryPort());
    ASSERT_TRUE(before);
    int stage = 0;
    test::DialogScript<CDataBackup> script(
        [&, load = load, how = how](CDataBackup& d) {
          if (stage == 0) {
            for (auto* box : d.findChildren<QCheckBox*>()) {
              EXPECT_FALSE(box->isChecked()) << "nothing is ticked at first";
              box->setChecked(true);
            }
            test::Button(d, load ? "Load Data" : "Save Data")->click();
            stage = 1;
            return false;
          }
          if (stage == 1) {
            // A load reads the controller first; it is stopped while sending.
            if (load && op.questions.empty()) return false;
            // The first section (Settings) is through once the next begins.
            if (!d.Busy() || !d.ProgressText().startsWith("Parts")) return false;
            // While the worker runs only "Stop" takes a click.
            EXPECT_FALSE(test::Button(d, "Close")->isEnabled());
            EXPECT_TRUE(test::Button(d, "Stop")->isEnabled());
            StopDialog(d, how);
            stage = 2;
            return false;
          }
          if (d.Busy()) return false;
          EXPECT_EQ(how, StopBy::Button);
          if (!load) {
            EXPECT_EQ(d.ProgressText().toStdString(), "The save did not complete.");
          }
          test::Button(d, "Close")->click();
          return true;
        },
        60000);
    ASSERT_TRUE(frame.RunCommand(cmd::kDataBackup));
    EXPECT_FALSE(script.TimedOut());
    EXPECT_EQ(stage, 2);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_FALSE(op.messages.empty());
    EXPECT_NE(op.messages.back().text.find("stopped"), std::string::npos) << op.messages.back().text;
    // The port is given back with its own settings.
    EXPECT_EQ(backup::ReadSerialSettings(*frame.Link().PrimaryPort())->baudRate, before->baudRate);
    if (!load) {
      EXPECT_FALSE(std::filesystem::exists(path));
      EXPECT_GT(SizeOf(path.string() + ".partial"), 0u);
    }
  }
}

}  // namespace
}  // namespace tarnvale::gui
