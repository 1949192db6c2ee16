// The pin test's diagnosis against the simulated board: every single stuck
// pin and every short between two driven lines is named, with nothing else
// named beside it; each walking stage sees a line stuck at the level it
// walks against. The board model runs in-process behind an in-memory wire
// on a fake clock, so a run costs no real time. (A clean board and a short
// over a real pty are run by the CPU board tests.)
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "support/SimBox.h"
#include "core/link/CommPort.h"
#include "core/programmer/BoxCommands.h"
#include "core/programmer/CpuPinTest.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"
#include "support/FakeLink.h"
#include "sim/BoxDevice.h"

namespace tarnvale {
namespace {

// The lines the stages drive: the address lines, the data lines and the
// pins of the control word. Every other pin keeps the initial image's level.
std::vector<int> DrivenLines() {
  std::set<int> lines(kControlWordPins.begin(), kControlWordPins.end());
  for (int a = 1; a <= 25; ++a) lines.insert(PinByName("A" + std::to_string(a)));
  for (int d = 0; d <= 15; ++d) lines.insert(PinByName("D" + std::to_string(d)));
  return {lines.begin(), lines.end()};
}

bool Driven(int pin) {
  static const std::vector<int> lines = DrivenLines();
  return std::find(lines.begin(), lines.end(), pin) != lines.end();
}

// The stage images of a run as the lists show them, and the stages whose
// list is shown.
struct StageImages : CpuPinTestEvents {
  std::map<int, std::pair<PinImage, PinImage>> stages;
  std::vector<int> shown;
  void OnStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool show) override {
    stages[stage.number] = {e, s};
    if (show) shown.push_back(stage.number);
  }
};

struct BoardRun {
  CpuPinTestOutcome outcome;
  StageImages images;
};

// One whole pin test against the board model, in-process.
BoardRun RunOn(sim::BoxOptions options, test::WireFaults faults = {}) {
  test::FakeClock clock(1000);
  sim::BoxDevice device(std::move(options));
  test::FakeLink wire(clock, device, std::move(faults));
  CommPort port;
  wire.AttachTo(port);
  port.Write(SelectTargetPacket(Target::CpuBoard386));
  BoardRun run;
  if (WaitStatusByte(port, 500, clock) != '0') return run;
  BoxLink link(port, test::FastBoxTimings(), clock);
  NullRunSink quiet;
  run.outcome = RunCpuPinTest(link, StopToken(), quiet, run.images);
  return run;
}

sim::BoxOptions StuckAt(int pin, bool level) {
  sim::BoxOptions o;
  o.stuck.emplace_back(pin, level);
  return o;
}

// A box that falls silent in stage three, or a sample record of the wrong
// length, is a failed read the verdict names, never a passed board.
TEST(PinDiagnosisSim, ASilentBoxOrAWrongLengthSampleIsAFailedRead) {
  sim::BoxOptions silentInStageThree;  // the selection, 3 samples, the drive of stage 3 and 3 samples
  silentInStageThree.faults.push_back(sim::Fault{sim::Fault::Kind::SilentAfter, 8, 0});
  test::WireFaults shortSample;  // reply 1 is the selection's status, reply 2 the first sample
  shortSample.replaceAt = 2;
  shortSample.replacement = BuildPacket(25, 0, box_type::kDriveAndSample, std::vector<std::uint8_t>(25, 0));
  for (const auto& [run, code] : {std::pair{RunOn(silentInStageThree), '@'}, {RunOn({}, shortSample), 'A'}}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(run.outcome.firstFailedRead, code);
    EXPECT_EQ(run.outcome.Code(), code);
    EXPECT_TRUE(run.outcome.ShowAsResult());
    EXPECT_EQ(run.outcome.lastStageCompleted, code == 'A');  // a box that answers goes on to the end
  }
}

// (A clean board is run through the CPU board dialog.)
TEST(PinDiagnosisSim, AStuckPinsFindingLine) {
  const BoardRun a7 = RunOn(StuckAt(PinByName("A7"), false));
  EXPECT_EQ(a7.outcome.Code(), 'D');
  EXPECT_FALSE(a7.outcome.ShowAsResult());
  EXPECT_EQ(a7.outcome.firstFailedRead, '0');
  // The last stage stops at its first difference and shows it.
  EXPECT_EQ(a7.images.shown.back(), 7);
  ASSERT_EQ(a7.outcome.findings.size(), 1u);
  EXPECT_EQ(FindingLine(a7.outcome.findings[0]),
            "A7 stuck at 0 \u2014 stage 2 (Set All Pins High and Test), step 1");
  EXPECT_EQ(a7.outcome.Verdict(), "CPU pin test failed: 1 failing pin");
}

// Any pin stuck at either level is named as that pin stuck at that level,
// alone. A pin no stage drives is only seen stuck at the other level than
// the one it always has; stuck at its own level the board is as good as clean.
RC_GTEST_PROP(PinDiagnosisSim, EverySingleStuckPinIsNamed, ()) {
  const int pin = *::rc::gen::inRange(kFirstShownPin, kPinCount);
  const bool level = *::rc::gen::arbitrary<bool>();
  const BoardRun run = RunOn(StuckAt(pin, level));
  RC_TAG(Driven(pin) ? "driven" : "constant");
  if (!Driven(pin) && PinImage::Initial().Level(pin) == level) {
    RC_ASSERT(run.outcome.Verdict() == std::string("Success"));
    return;
  }
  RC_ASSERT(run.outcome.findings.size() == 1u);
  const PinFinding& f = run.outcome.findings.front();
  RC_ASSERT(f.pin == pin);
  RC_ASSERT(f.fault == (level ? PinFault::StuckAt1 : PinFault::StuckAt0));
  RC_ASSERT(f.read == level);
  RC_ASSERT(f.expected != level);
  RC_ASSERT(run.outcome.Verdict() == std::string("CPU pin test failed: 1 failing pin"));
}

// Any two driven lines shorted together are named as that pair, from both
// ends, and nothing else is named.
RC_GTEST_PROP(PinDiagnosisSim, EveryShortBetweenTwoDrivenLinesNamesThePair, ()) {
  static const std::vector<int> lines = DrivenLines();
  const int a = *::rc::gen::elementOf(lines);
  const int b = *::rc::gen::suchThat(::rc::gen::elementOf(lines), [a](int p) { return p != a; });
  sim::BoxOptions o;
  o.shorts.emplace_back(a, b);
  const BoardRun run = RunOn(o);
  RC_ASSERT(run.outcome.findings.size() == 2u);
  for (const PinFinding& f : run.outcome.findings) {
    RC_ASSERT(f.fault == PinFault::Shorted);
    RC_ASSERT((f.pin == a && f.partner == b) || (f.pin == b && f.partner == a));
  }
  const std::string pair = std::min(a, b) == a ? PinName(a) + "\u2013" + PinName(b) : PinName(b) + "\u2013" + PinName(a);
  RC_ASSERT(FaultText(run.outcome.findings.front()) == pair + " shorted");
}

// Each walking stage drives every line of its group to the walking level in
// turn, the top address line too: a line stuck against that level shows in
// the stage's own list, with the levels of the step that walked it, and the
// run names it stuck at that level. Every driven line, both levels.
TEST(PinDiagnosisSim, EachWalkingStageSeesEveryLineStuckAgainstItsWalk) {
  struct Group {
    const char* prefix;
    int first, last;
    int walkingOne;   // the stage that walks a one along the group (sees stuck at 0)
    int walkingZero;  // and the one that walks a zero (sees stuck at 1)
  };
  std::vector<std::pair<int, std::pair<int, int>>> lines;  // pin, {stage for 0, stage for 1}
  for (const Group& g : {Group{"A", 1, 25, 4, 5}, Group{"D", 0, 15, 6, 7}}) {
    for (int i = g.first; i <= g.last; ++i) {
      lines.push_back({PinByName(g.prefix + std::to_string(i)), {g.walkingOne, g.walkingZero}});
    }
  }
  // The control lines are walked by a zero only; all high shows them stuck low.
  for (int pin : kControlWordPins) lines.push_back({pin, {2, 3}});
  for (const auto& [pin, stages] : lines) {
    for (const bool level : {false, true}) {
      SCOPED_TRACE(PinName(pin) + (level ? " stuck at 1" : " stuck at 0"));
      const BoardRun run = RunOn(StuckAt(pin, level));
      const int stage = level ? stages.second : stages.first;
      ASSERT_TRUE(run.images.stages.count(stage));
      const auto& [e, s] = run.images.stages.at(stage);
      EXPECT_EQ(MismatchedPins(e, s), std::vector<int>{pin});
      EXPECT_EQ(e.Level(pin), !level);
      EXPECT_EQ(s.Level(pin), level);
      // And the run names it, alone.
      ASSERT_EQ(run.outcome.findings.size(), 1u);
      EXPECT_EQ(run.outcome.findings[0].pin, pin);
      EXPECT_EQ(run.outcome.findings[0].fault, level ? PinFault::StuckAt1 : PinFault::StuckAt0);
    }
  }
}

// A stage's list keeps every step's failures: a walking stage that fails at
// two steps (A2 early, A20 late) shows both pins, not only the last step's.
TEST(PinDiagnosisSim, AStageListKeepsTheFailuresOfEveryStep) {
  sim::BoxOptions o;
  o.stuck = {{PinByName("A2"), false}, {PinByName("A20"), false}};
  const BoardRun run = RunOn(o);
  const auto& [e, s] = run.images.stages.at(4);
  EXPECT_EQ(MismatchedPins(e, s), (std::vector<int>{PinByName("A2"), PinByName("A20")}));
}

}  // namespace
}  // namespace tarnvale
