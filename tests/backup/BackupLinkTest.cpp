// The backup link: frames, reply limits, stale bytes and record fields.
#include <gtest/gtest.h>

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "sim/Rq750Device.h"
#include "support/FakeLink.h"

namespace tarnvale {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<std::uint8_t> b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

TEST(BackupFrame, MatchesTheWireBytes) {
  struct Case {
    std::string command;
    std::optional<std::vector<std::uint8_t>> frame;
  };
  const Case cases[] = {
      {"ML+", Bytes({0x02, 0x30, 0x31, 0x4D, 0x4C, 0x2B, 0x44, 0x42, 0x03})},
      // "01" alone sums to 0x61: 0x100 - 0x61 = 0x9F.
      {"", Bytes({0x02, 0x30, 0x31, '9', 'F', 0x03})},
      // "vX": 0x61 + 0x76 + 0x58 = 0x12F -> 0xD1.
      {"vX", Bytes({0x02, 0x30, 0x31, 'v', 'X', 'D', '1', 0x03})},
      // "01" + 0x9F brings the sum to 0x100: the two's complement is 00.
      {"\x9F", Bytes({0x02, 0x30, 0x31, 0x9F, '0', '0', 0x03})},
      {std::string(251, 'A'), std::nullopt},  // longer than 250 characters
  };
  for (const auto& c : cases) EXPECT_EQ(BackupFrame(c.command), c.frame) << c.command;
  EXPECT_EQ(BackupFrame(std::string(250, 'A'))->size(), 256u);
}

TEST(BackupReply, PayloadLimitsAndChecksumsThatAreOnlyCounted) {
  struct Case {
    std::vector<std::uint8_t> frame;
    std::optional<std::string> payload;
    ExchangeError why;
    bool checksumOk;
  };
  const auto frameOf = [](const std::string& p) { return sim::Rq750Frame(p); };
  const Case cases[] = {
      {frameOf("0"), "0", ExchangeError::None, true},  // success with no data
      {frameOf(""), "", ExchangeError::None, true},
      {Bytes({0x02, '0', '1', 'A', 0x03}), std::nullopt, ExchangeError::ReplyTooShort, false},
      {frameOf(std::string(127, 'x')), std::string(127, 'x'), ExchangeError::None, true},
      {frameOf(std::string(128, 'x')), std::nullopt, ExchangeError::PayloadTooLong, false},
      // The checksum covers the reply's own address, in either hex case.
      {sim::Rq750Frame("P1$12.5$0", "07", false, false), "P1$12.5$0", ExchangeError::None, true},
      {sim::Rq750Frame("P1$12.5$0", "01", true, false), "P1$12.5$0", ExchangeError::None, true},
      {Bytes({0x02, '0', '1', '0', '6', 'f', 0x03}), "0", ExchangeError::None, true},
      // One bit of the payload or of the checksum changed on the way: the
      // payload is taken as it came, the mismatch only noted.
      {[&] { auto f = frameOf("P1$12.5$0"); f[4] ^= 0x01; return f; }(), "P0$12.5$0", ExchangeError::None, false},
      {[&] { auto f = frameOf("0"); f[f.size() - 2] ^= 0x01; return f; }(), "0", ExchangeError::None, false},
      {sim::Rq750Frame("0", "01", false, true), "0", ExchangeError::None, false},
      {Bytes({0x02, '0', '1', '0', 'x', 'F', 0x03}), "0", ExchangeError::None, false},  // not hex at all
  };
  for (const auto& c : cases) {
    ExchangeError why = ExchangeError::None;
    bool checksumOk = !c.checksumOk;
    EXPECT_EQ(BackupReplyPayload(c.frame, why, &checksumOk), c.payload);
    EXPECT_EQ(why, c.why);
    if (c.payload) {
      EXPECT_EQ(checksumOk, c.checksumOk) << *c.payload;
    }
  }
  EXPECT_EQ(BackupStatus("0"), '0');
  EXPECT_EQ(BackupStatus(""), '\0');
}

TEST(BackupFields, ListCountFromCharactersTwoToSix) {
  EXPECT_EQ(BackupListCount("0000120"), 12);
  EXPECT_EQ(BackupListCount("0    70"), 7);
  EXPECT_EQ(BackupListCount("0"), 0);
  EXPECT_EQ(BackupListCount("0123456789"), 12345);
}

// The exchange over the in-memory link: its time-outs pass on the fake clock.
class ExchangeOnLink : public ::testing::Test {
 protected:
  void SetUp() override { link.AttachTo(port); }
  // The controller answers every request with `answer`.
  void AnswerWith(const std::vector<std::uint8_t>& answer) {
    link.SetResponder([answer](const test::FakeLink::Bytes&) {
      return std::vector<test::FakeLink::Reply>{{0, answer}};
    });
  }
  test::FakeClock clock{1000};
  test::FakeLink link{clock};
  CommPort port;
};

TEST_F(ExchangeOnLink, BytesLeftFromATimedOutExchangeAreDiscarded) {
  std::string reply;
  ExchangeError why = ExchangeError::None;
  EXPECT_FALSE(ExchangeBackupCommand(port, "ML", reply, &why, clock));
  EXPECT_EQ(why, ExchangeError::NoReply);
  // The late answer to it arrives before the next request is sent.
  link.Arrive(0, sim::Rq750Frame("late$0"));
  AnswerWith(sim::Rq750Frame("fresh$0"));
  EXPECT_TRUE(ExchangeBackupCommand(port, "vX", reply, &why, clock));
  EXPECT_EQ(reply, "fresh$0");
  EXPECT_EQ(link.Writes().back(), *BackupFrame("vX"));
}

// A reply that runs past the 256 bytes gathered at most fails as too long
// and leaves no payload behind (shorter faults are the reply table's).
TEST_F(ExchangeOnLink, OverlongReplyFails) {
  AnswerWith(sim::Rq750Frame(std::string(300, 'x')));
  std::string reply = "old";
  ExchangeError why = ExchangeError::None;
  EXPECT_FALSE(ExchangeBackupCommand(port, "PU", reply, &why, clock));
  EXPECT_EQ(why, ExchangeError::PayloadTooLong);
  EXPECT_EQ(reply, "");
}

}  // namespace
}  // namespace tarnvale
