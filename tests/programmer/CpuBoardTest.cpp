// The CPU board test against the simulated box: the walking pin tests on
// clean and faulty boards, RAM bank runs, the prober, and the dialog model's
// button rules and closing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
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

// Failing pin names per stage, and the stages whose pin list is shown.
struct StageLog : CpuPinTestEvents {
  std::map<int, std::set<std::string>> failing;
  std::vector<int> shown;
  std::vector<int> reported;
  void OnMismatch(const PinStage& stage, const PinImage& e, const PinImage& s) override {
    for (int pin : MismatchedPins(e, s)) failing[stage.number].insert(PinName(pin));
  }
  void OnStage(const PinStage& stage, const PinImage&, const PinImage&, bool show) override {
    reported.push_back(stage.number);
    if (show) shown.push_back(stage.number);
  }
};

struct PinRun {
  CpuPinTestOutcome outcome;
  StageLog log;
};

PinRun RunPins(sim::BoxOptions options) {
  SimBox box(std::move(options));
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  PinRun run;
  NullRunSink quiet;
  run.outcome = RunCpuPinTest(link, StopToken(), quiet, run.log);
  return run;
}

std::pair<int, bool> Stuck(const char* pin, bool level) { return {PinByName(pin), level}; }

TEST(CpuPinTestSim, CleanAndFaultyBoards) {
  const PinRun clean = RunPins(Options());
  EXPECT_EQ(clean.outcome.Code(), '0');
  EXPECT_TRUE(clean.outcome.ShowAsResult());
  EXPECT_TRUE(clean.log.failing.empty());
  EXPECT_EQ(clean.log.shown, (std::vector<int>{1, 2, 3, 4, 5, 6}));

  const PinRun a7 = RunPins(Options([](auto& o) { o.stuck.push_back(Stuck("A7", false)); }));
  EXPECT_EQ(a7.outcome.Code(), 'D');
  EXPECT_FALSE(a7.outcome.ShowAsResult());
  EXPECT_EQ(a7.outcome.firstFailedRead, '0');
  const std::set<std::string> justA7 = {"A7"};
  EXPECT_EQ(a7.log.failing.count(1), 0u);  // all low: a pin stuck low passes
  for (int stage : {2, 3, 4, 5, 7}) EXPECT_EQ(a7.log.failing.at(stage), justA7) << stage;
  EXPECT_EQ(a7.log.failing.count(6), 0u);
  // The last stage stops at its first difference and shows it.
  EXPECT_EQ(a7.log.shown.back(), 7);

  ASSERT_EQ(a7.outcome.findings.size(), 1u);
  EXPECT_EQ(FindingLine(a7.outcome.findings[0]),
            "A7 stuck at 0 \u2014 stage 2 (Set All Pins High and Test), step 1");
  EXPECT_EQ(a7.outcome.Verdict(), "CPU pin test failed: 1 failing pin");

  const PinRun shorted = RunPins(Options([](auto& o) {
    o.shorts.emplace_back(PinByName("D3"), PinByName("D4"));
  }));
  EXPECT_EQ(shorted.outcome.Code(), 'D');
  EXPECT_EQ(shorted.log.failing.at(6), (std::set<std::string>{"D3", "D4"}));
  EXPECT_EQ(shorted.log.failing.count(2), 0u);  // both high: the AND reads high
  EXPECT_EQ(shorted.outcome.Verdict(), "CPU pin test failed: 2 failing pins");
}

// The stage lists keep every step's failures: a walking stage that fails at
// two different steps shows both pins, not only the last step's.
TEST(CpuPinTestSim, AStageListKeepsTheFailuresOfEveryStep) {
  struct Last : CpuPinTestEvents {
    std::map<int, std::pair<PinImage, PinImage>> stages;
    void OnStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool) override {
      stages[stage.number] = {e, s};
    }
  } log;
  SimBox box(Options([](auto& o) {
    o.stuck.push_back(Stuck("A2", false));
    o.stuck.push_back(Stuck("A20", false));
  }));
  BoxLink link(box.Port(), test::FastBoxTimings());
  NullRunSink quiet;
  RunCpuPinTest(link, StopToken(), quiet, log);
  const auto& [e, s] = log.stages.at(4);  // walking 1's on the address lines: A2 early, A20 late
  std::vector<std::string> failing;
  for (int pin : MismatchedPins(e, s)) failing.push_back(PinName(pin));
  EXPECT_EQ(failing, (std::vector<std::string>{"A2", "A20"}));
}

TEST(CpuPinTestSim, SilentBoxDuringStageThreeIsNeverSuccess) {
  // 2 images in stage 1, 1 in stage 2, the drive of stage 3 and 3 samples.
  const PinRun run = RunPins(Options([](auto& o) {
    o.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 7, 0});
  }));
  EXPECT_EQ(run.outcome.firstFailedRead, '@');
  EXPECT_EQ(run.outcome.Code(), '@');
  EXPECT_TRUE(run.outcome.ShowAsResult());
  EXPECT_FALSE(run.outcome.lastStageCompleted);
}

TEST(CpuPinTestSim, AStopAfterAStageEndsItAsStoppedWithNothingMoreReported) {
  struct StopAfter : StageLog {
    std::shared_ptr<StopState> stop = std::make_shared<StopState>();
    int after = 0;
    void OnStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool show) override {
      StageLog::OnStage(stage, e, s, show);
      if (stage.number == after) stop->RequestStop();
    }
  };
  // A clean board and one with a stuck pin: a stop hides both alike.
  for (const bool faulty : {false, true}) {
    SCOPED_TRACE(faulty ? "faulty board" : "clean board");
    SimBox box(Options([&](auto& o) {
      if (faulty) o.stuck.push_back(Stuck("A7", false));
    }));
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
}

TEST(CpuPinTestSim, WrongLengthSampleCountsAsFailedRead) {
  test::PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
  BoxLink link(port, test::FastBoxTimings());
  // A 25-byte record answers the first sample; nothing answers afterwards.
  pty.Send(BuildPacket(25, 0, box_type::kDriveAndSample, std::vector<std::uint8_t>(25, 0)));
  StageLog log;
  NullRunSink quiet;
  const CpuPinTestOutcome outcome = RunCpuPinTest(link, StopToken(), quiet, log);
  EXPECT_EQ(outcome.firstFailedRead, 'A');
  EXPECT_EQ(outcome.Code(), 'A');
}

struct RamLog : RamEvents {
  std::mutex m;
  std::vector<std::uint32_t> progress;
  std::optional<ResultCode> code;
  RamStatus last;
  void OnRamProgress(std::uint32_t p) override {
    std::lock_guard l(m);
    progress.push_back(p);
  }
  void OnRamFinished(ResultCode c, const RamStatus& s) override {
    std::lock_guard l(m);
    code = c;
    last = s;
  }
};

TEST(RamBankSim, OutcomesOfLoadAndTest) {
  struct Case {
    const char* what;
    sim::BoxOptions options;
    bool test;
    int bank;
    ResultCode code;
    std::string failure;
  };
  sim::BoxOptions failing = Options();
  failing.ramFailAddress = 0x1A0010;
  failing.ramFailData1 = 0x55AA;
  failing.ramFailData2 = 0x54AA;
  sim::BoxOptions silent = Options();
  silent.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 0, 0});
  const Case cases[] = {
      {"clean test", Options(), true, 1, '0', ""},
      {"load", Options(), false, 2, '0', ""},
      {"failing address in bank 2", failing, true, 2, 'D',
       "Failed at address = 0x1A0010, Data1 = 0x55AA, Data2 = 0x54AA "},
      {"failing address elsewhere", failing, true, 1, '0', ""},
      {"silent box", silent, true, 1, '@', ""},
  };
  for (const Case& c : cases) {
    SimBox box(c.options);
    BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
    RamLog log;
    ProgressWatcher watcher(link, log);
    watcher.Start(c.test, c.bank);
    watcher.Join();
    ASSERT_TRUE(log.code) << c.what;
    EXPECT_EQ(*log.code, c.code) << c.what;
    if (c.code == 'D') {
      EXPECT_EQ(RamFailureText(log.last), c.failure);
    }
    if (c.code == '0') {
      EXPECT_GE(log.progress.size(), 10u) << c.what;
      EXPECT_TRUE(std::is_sorted(log.progress.begin(), log.progress.end())) << c.what;
    }
  }
}

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

TEST(ProberSim, SendsImagesUntilStoppedAndJoins) {
  SimBox box(Options());
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  ControlLineProber prober(link, 1);
  prober.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a guard
  while (prober.ImagesSent() < 40 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  prober.Stop();
  EXPECT_FALSE(prober.Running());
  const std::uint32_t sent = prober.ImagesSent();
  EXPECT_GE(sent, 40u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(prober.ImagesSent(), sent);
  // The box took them as drive images: it still answers a line test.
  EXPECT_EQ(link.SetLineTest(false, 0, 0, 500), '0');
  EXPECT_GE(box.Device().DriveImages(), 32u);
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
  std::map<TestButton, std::string> captions;
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
  void SetButtonCaption(TestButton b, const std::string& text) override {
    std::lock_guard l(m);
    Touch();
    captions[b] = text;
  }
  bool On(TestButton b) {
    std::lock_guard l(m);
    return buttons[static_cast<std::size_t>(b)];
  }
};

TEST(TestCpuModelSim, OpeningReadsTheFlashIdAndSetsTheButtons) {
  struct Case {
    char revision;
    bool good;
    std::pair<int, int> banks;
  };
  for (const Case& c : {Case{'B', true, {1, 1}}, Case{'C', true, {1, 4}}, Case{'D', true, {1, 5}}}) {
    SimBox box(Options([&](auto& o) { o.cpuRevision = c.revision; }));
    BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
    FakeView view;
    test::RecordingOperator op;
    TestCpuModel model(link, view, op);
    model.Open();
    EXPECT_EQ(model.FlashIdGood(), c.good) << c.revision;
    EXPECT_EQ(view.banks, c.banks) << c.revision;
    EXPECT_TRUE(view.On(TestButton::TestRam));
    EXPECT_TRUE(view.On(TestButton::ProgramBoot));
    EXPECT_EQ(view.fields[BoardField::CpuRevision], std::string(1, c.revision));
    EXPECT_EQ(view.fields[BoardField::ControllerSerial], "SIM00001");
    model.Close();
  }

  // A revision typed that does not fit the board's chip: unknown, boot off.
  SimBox box(Options([](auto& o) { o.cpuRevision = 'B'; }));
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  FakeView view;
  test::RecordingOperator op;
  TestCpuModel model(link, view, op);
  model.ReadFlashId("D", "");
  // The box answers with the board's stored record (revision B) and the words
  // the revision D algorithm read from a Catalyst chip.
  EXPECT_FALSE(model.FlashIdGood());
  EXPECT_EQ(view.banks, (std::pair<int, int>{1, 1}));
  EXPECT_FALSE(view.On(TestButton::EraseFlash));
  EXPECT_FALSE(view.On(TestButton::LoadRam));
  EXPECT_TRUE(view.On(TestButton::TestCpu));
  ASSERT_EQ(view.lines.size(), 3u);
  EXPECT_NE(view.lines[0].find(" -> Unknown"), std::string::npos);
  model.Close();

  // A box that sends nothing: the list says what came and what was due.
  sim::BoxOptions silent = Options();
  silent.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 0, 0});
  SimBox quiet(silent);
  BoxLink quietLink(quiet.Port(), test::FastBoxTimings());
  FakeView quietView;
  TestCpuModel quietModel(quietLink, quietView, op);
  quietModel.Open();
  EXPECT_FALSE(quietModel.FlashIdGood());
  EXPECT_EQ(quietView.lines,
            std::vector<std::string>{"Too few bytes sent (the box sent nothing; a board information reply is 68 bytes)"});
  quietModel.Close();
}

TEST(TestCpuModelSim, LineTestsAndProbingOwnTheButtons) {
  SimBox box(Options());
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  FakeView view;
  test::RecordingOperator op;
  TestCpuModel model(link, view, op);
  model.ToggleLineTest(kLineTestAddress);
  EXPECT_TRUE(view.On(TestButton::TestAddress));
  EXPECT_FALSE(view.On(TestButton::TestData));
  EXPECT_EQ(box.Device().LineTest(), kLineTestAddress);
  // A running test's button says what pressing it again does.
  EXPECT_EQ(view.captions[TestButton::TestAddress], "Turn off Address Line Test");
  model.ToggleProbing();  // switches the line test off first
  EXPECT_EQ(view.captions[TestButton::TestAddress], "Test  Address");
  EXPECT_EQ(view.captions[TestButton::TestControls], "Turn off Control Line Test");
  EXPECT_TRUE(model.Probing());
  EXPECT_TRUE(view.On(TestButton::TestControls));
  EXPECT_FALSE(view.On(TestButton::TestCpu));
  model.ToggleProbing();
  EXPECT_EQ(view.captions[TestButton::TestControls], "Test Controls");
  EXPECT_FALSE(model.Probing());
  EXPECT_TRUE(view.On(TestButton::TestCpu));
  EXPECT_EQ(view.lines, (std::vector<std::string>{"Test Address Lines", "Turn off Address Line Test",
                                                  "Testing Control Lines",
                                                  "Turn off Control Line Test"}));
  model.Close();
}

TEST(TestCpuModelSim, TestCpuReportsSuccessOrTheFailedRead) {
  {
    SimBox box(Options());
    BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
    FakeView view;
    test::RecordingOperator op;
    TestCpuModel model(link, view, op);
    model.TestCpu();
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"Success"});
    EXPECT_EQ(view.pinTitles.size(), 6u);
    EXPECT_EQ(view.verdict, "Success");
    EXPECT_EQ(view.lines.front(), "Testing CPU");
    EXPECT_EQ(view.lines.back(), "Turn off CPU test");
  }
  {
    // A short: one window with the summary, one summary line for the pair,
    // and the verdict with the count.
    SimBox box(Options([](auto& o) { o.shorts.emplace_back(PinByName("D3"), PinByName("D4")); }));
    BoxLink link(box.Port(), test::FastBoxTimings());
    FakeView view;
    test::RecordingOperator op;
    TestCpuModel model(link, view, op);
    model.TestCpu();
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"CPU pin test failed: 2 failing pins"});
    EXPECT_EQ(view.pinTitles.size(), 7u);
    EXPECT_EQ(view.lines, (std::vector<std::string>{
                              "Testing CPU",
                              "D3\u2013D4 shorted \u2014 stage 6 (Test walking 1's on Data Lines), step 4",
                              "CPU pin test failed: 2 failing pins", "Turn off CPU test"}));
  }
  {
    SimBox box(Options([](auto& o) {
      o.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 40, 0});
    }));
    BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
    FakeView view;
    test::RecordingOperator op;
    TestCpuModel model(link, view, op);
    model.TestCpu();
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{ResultText('@')});
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
      SimBox box(Options([&](auto& o) {
        o.noJtag = cableOff;
        if (!cableOff) o.jtagId = 0x1234;
      }));
      ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
      BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
      FakeView view;
      test::RecordingOperator op;
      test::DirectRunner runner(op);
      TestCpuModel model(link, view, op);
      const std::uint32_t before = box.Device().Packets();
      b.press(model, runner);
      EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{cableOff ? box_text::kJtagCableAdvice : wrongId});
      EXPECT_TRUE(view.On(TestButton::TestCpu));
      EXPECT_FALSE(model.RamRunning());
      EXPECT_FALSE(model.Verifying());
      EXPECT_EQ(runner.readRuns, 0);
      // The box answers its version even with the cable off; once it has,
      // every packet before it has been counted: the ID read and this one.
      std::string version;
      ASSERT_EQ(link.ReadVersion(version), '0');
      EXPECT_EQ(box.Device().Packets(), before + b.packets + 1);
      model.Close();
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
    SimBox box(Options(c.tweak));
    BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
    FakeView view;
    test::RecordingOperator op;
    // No front end in between: the events reach the model on the watcher's thread.
    TestCpuModel model(link, view, op);
    model.StartRam(false, 1);
    EXPECT_FALSE(view.On(TestButton::TestCpu));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // a guard
    while (op.MessageTexts().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.message});
    std::lock_guard l(view.m);
    ASSERT_GE(view.progress.size(), 2u);
    EXPECT_EQ(view.progress.front(), 0);
    EXPECT_EQ(std::count(view.progress.begin(), view.progress.end(), 100) > 0, c.full);
    EXPECT_EQ(view.progress.back(), 0);
    EXPECT_TRUE(view.buttons[static_cast<std::size_t>(TestButton::TestCpu)]);
    EXPECT_EQ(view.lines.back(), "Loading RAM Bank 1");
  }
}

TEST(TestCpuModelSim, ClosingDuringRamTestWaitsAndSwitchesTheLineTestOff) {
  // A RAM run long enough that no busy machine sees it end before the close.
  SimBox box(Options([](auto& o) { o.ramMs = 2000; }));
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  FakeView view;
  test::RecordingOperator op;
  TestCpuModel model(link, view, op);
  model.ToggleLineTest(kLineTestData);
  model.ToggleLineTest(kLineTestData);
  model.ToggleLineTest(kLineTestData);
  ASSERT_EQ(box.Device().LineTest(), kLineTestData);
  model.StartRam(true, 1);
  ASSERT_TRUE(model.RamRunning());
  const auto t0 = std::chrono::steady_clock::now();
  model.Close();
  {
    std::lock_guard l(view.m);
    view.closed = true;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30)) << "a close that never ends";
  EXPECT_FALSE(model.RamRunning());
  EXPECT_EQ(box.Device().LineTest(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(view.callsAfterClose, 0);
  EXPECT_TRUE(op.MessageTexts().empty());
}

}  // namespace
}  // namespace tarnvale
