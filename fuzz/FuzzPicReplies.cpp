// The PIC reply readers of the programmer: the device ID reply (decoded on
// its own and read from a byte stream after the box's settling time) and
// the status records of a RAM bank run. The first input byte picks the
// reader and the target; the rest is the reply.
#include "core/link/CommPort.h"
#include "core/programmer/BoxWorkers.h"
#include "core/programmer/PicCommands.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

namespace {

void CheckId(bool ok, const DeviceIdInfo& info, Target t) {
  if (!ok || info.a == 0xFFFFFFFF) {
    TARNVALE_FUZZ_CHECK(info.first == "N/A" && info.second == "N/A");
    return;
  }
  // A decoded ID always shows as hex of its own values.
  char buf[16];
  std::snprintf(buf, sizeof buf, t == Target::Pic18F252 ? "%02X" : "%04X", info.a);
  TARNVALE_FUZZ_CHECK(info.first == buf);
  if (t == Target::Pic18F252) TARNVALE_FUZZ_CHECK(info.a <= 0x1F && info.b <= 0x7FF);
  else TARNVALE_FUZZ_CHECK(info.a <= 0xFFFF && info.b <= 0xFFFF);
  TARNVALE_FUZZ_CHECK(!DeviceIdText(info).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  const Target t = (pick & 0x04) != 0 ? Target::DsPic30F : Target::Pic18F252;
  const std::vector<std::uint8_t> reply(data + 1, data + size);
  switch (pick % 3) {
    case 0: {
      DeviceIdInfo info;
      const bool ok = DeviceIdFromReply(reply, t, info);
      if (ok) TARNVALE_FUZZ_CHECK(reply.size() >= 6 && reply[0] == ':');
      CheckId(ok, info, t);
      break;
    }
    case 1: {
      fuzz::FakeClock clock;
      CommPort port;
      port.Attach(std::make_unique<fuzz::MemoryStream>(reply, clock, pick >> 3, true));
      DeviceIdInfo info;
      BoxTimings timings;
      timings.jtagSettleMs = 100;
      const bool ok = ReadDeviceId(info, port, t, timings, clock);
      CheckId(ok, info, t);
      if (t == Target::DsPic30F && ok && info.a != 0xFFFFFFFF) TARNVALE_FUZZ_CHECK(!WrongDsPicText(info).empty());
      break;
    }
    default: {
      MemoryRecord record;
      record.data = reply;
      record.count = static_cast<std::uint8_t>(reply.size());
      RamStatus status;
      if (DecodeRamStatus(record, status)) {
        TARNVALE_FUZZ_CHECK(reply.size() >= 10);
        TARNVALE_FUZZ_CHECK(!RamFailureText(status).empty());
      } else {
        TARNVALE_FUZZ_CHECK(reply.size() < 10);
      }
      break;
    }
  }
  return 0;
}
