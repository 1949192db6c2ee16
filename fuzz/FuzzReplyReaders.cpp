// The link's reply readers fed from a byte stream: WaitStatusByte,
// ReadHexReply and ReadFramedReply. The first input byte picks the reader
// and how many bytes arrive at a time; the rest is what the device sends.
// Time only passes while a reader waits, so a reply that never completes
// ends in the reader's time-out at once.
#include "core/link/CommPort.h"
#include "core/protocol/Util.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  const std::size_t chunk = pick >> 2;  // 0: everything at once
  fuzz::FakeClock clock;
  CommPort port;
  port.Attach(std::make_unique<fuzz::MemoryStream>(std::vector<std::uint8_t>(data + 1, data + size), clock,
                                                  chunk, false));
  switch (pick % 3) {
    case 0: {
      const ResultCode code = WaitStatusByte(port, 500, clock);
      if (size == 1) TARNVALE_FUZZ_CHECK(code == rc::kTimeout);
      else TARNVALE_FUZZ_CHECK(code == data[1]);
      break;
    }
    case 1: {
      HexReply reply;
      const ResultCode code = ReadHexReply(port, 2000, reply, clock);
      if (code == rc::kSuccess) {
        TARNVALE_FUZZ_CHECK(reply.line.size() < kMaxReplyLine);
        if (reply.isRecord) TARNVALE_FUZZ_CHECK(reply.line.front() == ':');
      }
      break;
    }
    default: {
      MemoryRecord record;
      const ResultCode code = ReadFramedReply(port, record, kFramedReplyTimeoutMs, clock);
      if (code == rc::kSuccess || code == rc::kBadChecksum) {
        TARNVALE_FUZZ_CHECK(record.data.size() == record.count);
      }
      break;
    }
  }
  return 0;
}
