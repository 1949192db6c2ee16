// The CPU board test against the simulated box: a stopped pin test, RAM
// bank records, and the dialog model's button rules, runs and closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "support/SimBox.h"
#include "support/TestEnv.h"
#include "core/programmer/TestCpuModel.h"
#include "core/roles/PortRoles.h"
#include "core/protocol/Util.h"
#include "support/Pty.h"
#include "support/DirectRunner.h"
#include "support/RecordingOperator.h"

namespace tarnvale {
namespace {

using test::SimBox;

sim::BoxOptions Options(std::function<void(sim::BoxOptions&)> tweak = {}) {
  sim::BoxOptions o;
  o.ramMs = 200;
  if (tweak) tweak(o);
  return o;
}

// (The walking stages on clean and faulty boards run on the fake-clock board
// of the pin diagnosis tests.)
TEST(CpuPinTestSim, AStopAfterAStageEndsItAsStoppedWithNothingMoreReported) {
  struct StopAfter : CpuPinTestEvents {
    std::shared_ptr<StopState> stop = std::make_shared<StopState>();
    int after = 0;
    std::vector<int> reported;
    void OnStage(const PinStage& stage, const PinImage&, const PinImage&, bool) override {
      reported.push_back(stage.number);
      if (stage.number == after) stop->RequestStop();
    }
  };
  // A board with a stuck pin: the stop hides its failure.
  SimBox box(Options([&](auto& o) { o.stuck.emplace_back(PinByName("A7"), false); }));
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  StopAfter log;
  log.after = 2;
  struct Events : RunSink {
    std::vector<RunEvent> events;
    void OnEvent(const RunEvent& e) override { events.push_back(e); }
  } run;
  const CpuPinTestOutcome outcome = RunCpuPinTest(link, StopToken(log.stop), run, log);
  // Silent after the stop: no finish, and no progress beyond stage 2's one step.
  ASSERT_FALSE(run.events.empty());
  EXPECT_FALSE(std::holds_alternative<RunFinished>(run.events.back()));
  EXPECT_EQ(std::get<RunProgress>(run.events.back()).units, 2u);
  EXPECT_EQ(outcome.Code(), rc::kStoppedByProgram);
  EXPECT_FALSE(outcome.ShowAsResult());
  EXPECT_FALSE(outcome.lastStageCompleted);
  EXPECT_EQ(log.reported, (std::vector<int>{1, 2}));
}

// What the watcher reported, on the calling thread.
struct RamLog : RamEvents {
  std::vector<std::uint32_t> progress;
  RamStatus last;
  void OnRamProgress(std::uint32_t p) override { progress.push_back(p); }
  void OnRamFinished(ResultCode, const RamStatus& s) override { last = s; }
};

TEST(RamBankPty, RecordsArrivingTogetherAreEachCounted) {
  test::PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
  BoxLink link(port, test::FastBoxTimings());
  auto status = [](std::uint8_t state, std::uint8_t code, std::uint8_t value) {
    return BuildPacket(10, 0, box_type::kTestRam,
                       std::vector<std::uint8_t>{state, code, value, 0, 0, 0, 0x34, 0x12, 0x78, 0x56});
  };
  std::vector<std::uint8_t> burst = {0x00, 0x55};  // noise before the first record is skipped
  for (const auto& r : {status(1, '0', 10), status(1, '0', 20), status(0, 'D', 0x40)}) {
    burst.insert(burst.end(), r.begin(), r.end());
  }
  pty.Send(burst);
  RamLog log;
  ProgressWatcher watcher(link, log);
  EXPECT_EQ(watcher.Run(), 'D');
  EXPECT_EQ(log.progress, (std::vector<std::uint32_t>{10, 20}));
  EXPECT_EQ(RamFailureText(log.last), "Failed at address = 0x40, Data1 = 0x1234, Data2 = 0x5678 ");
}

// A view that records what the dialog would show.
struct FakeView : TestCpuView {
  std::mutex m;
  std::vector<std::string> lines;
  ButtonStates buttons{};
  std::map<BoardField, std::string> fields;
  std::pair<int, int> banks{0, 0};
  std::vector<int> progress;
  std::vector<std::string> pinTitles;
  std::string verdict;
  int callsAfterClose = 0;
  bool closed = false;

  void Touch() {
    if (closed) ++callsAfterClose;
  }
  void AddLine(const std::string& t) override { std::lock_guard l(m); Touch(); lines.push_back(t); }
  void SetButtons(const ButtonStates& b) override { std::lock_guard l(m); Touch(); buttons = b; }
  void SetField(BoardField f, const std::string& t) override { std::lock_guard l(m); Touch(); fields[f] = t; }
  void SetBankRange(int lo, int hi) override { std::lock_guard l(m); Touch(); banks = {lo, hi}; }
  void SetProgress(int p) override { std::lock_guard l(m); Touch(); progress.push_back(p); }
  void ShowPinStates(const PinTestReport& report) override {
    std::lock_guard l(m);
    Touch();
    for (const auto& stage : report.stages) pinTitles.push_back(stage.title);
    verdict = report.verdict;
  }
  void SetButtonCaption(TestButton, const std::string&) override { std::lock_guard l(m); Touch(); }
  bool On(TestButton b) {
    std::lock_guard l(m);
    return buttons[static_cast<std::size_t>(b)];
  }
};

// The dialog's model on a simulated box, with a view and an operator that
// remember. The simulator answers at once: its raw replies are read as soon
// as they are whole.
BoxTimings WholeReplies() {
  BoxTimings t = test::FastBoxTimings();
  t.rawReplyEndsWhenWhole = true;
  return t;
}
struct Dialog {
  explicit Dialog(sim::BoxOptions options = Options()) : box(std::move(options)) {}
  SimBox box;
  BoxLink link{box.Port(), WholeReplies(), box.Settle()};
  FakeView view;
  test::RecordingOperator op;
  TestCpuModel model{link, view, op};
};

TEST(TestCpuModelSim, OpeningReadsTheFlashIdAndSetsTheButtons) {
  for (const auto& [revision, banks] : {std::pair{'B', std::pair{1, 1}}, {'C', {1, 4}}, {'D', {1, 5}}}) {
    Dialog d(Options([&](auto& o) { o.cpuRevision = revision; }));
    d.model.Open();
    EXPECT_TRUE(d.model.FlashIdGood()) << revision;
    EXPECT_EQ(d.view.banks, banks) << revision;
    EXPECT_TRUE(d.view.On(TestButton::ProgramBoot));
    EXPECT_EQ(d.view.fields[BoardField::ControllerSerial], "SIM00001");
  }

  // A revision typed that does not fit the board's chip: unknown, boot off.
  Dialog d(Options([](auto& o) { o.cpuRevision = 'B'; }));
  d.model.ReadFlashId("D", "");
  // The box answers with the board's stored record (revision B) and the words
  // the revision D algorithm read from a Catalyst chip.
  EXPECT_FALSE(d.model.FlashIdGood());
  EXPECT_EQ(d.view.banks, (std::pair<int, int>{1, 1}));
  EXPECT_FALSE(d.view.On(TestButton::EraseFlash));
  ASSERT_EQ(d.view.lines.size(), 3u);
  EXPECT_NE(d.view.lines[0].find(" -> Unknown"), std::string::npos);

  // A box that sends nothing: the list says what came and what was due.
  Dialog quiet(Options([](auto& o) { o.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 0, 0}); }));
  quiet.model.Open();
  EXPECT_FALSE(quiet.model.FlashIdGood());
  EXPECT_EQ(quiet.view.lines,
            std::vector<std::string>{"Too few bytes sent (the box sent nothing; a board information reply is 68 bytes)"});
}

TEST(TestCpuModelSim, LineTestsAndProbingOwnTheButtons) {
  Dialog d;
  d.model.ToggleLineTest(kLineTestAddress);
  EXPECT_TRUE(d.view.On(TestButton::TestAddress));
  EXPECT_FALSE(d.view.On(TestButton::TestData));
  EXPECT_EQ(d.box.Device().LineTest(), kLineTestAddress);
  d.model.ToggleProbing();  // switches the line test off first
  EXPECT_TRUE(d.model.Probing());
  EXPECT_TRUE(d.view.On(TestButton::TestControls));
  EXPECT_FALSE(d.view.On(TestButton::TestCpu));
  // The prober keeps sending the box drive images until it is switched off.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a guard
  while (d.box.Device().DriveImages() < 32 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(d.box.Device().DriveImages(), 32u);
  d.model.ToggleProbing();
  EXPECT_FALSE(d.model.Probing());
  EXPECT_TRUE(d.view.On(TestButton::TestCpu));
}

// A short gives one window with the summary, one summary line for the pair,
// and the verdict with the count.
TEST(TestCpuModelSim, TestCpuReportsSuccessOrTheFailedRead) {
  using Texts = std::vector<std::string>;
  const struct {
    const char* what;
    std::function<void(sim::BoxOptions&)> tweak;
    std::string message;
    std::size_t windows;
    Texts lines;
  } cases[] = {
      {"clean", {}, "Success", 6, {"Testing CPU", "Success", "Turn off CPU test"}},
      {"short", [](auto& o) { o.shorts.emplace_back(PinByName("D3"), PinByName("D4")); },
       "CPU pin test failed: 2 failing pins", 7,
       {"Testing CPU", "D3\u2013D4 shorted \u2014 stage 6 (Test walking 1's on Data Lines), step 4",
        "CPU pin test failed: 2 failing pins", "Turn off CPU test"}},
      {"silent", [](auto& o) { o.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 40, 0}); },
       ResultText('@'), 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Dialog d(Options(c.tweak));
    d.model.TestCpu();
    EXPECT_EQ(d.op.MessageTexts(), Texts{c.message});
    if (c.windows == 0) continue;
    EXPECT_EQ(d.view.pinTitles.size(), c.windows);
    EXPECT_EQ(d.view.verdict, c.message);
    EXPECT_EQ(d.view.lines, c.lines);
  }
}

// With the JTAG cable off or another chip on it, every board button says so
// with the JTAG text and sends the board nothing beyond the ID read; the
// buttons come back.
TEST(TestCpuModelSim, BoardButtonsNeedThe80386ExJtagIdFirst) {
  const std::string wrongId = "Invalid JTAG ID 0x1234, should read 0x28270013 for 80386EX CPU";
  const struct {
    const char* what;
    std::function<void(TestCpuModel&, JobRunner&)> press;
    std::uint32_t packets = 1;  // the ID read (Read Boot selects the board again first)
  } buttons[] = {
      {"Test CPU", [](TestCpuModel& m, JobRunner&) { m.TestCpu(); }},
      {"Load Ram", [](TestCpuModel& m, JobRunner&) { m.StartRam(false, 1); }},
      {"Test Ram", [](TestCpuModel& m, JobRunner&) { m.StartRam(true, 1); }},
      {"Blank Test", [](TestCpuModel& m, JobRunner&) { m.BlankOrErase(false, 500); }},
      {"Erase Flash", [](TestCpuModel& m, JobRunner&) { m.BlankOrErase(true, 500); }},
      {"Verify Flash", [](TestCpuModel& m, JobRunner&) { m.StartVerify(nullptr, 0); }},
      {"Read Boot",
       [](TestCpuModel& m, JobRunner& r) {
         BootOptions o;
         o.box = test::FastBoxTimings();
         m.ReadBoot(r, "C", o);
       },
       2},
  };
  for (const bool cableOff : {true, false}) {
    for (const auto& b : buttons) {
      SCOPED_TRACE(std::string(b.what) + (cableOff ? ", cable off" : ", wrong chip"));
      Dialog d(Options([&](auto& o) {
        o.noJtag = cableOff;
        if (!cableOff) o.jtagId = 0x1234;
      }));
      ASSERT_EQ(SelectOnPort(d.box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
      test::DirectRunner runner(d.op);
      const std::uint32_t before = d.box.Device().Packets();
      b.press(d.model, runner);
      const std::string said = cableOff ? box_text::kJtagCableAdvice : wrongId;
      EXPECT_EQ(d.op.MessageTexts(), std::vector<std::string>{said});
      EXPECT_TRUE(d.view.On(TestButton::TestCpu));
      EXPECT_FALSE(d.model.RamRunning());
      EXPECT_FALSE(d.model.Verifying());
      EXPECT_EQ(runner.readRuns, 0);
      // The box answers its version even with the cable off; once it has,
      // every packet before it has been counted: the ID read and this one.
      std::string version;
      ASSERT_EQ(d.link.ReadVersion(version), '0');
      EXPECT_EQ(d.box.Device().Packets(), before + b.packets + 1);
    }
  }
}

// The bar shows the true state: full when the run completed, never full
// while a time-out is told; reset afterwards; the buttons come back.
TEST(TestCpuModelSim, RamRunEndsWithTheBarResetAndTheButtonsBack) {
  const struct {
    const char* what;
    std::function<void(sim::BoxOptions&)> tweak;
    std::string message;
    bool full;
  } cases[] = {
      {"completed", [](auto& o) { o.ramMs = 100; }, "Success", true},
      // The box answers the ID read, then nothing: the stream times out.
      {"silent box", [](auto& o) { o.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 1, 0}); },
       ResultText('@'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // No front end in between: the events reach the model on the watcher's thread.
    Dialog d(Options(c.tweak));
    d.model.StartRam(false, 1);
    EXPECT_FALSE(d.view.On(TestButton::TestCpu));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a guard
    while (d.op.MessageTexts().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(d.op.MessageTexts(), std::vector<std::string>{c.message});
    std::lock_guard l(d.view.m);
    ASSERT_GE(d.view.progress.size(), 2u);
    EXPECT_EQ(d.view.progress.front(), 0);
    EXPECT_EQ(std::count(d.view.progress.begin(), d.view.progress.end(), 100) > 0, c.full);
    EXPECT_EQ(d.view.progress.back(), 0);
    EXPECT_TRUE(d.view.buttons[static_cast<std::size_t>(TestButton::TestCpu)]);
  }
}

TEST(TestCpuModelSim, ClosingDuringRamTestWaitsAndSwitchesTheLineTestOff) {
  // A RAM run long enough that no busy machine sees it end before the close.
  Dialog d(Options([](auto& o) { o.ramMs = 2000; }));
  d.model.ToggleLineTest(kLineTestData);
  d.model.ToggleLineTest(kLineTestData);
  d.model.ToggleLineTest(kLineTestData);
  ASSERT_EQ(d.box.Device().LineTest(), kLineTestData);
  d.model.StartRam(true, 1);
  ASSERT_TRUE(d.model.RamRunning());
  d.model.Close();
  {
    std::lock_guard l(d.view.m);
    d.view.closed = true;
  }
  EXPECT_FALSE(d.model.RamRunning());
  EXPECT_EQ(d.box.Device().LineTest(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(d.view.callsAfterClose, 0);
  EXPECT_TRUE(d.op.MessageTexts().empty());
}

}  // namespace
}  // namespace tarnvale
