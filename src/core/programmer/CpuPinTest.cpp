#include "core/programmer/CpuPinTest.h"

#include <algorithm>
#include <bit>

namespace tarnvale {
namespace {

void Set(PinImage& e, std::uint32_t address, std::uint16_t data, std::uint32_t control) {
  e.SetAddressLines(address);
  e.SetDataLines(data);
  e.SetControlLines(control);
}

constexpr std::uint32_t kAllAddress = 0x3FFFFFF;

}  // namespace

const PinStage kPinStages[7] = {
    {1, "Set All Pins Low and Test"},         {2, "Set All Pins High and Test"},
    {3, "Test Walking 0's on Control Lines"}, {4, "Test walking 1's on Address Lines"},
    {5, "Test walking 0's on Address Lines"}, {6, "Test walking 1's on Data Lines"},
    {7, "Test walking 0's on Data Lines"},
};

namespace {

// One run's state: the link, the stop, the listeners, the outcome, and the
// stage's images that keep every step's failures.
class PinRun {
 public:
  PinRun(BoxLink& link, const StopToken& stop, RunSink& sink, CpuPinTestEvents& events)
      : link_(link), stop_(stop), report_(sink), events_(events) {}
  CpuPinTestOutcome Run();

 private:
  bool Stopped() const { return stop_.StopRequested(); }
  bool Halted() const { return Stopped() || linkLost_; }
  void Drive(const PinImage& image) {
    if (!Halted()) link_.Send(BuildPacket(kPinImageSize, 0, box_type::kDrivePins, image.bytes));
  }
  void DriveAndSample(const PinImage& image) {
    if (!Halted()) link_.Send(BuildPacket(kPinImageSize, 0, box_type::kDriveAndSample, image.bytes));
  }
  // '0' with `sampled` filled, or the failure (a record of another length: 'A').
  ResultCode Sample(PinImage& sampled);
  // Compares one step; false when the levels differ.
  bool Compare(const PinStage& stage, const PinImage& e, const PinImage& s);
  // A step whose sample could not be compared still counts as done.
  void Step();
  void EndStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool show);

  BoxLink& link_;
  const StopToken& stop_;
  RunReporter report_;
  CpuPinTestEvents& events_;
  CpuPinTestOutcome outcome_;
  PinDiagnosis diagnosis_;
  bool linkLost_ = false;
  int steps_ = 0;       // comparisons done in the run
  int stageStep_ = 0;   // and in the current stage
  // Per pin of the current stage: the levels of its first differing step.
  std::vector<std::pair<int, std::pair<bool, bool>>> stageFailures_;
};

ResultCode PinRun::Sample(PinImage& sampled) {
  if (Halted()) return rc::kTimeout;
  MemoryRecord record;
  ResultCode r = link_.ReadRecord(record);
  if (r == rc::kSuccess && record.data.size() != kPinImageSize) r = rc::kTooFewBytes;
  if (r == rc::kSuccess) {
    std::copy(record.data.begin(), record.data.end(), sampled.bytes.begin());
    return r;
  }
  if (outcome_.firstFailedRead == rc::kSuccess) outcome_.firstFailedRead = r;
  if (r == rc::kTimeout) linkLost_ = true;
  return r;
}

void PinRun::Step() {
  ++stageStep_;
  if (!Stopped()) report_.Progress(static_cast<std::uint64_t>(++steps_), 0);
}

bool PinRun::Compare(const PinStage& stage, const PinImage& e, const PinImage& s) {
  diagnosis_.Add(stage.number, stageStep_ + 1, e, s);
  const bool equal = PinLevelsEqual(e, s);
  if (!equal) {
    outcome_.mismatch = true;
    for (int pin : MismatchedPins(e, s)) {
      const bool known = std::any_of(stageFailures_.begin(), stageFailures_.end(),
                                     [pin](const auto& f) { return f.first == pin; });
      if (!known) stageFailures_.push_back({pin, {e.Level(pin), s.Level(pin)}});
    }
    if (!Stopped()) events_.OnMismatch(stage, e, s);
  }
  Step();
  return equal;
}

void PinRun::EndStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool show) {
  if (!Stopped()) {
    PinImage expected = e;
    PinImage sampled = s;
    for (const auto& [pin, levels] : stageFailures_) {
      expected.SetLevel(pin, levels.first);
      sampled.SetLevel(pin, levels.second);
    }
    events_.OnStage(stage, expected, sampled, show);
  }
  stageFailures_.clear();
  stageStep_ = 0;
}

CpuPinTestOutcome PinRun::Run() {
  report_.Phase(cpu_test_text::kTesting);
  report_.Total(kPinComparisons, 0);
  PinImage e = PinImage::Initial();
  PinImage s = PinImage::Initial();

  // Stage 1: all low, after all high has been driven once.
  Set(e, 0, 0, 0);
  Drive(e);
  Set(e, kAllAddress, 0xFFFF, 0xFFFFFFFF);
  DriveAndSample(e);
  Set(e, 0, 0, 0);
  if (Sample(s) == rc::kSuccess) {
    Compare(kPinStages[0], e, s);
  } else {
    Step();
  }
  EndStage(kPinStages[0], e, s, true);

  // Stage 2: all high.
  DriveAndSample(e);
  Set(e, kAllAddress, 0xFFFF, 0xFFFFFFFF);
  if (Sample(s) == rc::kSuccess) {
    Compare(kPinStages[1], e, s);
  } else {
    Step();
  }
  EndStage(kPinStages[1], e, s, true);

  // Stage 3: walking zero on the control lines.
  Set(e, kAllAddress, 0xFFFF, 0xFFFFFFFE);
  Drive(e);
  std::uint32_t m = 1;
  for (int k = 0; k < 32 && !Halted(); ++k) {
    const std::uint32_t n = std::rotl(m, 1);
    e.SetControlLines(~n);
    DriveAndSample(e);
    if (Sample(s) == rc::kSuccess) {
      e.SetControlLines(~m);
      Compare(kPinStages[2], e, s);
    } else {
      Step();
    }
    m = n;
  }
  EndStage(kPinStages[2], e, s, true);

  // Stages 4 and 5: walking one and walking zero on the address lines.
  for (int walk = 0; walk < 2; ++walk) {
    const PinStage& stage = kPinStages[3 + walk];
    const bool zero = walk == 1;
    if (zero) {
      Set(e, 0x3FFFFFE, 0xFFFF, 0xFFFFFFFF);
    } else {
      Set(e, 1, 0, 0);
    }
    Drive(e);
    m = 1;
    for (int k = 0; k < 26 && !Halted(); ++k) {
      const std::uint32_t n = std::rotl(m, 1);
      e.SetAddressLines(zero ? ~n : n);
      DriveAndSample(e);
      if (Sample(s) == rc::kSuccess) {
        e.SetAddressLines(zero ? ~m : m);
        Compare(stage, e, s);
      } else {
        Step();
      }
      m = n;
    }
    EndStage(stage, e, s, true);
  }

  // Stage 6: walking one on the data lines.
  Set(e, 0, 1, 0);
  Drive(e);
  for (int i = 0; i < 16 && !Halted(); ++i) {
    e.SetDataLines(static_cast<std::uint16_t>(1u << (i + 1)));
    DriveAndSample(e);
    if (Sample(s) == rc::kSuccess) {
      e.SetDataLines(static_cast<std::uint16_t>(1u << i));
      Compare(kPinStages[5], e, s);
    } else {
      Step();
    }
  }
  EndStage(kPinStages[5], e, s, true);

  // Stage 7: walking zero on the data lines; the first difference ends it.
  const PinStage& last = kPinStages[6];
  Set(e, kAllAddress, 0xFFFE, 0xFFFFFFFF);
  Drive(e);
  bool differed = false;
  for (int i = 0; i < 16 && !Halted(); ++i) {
    e.SetDataLines(static_cast<std::uint16_t>(~(1u << (i + 1))));
    DriveAndSample(e);
    if (Sample(s) != rc::kSuccess) {
      Step();
      continue;
    }
    e.SetDataLines(static_cast<std::uint16_t>(~(1u << i)));
    if (!Compare(last, e, s)) {
      differed = true;
      break;
    }
  }
  outcome_.lastStageCompleted = !differed && !Halted();
  outcome_.stopped = Stopped();
  // The pin list of the last stage shows when it found a difference, or
  // when earlier stages did and every read came back.
  const bool show = differed || (outcome_.lastStageCompleted &&
                                 outcome_.firstFailedRead == rc::kSuccess && outcome_.mismatch);
  EndStage(last, e, s, show);
  if (outcome_.stopped) return outcome_;
  outcome_.findings = diagnosis_.Findings();
  // Steps the last stage skipped after its difference are done too.
  if (steps_ < kPinComparisons && !linkLost_) report_.Progress(kPinComparisons, 0);
  report_.Finish(outcome_.Code(), outcome_.Verdict());
  return outcome_;
}

}  // namespace

CpuPinTestOutcome RunCpuPinTest(BoxLink& link, const StopToken& stop, RunSink& run,
                                CpuPinTestEvents& events) {
  return PinRun(link, stop, run, events).Run();
}

}  // namespace tarnvale
