// The reply readers against a link held in memory, on a clock that moves
// only while they wait: what a device sends in pieces, garbled or never
// finished, ends in the documented code and the reader's own time-out,
// without a real second passing.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/link/CommPort.h"
#include "core/protocol/Util.h"
#include "support/FakeLink.h"

namespace tarnvale {
namespace {

using test::FakeClock;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

enum class Reader { Status, HexLine, Framed };

struct Case {
  const char* what;
  Reader reader;
  std::string sent;
  std::size_t chunk;  // bytes arriving at a time (0: all at once)
  ResultCode code;
  std::uint32_t waitedAtLeastMs;  // on the step clock
};

TEST(ReplyReadersOnMemory, EndWithTheirCodeOnTheirOwnClock) {
  const std::string framed = {':', 0x02, 0x12, 0x34, 0x00, 0x0A, 0x0B, static_cast<char>(0x100 - 0x5D)};
  const std::vector<Case> cases{
      {"status byte", Reader::Status, "4", 0, '4', 0},
      {"no status byte", Reader::Status, "", 0, rc::kTimeout, 500},
      {"line in pieces", Reader::HexLine, ":02000000AABB\n\r", 3, rc::kSuccess, 0},
      {"status reply", Reader::HexLine, "IX\r", 1, 'I', 0},
      {"CR too early", Reader::HexLine, "\r", 0, rc::kUnrecognizedResponse, 0},
      {"line never ends", Reader::HexLine, ":0200000", 2, rc::kTimeout, 2000},
      {"line too long", Reader::HexLine, std::string(81, 'A') + "\n\r", 7, rc::kStringTooLong, 0},
      {"framed record", Reader::Framed, "xx" + framed, 2, rc::kSuccess, 0},
      {"framed, bad checksum", Reader::Framed, framed.substr(0, 7) + '\x01', 0, rc::kBadChecksum, 0},
      {"framed, cut short", Reader::Framed, framed.substr(0, 5), 1, rc::kTimeout, kFramedReplyTimeoutMs},
      {"framed, no start", Reader::Framed, std::string(200, 'z'), 13, rc::kTimeout, kFramedReplyTimeoutMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    CommPort port;
    port.Attach(std::make_unique<test::LinkStream>(Bytes(c.sent), clock, c.chunk, false));
    const std::uint32_t before = clock.TickMs();
    ResultCode code = 0;
    switch (c.reader) {
      case Reader::Status: code = WaitStatusByte(port, 500, clock); break;
      case Reader::HexLine: {
        HexReply reply;
        code = ReadHexReply(port, 2000, reply, clock);
        if (code == rc::kSuccess) {
          EXPECT_EQ(reply.line, ":02000000AABB");
          EXPECT_EQ(reply.pairs, (std::vector<std::uint8_t>{0xAA, 0xBB}));
        }
        break;
      }
      case Reader::Framed: {
        MemoryRecord record;
        code = ReadFramedReply(port, record, kFramedReplyTimeoutMs, clock);
        if (code == rc::kSuccess) {
          EXPECT_EQ(record.address, 0x1234);
          EXPECT_EQ(record.data, (std::vector<std::uint8_t>{0x0A, 0x0B}));
        }
        break;
      }
    }
    EXPECT_EQ(code, c.code);
    EXPECT_GE(clock.TickMs() - before, c.waitedAtLeastMs);
    if (c.waitedAtLeastMs == 0) {
      EXPECT_EQ(clock.TickMs(), before) << "waited although the reply was there";
    }
  }
}

}  // namespace
}  // namespace tarnvale
