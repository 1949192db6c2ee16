// The reply readers' time limits on a fake clock: replies that trickle in
// with gaps just inside and just past each limit, checked to the millisecond
// without waiting for any of them. The clock starts shortly before its 32-bit
// wrap, so every limit is also crossed over the wrap.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "support/FakeLink.h"

namespace tarnvale::test {
namespace {

constexpr std::uint32_t kStartTick = 0xFFFFF000u;  // 4096 ms before the wrap

// One piece of a reply: how long after the previous piece it arrives.
struct Piece {
  std::uint32_t afterMs;
  std::string bytes;
};

struct LinkOnFakeClock {
  LinkOnFakeClock() { link.AttachTo(port); }
  // Schedules the pieces, each relative to the one before.
  void Send(const std::vector<Piece>& pieces) {
    std::uint32_t at = 0;
    for (const Piece& p : pieces) link.Arrive(at += p.afterMs, p.bytes);
  }
  std::uint32_t Elapsed() const { return clock.TickMs() - kStartTick; }
  FakeClock clock{kStartTick};
  FakeLink link{clock};
  CommPort port;
};

std::string AsText(const Packet& p) { return std::string(p.begin(), p.end()); }

// Splits `text` into pieces of `size` bytes, each `gapMs` after the one before.
std::vector<Piece> Trickled(const std::string& text, std::size_t size, std::uint32_t gapMs) {
  std::vector<Piece> pieces;
  for (std::size_t at = 0; at < text.size(); at += size) pieces.push_back({gapMs, text.substr(at, size)});
  return pieces;
}

std::vector<Piece> Join(std::vector<Piece> a, const std::vector<Piece>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  const char* what;
  std::vector<Piece> pieces;
  ResultCode expected;
  std::uint32_t returnsAtMs;  // clock reading when the reader returns
};

// The box's framed reply: the 5000 ms limit starts again with every chunk
// that arrives, whether it belongs to a record or not.
TEST(FramedReplyTimeLimit, RestartsWheneverBytesArrive) {
  const std::string frame = AsText(BuildPacket(3, 0x1234, 0x23, std::vector<std::uint8_t>{'1', '.', '5'}));
  ASSERT_EQ(frame.size(), 9u);
  std::string overlong = ":";
  overlong += static_cast<char>(200);  // a count that cannot complete within 80 bytes
  overlong += std::string(100, 'Z');
  const std::uint32_t limit = kFramedReplyTimeoutMs;
  const std::vector<Case> cases = {
      {"one byte every 4.9 s, 44.1 s in all", Trickled(frame, 1, 4900), '0', 9 * 4900},
      {"three pieces, each exactly the limit apart", Trickled(frame, 3, limit), '0', 3 * limit},
      {"noise every 4 s for 20 s, then the record", Join(Trickled("noise", 1, 4000), {{4000, frame}}), '0',
       24000},
      {"nothing at all", {}, rc::kTimeout, limit + 1},
      {"a gap 100 ms past the limit inside the record", {{100, frame.substr(0, 4)}, {limit + 100, frame.substr(4)}},
       rc::kTimeout, 100 + limit + 1},
      {"an overlong record, then silence", {{10, overlong}}, rc::kStringTooLong, 10 + limit + 1},
      {"an overlong record, then a stray byte 4 s later", {{10, overlong}, {4000, "x"}}, rc::kTimeout,
       4010 + limit + 1},
  };
  for (const Case& c : cases) {
    LinkOnFakeClock f;
    f.Send(c.pieces);
    MemoryRecord record;
    EXPECT_EQ(ReadFramedReply(f.port, record, kFramedReplyTimeoutMs, f.clock), c.expected) << c.what;
    EXPECT_EQ(f.Elapsed(), c.returnsAtMs) << c.what;
    if (c.expected == rc::kSuccess) {
      EXPECT_EQ(record.address, 0x1234) << c.what;
      EXPECT_EQ(record.data, (std::vector<std::uint8_t>{'1', '.', '5'})) << c.what;
    }
  }
}

// A controller line has one limit for the whole line: bytes arriving in
// time do not extend it.
TEST(HexReplyTimeLimit, CoversTheWholeLineAndIsNotRestarted) {
  const std::string line = ":0300000001020305\n\r";
  const std::vector<Case> cases = {
      {"four pieces, the last exactly at the limit", Trickled(line, 5, 250), '0', 1000},
      {"four pieces 300 ms apart: every gap short, the line late", Trickled(line, 5, 300), rc::kTimeout, 1001},
      {"a status reply just in time", {{999, "0X\r"}}, '0', 999},
      {"silence", {}, rc::kTimeout, 1001},
  };
  for (const Case& c : cases) {
    LinkOnFakeClock f;
    f.Send(c.pieces);
    HexReply reply;
    EXPECT_EQ(ReadHexReply(f.port, 1000, reply, f.clock), c.expected) << c.what;
    EXPECT_EQ(f.Elapsed(), c.returnsAtMs) << c.what;
  }
}

// The words shown afterwards tell a '@' the device sent from a wait that ran
// out, although the code is the same byte.
TEST(StatusByteTimeLimit, FirstByteWithinTheLimit) {
  struct StatusCase {
    Case c;
    std::string text;
  };
  const std::string timeout = "Timeout while waiting for a response";
  const std::vector<StatusCase> cases = {
      {{"at once", {{0, "0"}}, '0', 0}, "Success"},
      {{"at exactly the limit", {{500, "H"}}, 'H', 500}, "Erase Error"},
      {{"two milliseconds past the limit", {{502, "H"}}, rc::kTimeout, 501}, timeout},
      {{"silence", {}, rc::kTimeout, 501}, timeout},
      {{"the device's own '@'", {{100, "@"}}, rc::kTimeout, 100},
       timeout + " (the device answered '@' after 0.1 s of the 0.5 s allowed; not a wait of this program that "
                 "ran out)"},
      {{"'@' at once", {{0, "@"}}, rc::kTimeout, 0},
       timeout + " (the device answered '@' after 0.0 s of the 0.5 s allowed; not a wait of this program that "
                 "ran out)"},
  };
  for (const StatusCase& s : cases) {
    const Case& c = s.c;
    LinkOnFakeClock f;
    f.Send(c.pieces);
    const ResultCode code = WaitStatusByte(f.port, 500, f.clock);
    EXPECT_EQ(code, c.expected) << c.what;
    EXPECT_EQ(f.Elapsed(), c.returnsAtMs) << c.what;
    EXPECT_EQ(StatusResultText(code, &f.port), s.text) << c.what;
    // A purge (every command begins with one) forgets what the wait saw.
    f.port.Purge();
    EXPECT_EQ(StatusResultText(code, &f.port), ReplyResultText(code)) << c.what;
  }
}

TEST(TextReplyTimeLimit, WaitsForTheExpectedLengthOrTheLimit) {
  struct TextCase {
    Case c;
    std::string text;
  };
  const std::vector<TextCase> cases = {
      {{"in two pieces within the limit", {{100, "12"}, {800, "345"}}, '0', 900}, "12345"},
      {{"the rest comes too late: what came is the reply", {{100, "12"}, {1000, "345"}}, '0', 1001}, "12"},
      {{"more than expected", {{100, "123456"}}, '1', 100}, "123456"},
      {{"silence", {}, rc::kTimeout, 1001}, ""},
  };
  for (const TextCase& t : cases) {
    LinkOnFakeClock f;
    f.Send(t.c.pieces);
    std::string reply;
    EXPECT_EQ(SendAndReadText(f.port, "Q", reply, 5, 1000, f.clock), t.c.expected) << t.c.what;
    EXPECT_EQ(f.Elapsed(), t.c.returnsAtMs) << t.c.what;
    if (t.c.expected != rc::kTimeout) {
      EXPECT_EQ(reply, t.text) << t.c.what;
    }
    EXPECT_EQ(f.link.Writes(), (std::vector<FakeLink::Bytes>{{'Q'}})) << t.c.what;
    EXPECT_EQ(f.link.WaitsWithBytesWaiting(), 0u) << t.c.what << ": part of the reply waiting must not make it spin";
  }
}

}  // namespace
}  // namespace tarnvale::test
