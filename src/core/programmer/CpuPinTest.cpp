#include "core/programmer/CpuPinTest.h"

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

void CpuPinTest::Drive(const PinImage& image) {
  if (Halted()) return;
  link_.Send(BuildPacket(kPinImageSize, 0, box_type::kDrivePins, image.bytes));
}

void CpuPinTest::DriveAndSample(const PinImage& image) {
  if (Halted()) return;
  link_.Send(BuildPacket(kPinImageSize, 0, box_type::kDriveAndSample, image.bytes));
}

ResultCode CpuPinTest::Sample(PinImage& sampled) {
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

void CpuPinTest::Compare(const PinStage& stage, const PinImage& e, const PinImage& s) {
  if (PinLevelsEqual(e, s)) return;
  outcome_.mismatch = true;
  events_.OnMismatch(stage, e, s);
}

CpuPinTestOutcome CpuPinTest::Run() {
  outcome_ = {};
  linkLost_ = false;
  PinImage e = PinImage::Initial();
  PinImage s = PinImage::Initial();

  // Stage 1: all low, after all high has been driven once.
  Set(e, 0, 0, 0);
  Drive(e);
  Set(e, kAllAddress, 0xFFFF, 0xFFFFFFFF);
  DriveAndSample(e);
  Set(e, 0, 0, 0);
  if (Sample(s) == rc::kSuccess) Compare(kPinStages[0], e, s);
  if (!stop_) events_.OnStage(kPinStages[0], e, s, true);

  // Stage 2: all high.
  DriveAndSample(e);
  Set(e, kAllAddress, 0xFFFF, 0xFFFFFFFF);
  if (Sample(s) == rc::kSuccess) Compare(kPinStages[1], e, s);
  if (!stop_) events_.OnStage(kPinStages[1], e, s, true);

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
    }
    m = n;
  }
  if (!stop_) events_.OnStage(kPinStages[2], e, s, true);

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
      }
      m = n;
    }
    if (!stop_) events_.OnStage(stage, e, s, true);
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
    }
  }
  if (!stop_) events_.OnStage(kPinStages[5], e, s, true);

  // Stage 7: walking zero on the data lines; the first difference ends it.
  const PinStage& last = kPinStages[6];
  Set(e, kAllAddress, 0xFFFE, 0xFFFFFFFF);
  Drive(e);
  bool stopped = false;
  for (int i = 0; i < 16 && !Halted(); ++i) {
    e.SetDataLines(static_cast<std::uint16_t>(~(1u << (i + 1))));
    DriveAndSample(e);
    if (Sample(s) != rc::kSuccess) continue;
    e.SetDataLines(static_cast<std::uint16_t>(~(1u << i)));
    if (!PinLevelsEqual(e, s)) {
      Compare(last, e, s);
      stopped = true;
      break;
    }
  }
  outcome_.lastStageCompleted = !stopped && !Halted();
  outcome_.stopped = stop_.load();
  if (!stop_) {
    // The pin list of the last stage shows when it found a difference, or
    // when earlier stages did and every read came back.
    const bool show = stopped || (outcome_.lastStageCompleted &&
                                  outcome_.firstFailedRead == rc::kSuccess && outcome_.mismatch);
    events_.OnStage(last, e, s, show);
  }
  return outcome_;
}

}  // namespace tarnvale
