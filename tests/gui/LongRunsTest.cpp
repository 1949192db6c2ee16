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

int Lines(CMemoryReadDialog& d) { return static_cast<int>(test::ListTexts(d).size()); }

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
          if (Lines(d) < 1) return false;
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

// A dialog with controls of its own keeps them under the run view: the
// dialog's bar keeps its own range and shows the share of the run's Total
// done on it (a successful finish fills it, a failed one leaves the count),
// no phase line, the run's warnings below, and the dialog's own texts posted
// from the run's thread shown in order with the run's events.
TEST(LongRuns, TheRunViewDrawsAScriptedRunOnTheDialogsOwnBar) {
  struct Case {
    const char* name;
    std::function<void(RunReporter&, RunProgressView&, std::vector<std::string>&)> run;
    QString bar;  // value/maximum of a 0-200 bar once the run has been shown
    std::vector<std::string> posted;
    QStringList warnings;
  };
  // A posted text notes the bar as it stands when the text is shown.
  auto note = [](RunProgressView& view, std::vector<std::string>& posted, const char* text) {
    view.Post([&view, &posted, text] {
      posted.push_back(QString("%1 at %2").arg(text, test::Bar(view)).toStdString());
    });
  };
  const Case cases[] = {
      {"a read that succeeds fills the bar in its own units",
       [&](RunReporter& r, RunProgressView& v, std::vector<std::string>& p) {
         r.Phase("Reading");
         r.Total(40, 640);
         note(v, p, "first line");
         r.Progress(10, 160);
         note(v, p, "second line");
         r.Progress(30, 480);
         r.Warning("the box paused");
         r.Finish(rc::kSuccess);
         note(v, p, "saved");
       },
       "200/200", {"first line at 0/200", "second line at 50/200", "saved at 200/200"}, {"the box paused"}},
      {"a failed run keeps its count; a count past the total is shown full",
       [&](RunReporter& r, RunProgressView& v, std::vector<std::string>& p) {
         r.Total(20, 0);
         r.Progress(30, 0);
         note(v, p, "too far");
         r.Finish(rc::kTimeout);
       },
       "200/200", {"too far at 200/200"}, {}},
      {"a new phase starts its count again",
       [&](RunReporter& r, RunProgressView& v, std::vector<std::string>& p) {
         r.Total(8, 0);
         r.Progress(8, 0);
         r.Phase("Verifying");
         note(v, p, "verify");
         r.Finish(rc::kDataMismatch);
       },
       "0/200", {"verify at 0/200"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget dialog;
    auto* bar = new QProgressBar(&dialog);
    bar->setObjectName("progress");
    bar->setRange(0, 200);
    auto* view = new RunProgressView(&dialog);
    view->UseBar(bar);
    view->ShowPhaseLine(false);
    std::vector<int> finished;
    QObject::connect(view, &RunProgressView::Finished, [&](int code) { finished.push_back(code); });
    view->Begin();
    std::vector<std::string> posted;
    std::thread run([&] {
      RunReporter report(*view);
      c.run(report, *view, posted);
    });
    run.join();
    EXPECT_TRUE(posted.empty()) << "nothing shown before the window's turn";
    ASSERT_TRUE(test::PumpUntil([&] { return !finished.empty(); }));
    test::Pump(20);
    EXPECT_EQ(finished.size(), 1u);
    EXPECT_EQ(test::Bar(dialog), c.bar);
    EXPECT_EQ(posted, c.posted);
    EXPECT_EQ(view->Warnings(), c.warnings);
    EXPECT_EQ(dialog.findChildren<QProgressBar*>().size(), 1) << "the view's own bar gave way";
    EXPECT_TRUE(view->findChild<QLabel*>("runText")->isHidden());
    EXPECT_FALSE(view->findChild<QPushButton*>("stop")->isEnabled());
  }
}

// The read-back dialog shows a reader's scripted events through the run
// view: the bar and "Stop" from the run, the list from the model, in the
// order the reader told them.
TEST(LongRuns, TheReadBackDialogShowsAScriptedReaderThroughTheRunView) {
  using Script = std::function<void(MemoryReadEvents&)>;
  struct Case {
    const char* name;
    Script reader;  // over the range 0x1000-0x1FFF
    ResultCode result;
    QString bar;
    QStringList list;
  };
  const Case cases[] = {
      {"a box read without a range of its own",
       [](MemoryReadEvents& e) {
         e.OnProgress(0, 0x1000);
         e.OnLine("1000: FF FF");
         e.OnProgress(50, 0x1800);
         e.OnLine("1800: 12 34");
         e.OnDone(rc::kSuccess, 0x2000);
         e.OnProgress(100, 0x2000);
       },
       rc::kSuccess, "100/100", {"1000: FF FF", "1800: 12 34"}},
      {"a read with its range that fails mid-way",
       [](MemoryReadEvents& e) {
         e.OnRange(40);
         e.OnStep(4);
         e.OnProgress(10, 0x1400);
         e.OnLine("record 1");
         e.OnDone(rc::kTimeout, 0);
       },
       rc::kTimeout, "10/40", {"record 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryReadRequest request;
    request.target = Target::Pic18F252;  // read by its own reader, not the dump
    request.start = 0x1000;
    request.end = 0x1FFF;
    std::atomic<bool> told{false};
    request.reader = [&](const MemoryReadRequest&, MemoryReadEvents& e, const std::atomic<bool>&) {
      c.reader(e);
      told = true;
    };
    test::RecordingOperator op;
    CMemoryReadDialog dialog(request, op);
    QString bar;
    QStringList list;
    bool stopOn = true;
    test::DialogScript<CMemoryReadDialog> script([&](CMemoryReadDialog& d) {
      if (!told || d.ReadInProgress()) return false;
      bar = test::Bar(d);
      list = test::ListTexts(d);
      stopOn = d.findChild<QPushButton*>("stop")->isEnabled();
      d.findChild<QPushButton*>("ok")->click();
      return true;
    });
    EXPECT_EQ(dialog.Run(), c.result);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_EQ(bar.toStdString(), c.bar.toStdString());
    EXPECT_EQ(list.join('\n').toStdString(), c.list.join('\n').toStdString());
    EXPECT_FALSE(stopOn) << "a finished read has nothing to stop";
    EXPECT_EQ(dialog.findChildren<QPushButton*>("stop").size(), 1);
  }
}

// The programming dialog draws its run through the run view: the bar keeps
// the dialog's range (the image's records) and fills as the controller
// acknowledges them, a hundred records per step for a controller, whole
// after the last one; a refusal closes the dialog by itself and leaves the
// bar at the last step reached, and "Stop" is off once the run has ended
// either way.
TEST(LongRuns, TheProgrammingDialogFillsItsOwnBarFromTheRun) {
  const auto fmf = test::MakeTempDir("guiprogbar") / "bar.FMF";
  test::FmfSpec recipe;
  recipe.codeBytes = 20000;
  test::WriteFmf(fmf, recipe);
  const struct {
    const char* name;
    int refuseAt;  // the record answered 'D' instead of '0'; 0: none
    ResultCode result;
    int bar;  // -1: full
  } cases[] = {
      {"every record acknowledged", 0, rc::kSuccess, -1},
      {"refused at record 250", 250, 'D', 200},
      {"refused before the first step", 99, 'D', 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int records = 0;
    ProgrammingOnFake run(fmf, [&](const test::SeenPacket& p) -> std::string {
      return p.type != 0x06 && ++records == c.refuseAt ? "D" : "0";
    });
    CLoadMemoryDialog& dialog = *run.dialog;
    test::DialogScript<CLoadMemoryDialog> script([&](CLoadMemoryDialog& d) {
      if (d.RunInProgress() || c.result != rc::kSuccess) return false;
      test::Child<QPushButton>(d, "exit")->click();
      return true;
    });
    EXPECT_EQ(dialog.Run(), c.result);
    EXPECT_FALSE(script.TimedOut());
    EXPECT_EQ(run.op.MessageTexts(),
              std::vector<std::string>{c.result == rc::kSuccess ? "Success" : "Data Mis-match"});
    const auto* bar = test::Child<QProgressBar>(dialog, "progress");
    ASSERT_GT(bar->maximum(), 250) << "the refusals come mid-way";
    EXPECT_EQ(bar->value(), c.bar < 0 ? bar->maximum() : c.bar);
    if (c.result == rc::kSuccess) {
      EXPECT_EQ(test::Text(dialog, "status").toStdString(), RecordsWrittenText(bar->maximum()))
          << "the bar's range is the image's records";
    }
    EXPECT_FALSE(test::Child<QPushButton>(dialog, "stop")->isEnabled());
    EXPECT_EQ(dialog.findChildren<QPushButton*>("stop").size(), 1);
  }
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
