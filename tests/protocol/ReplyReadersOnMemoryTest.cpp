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
  const char* line = nullptr;     // the line a hex reader kept
  std::vector<std::uint8_t> pairs = {};  // its decoded pairs, checksum last
};

TEST(ReplyReadersOnMemory, EndWithTheirCodeOnTheirOwnClock) {
  const std::string framed = {':', 0x02, 0x12, 0x34, 0x23, 0x0A, 0x0B, static_cast<char>(0x100 - 0x80)};
  const std::string record = ":03FFE000010203FF";  // its checksum is wrong: a line's is never checked
  const std::vector<Case> cases{
      {"status byte", Reader::Status, "4", 0, '4', 0},
      {"no status byte", Reader::Status, "", 0, rc::kTimeout, 500},
      {"line in pieces", Reader::HexLine, record + "\n\r", 3, rc::kSuccess, 0, ":03FFE000010203FF",
       {0x01, 0x02, 0x03, 0xFF}},
      {"short record line", Reader::HexLine, ":0\n\r", 0, rc::kSuccess, 0, ":0", {}},
      {"text line", Reader::HexLine, "00000000 03FFFFFF 00000001\n\r", 5, rc::kSuccess, 0,
       "00000000 03FFFFFF 00000001", {}},
      {"status reply", Reader::HexLine, "IX\r", 1, 'I', 0},
      {"CR too early", Reader::HexLine, "\r", 0, rc::kUnrecognizedResponse, 0},
      {"CR at position 1", Reader::HexLine, "B\r", 0, rc::kUnrecognizedResponse, 0},
      {"line never ends", Reader::HexLine, ":0200000", 2, rc::kTimeout, 2000},
      {"79 characters", Reader::HexLine, std::string(79, 'F') + "\n\r", 0, rc::kSuccess, 0,
       "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", {}},
      {"line too long", Reader::HexLine, std::string(81, 'A') + "\n\r", 7, rc::kStringTooLong, 0},
      {"endless garbage", Reader::HexLine, std::string(5000, 'x'), 64, rc::kStringTooLong, 0},
      {"framed record", Reader::Framed, "noise" + framed, 2, rc::kSuccess, 0},
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
        if (c.line != nullptr) {
          EXPECT_EQ(reply.line, c.line);
          EXPECT_EQ(reply.isRecord, c.line[0] == ':');
          EXPECT_EQ(reply.pairs, c.pairs);
        }
        if (!c.pairs.empty()) {
          EXPECT_EQ(reply.count, 3);
          EXPECT_EQ(reply.address, 0xFFE0);
          EXPECT_EQ(reply.type, 0x00);
        }
        break;
      }
      case Reader::Framed: {
        MemoryRecord got;
        code = ReadFramedReply(port, got, kFramedReplyTimeoutMs, clock);
        if (code == rc::kSuccess) {
          EXPECT_EQ(got.count, 2);
          EXPECT_EQ(got.address, 0x1234);
          EXPECT_EQ(got.type, 0x23);
          EXPECT_EQ(got.data, (std::vector<std::uint8_t>{0x0A, 0x0B}));
          EXPECT_EQ(got.checksum, 0x80);
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
