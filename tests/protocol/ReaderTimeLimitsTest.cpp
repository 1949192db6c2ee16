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

enum class Reader { Framed, HexLine, Status, Text };

struct Case {
  const char* what;
  Reader reader;
  std::vector<Piece> pieces;
  ResultCode expected;
  std::uint32_t returnsAtMs;  // clock reading when the reader returns
  std::string text = {};      // the status shown, the text reply or the line kept
  std::vector<std::uint8_t> pairs = {};  // a line's decoded pairs, checksum last
};

// Each reader's limit: the box's framed reply waits 5000 ms and starts again
// with every chunk that arrives, whether it belongs to a record or not; a
// controller line has one limit for the whole line (bytes in time do not
// extend it); a status byte must come within its limit; a text reply waits
// for its expected length or the limit, and what came by then is the reply.
// A hex line ends at its LF CR, within 80 characters; a record's pairs are decoded.
TEST(ReaderTimeLimits, EachReaderKeepsItsOwnLimit) {
  const std::string frame = AsText(BuildPacket(3, 0x1234, 0x23, std::vector<std::uint8_t>{'1', '.', '5'}));
  ASSERT_EQ(frame.size(), 9u);
  std::string overlong = ":";
  overlong += static_cast<char>(200);  // a count that cannot complete within 80 bytes
  overlong += std::string(100, 'Z');
  const std::uint32_t limit = kFramedReplyTimeoutMs;
  const std::string line = ":0300000001020305\n\r";
  const std::string recordLine = ":03FFE000010203FF";
  const std::string text = "00000000 03FFFFFF 00000001";
  const std::string badSum = frame.substr(0, 8) + static_cast<char>(frame.back() ^ 1);
  const std::string timeout = "Timeout while waiting for a response";
  const std::string deviceAt = timeout + " (the device answered '@' after ";
  const std::string notOurs = " s of the 0.5 s allowed; not a wait of this program that ran out)";
  const std::vector<Case> cases = {
      {"framed: one byte every 4.9 s, 44.1 s in all", Reader::Framed, Trickled(frame, 1, 4900), '0', 9 * 4900},
      {"framed: noise every 4 s for 20 s, then the record", Reader::Framed,
       Join(Trickled("noise", 1, 4000), {{4000, frame}}), '0', 24000},
      {"framed: a checksum that does not fit", Reader::Framed, {{0, badSum}}, rc::kBadChecksum, 0},
      {"framed: noise that never starts a record", Reader::Framed, {{0, std::string(200, 'z')}}, rc::kTimeout,
       limit + 1},
      {"framed: a gap 100 ms past the limit inside the record", Reader::Framed,
       {{100, frame.substr(0, 4)}, {limit + 100, frame.substr(4)}}, rc::kTimeout, 100 + limit + 1},
      {"framed: an overlong record, then silence", Reader::Framed, {{10, overlong}}, rc::kStringTooLong,
       10 + limit + 1},
      {"line: four pieces, the last exactly at the limit", Reader::HexLine, Trickled(line, 5, 250), '0', 1000},
      {"line: four pieces 300 ms apart: every gap short, the line late", Reader::HexLine, Trickled(line, 5, 300),
       rc::kTimeout, 1001},
      {"line: a status reply just in time", Reader::HexLine, {{999, "0X\r"}}, '0', 999},
      // A line's checksum is never checked; its pairs are kept as they came.
      {"line: a record", Reader::HexLine, {{0, recordLine + "\n\r"}}, '0', 0, recordLine,
       {0x01, 0x02, 0x03, 0xFF}},
      {"line: a text line", Reader::HexLine, {{0, text + "\n\r"}}, '0', 0, text},
      {"line: 79 characters", Reader::HexLine, {{0, std::string(79, 'F') + "\n\r"}}, '0', 0, std::string(79, 'F')},
      // With its LF a line of 79 fills the 80 places; one more is too long.
      {"line: 80 characters", Reader::HexLine, {{0, std::string(80, 'A') + "\n\r"}}, rc::kStringTooLong, 0},
      {"line: endless garbage", Reader::HexLine, Trickled(std::string(5000, 'x'), 64, 0), rc::kStringTooLong, 0},
      {"line: CR first", Reader::HexLine, {{0, "\r"}}, rc::kUnrecognizedResponse, 0},
      // The words shown afterwards tell a '@' the device sent from a wait
      // that ran out, although the code is the same byte.
      {"status: at once", Reader::Status, {{0, "0"}}, '0', 0, "Success"},
      {"status: at exactly the limit", Reader::Status, {{500, "H"}}, 'H', 500, "Erase Error"},
      {"status: two milliseconds past the limit", Reader::Status, {{502, "H"}}, rc::kTimeout, 501, timeout},
      {"status: the device's own '@'", Reader::Status, {{100, "@"}}, rc::kTimeout, 100, deviceAt + "0.1" + notOurs},
      {"text: in two pieces within the limit", Reader::Text, {{100, "12"}, {800, "345"}}, '0', 900, "12345"},
      {"text: the rest comes too late", Reader::Text, {{100, "12"}, {1000, "345"}}, '0', 1001, "12"},
      {"text: more than expected", Reader::Text, {{100, "123456"}}, '1', 100, "123456"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkOnFakeClock f;
    f.Send(c.pieces);
    ResultCode code = 0;
    switch (c.reader) {
      case Reader::Framed: {
        MemoryRecord record;
        code = ReadFramedReply(f.port, record, kFramedReplyTimeoutMs, f.clock);
        if (code == rc::kSuccess) {
          EXPECT_EQ(record.data, (std::vector<std::uint8_t>{'1', '.', '5'}));
        }
        break;
      }
      case Reader::HexLine: {
        HexReply reply;
        code = ReadHexReply(f.port, 1000, reply, f.clock);
        if (c.text.empty()) break;
        EXPECT_EQ(reply.line, c.text);
        EXPECT_EQ(reply.isRecord, c.text[0] == ':');
        EXPECT_EQ(reply.pairs, c.pairs);
        if (c.pairs.empty()) break;
        EXPECT_EQ(reply.count, 3);
        EXPECT_EQ(reply.address, 0xFFE0);
        EXPECT_EQ(reply.type, 0x00);
        break;
      }
      case Reader::Status:
        code = WaitStatusByte(f.port, 500, f.clock);
        EXPECT_EQ(StatusResultText(code, &f.port), c.text);
        // A purge (every command begins with one) forgets what the wait saw.
        f.port.Purge();
        EXPECT_EQ(StatusResultText(code, &f.port), ReplyResultText(code));
        break;
      case Reader::Text: {
        std::string reply;
        code = SendAndReadText(f.port, "Q", reply, 5, 1000, f.clock);
        EXPECT_EQ(reply, c.text);
        EXPECT_EQ(f.link.Writes(), (std::vector<FakeLink::Bytes>{{'Q'}}));
        EXPECT_EQ(f.link.WaitsWithBytesWaiting(), 0u) << "part of the reply waiting must not make it spin";
        break;
      }
    }
    EXPECT_EQ(code, c.expected);
    EXPECT_EQ(f.Elapsed(), c.returnsAtMs);
  }
}

}  // namespace
}  // namespace tarnvale::test
