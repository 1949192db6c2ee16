// The backup link: frames, reply limits, stale bytes and record fields.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "sim/Rq750Device.h"
#include "support/Pty.h"

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
    std::vector<std::uint8_t> frame;
  };
  const Case cases[] = {
      {"ML+", Bytes({0x02, 0x30, 0x31, 0x4D, 0x4C, 0x2B, 0x44, 0x42, 0x03})},
      // "01" alone sums to 0x61: 0x100 - 0x61 = 0x9F.
      {"", Bytes({0x02, 0x30, 0x31, '9', 'F', 0x03})},
      // "vX": 0x61 + 0x76 + 0x58 = 0x12F -> 0xD1.
      {"vX", Bytes({0x02, 0x30, 0x31, 'v', 'X', 'D', '1', 0x03})},
  };
  for (const auto& c : cases) {
    const auto frame = BackupFrame(c.command);
    ASSERT_TRUE(frame) << c.command;
    EXPECT_EQ(*frame, c.frame) << c.command;
  }
}

TEST(BackupFrame, ChecksumWrapsToZero) {
  // "01" + 0x9F brings the sum to 0x100: the two's complement is 00.
  EXPECT_EQ(BackupChecksum(std::string(1, static_cast<char>(0x9F))), "00");
}

TEST(BackupFrame, CommandsOver250CharactersAreRefused) {
  EXPECT_TRUE(BackupFrame(std::string(250, 'A')));
  EXPECT_FALSE(BackupFrame(std::string(251, 'A')));
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

TEST(BackupFields, SplitAndMissingFieldsReadEmpty) {
  const auto f = SplitBackupFields("Speed$12.5$0");
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(BackupField(f, 1), "Speed");
  EXPECT_EQ(BackupField(f, 2), "12.5");
  EXPECT_EQ(BackupField(f, 3), "0");
  EXPECT_EQ(BackupField(f, 4), "");  // fewer fields than the record needs
  EXPECT_EQ(BackupField(f, 0), "");
  EXPECT_EQ(SplitBackupFields("").size(), 1u);
  EXPECT_EQ(SplitBackupFields("a$").back(), "");
}

TEST(BackupFields, ListCountFromCharactersTwoToSix) {
  EXPECT_EQ(BackupListCount("0000120"), 12);
  EXPECT_EQ(BackupListCount("0    70"), 7);
  EXPECT_EQ(BackupListCount("0"), 0);
  EXPECT_EQ(BackupListCount("0123456789"), 12345);
}

class ExchangeOnPty : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.Open(pty.SlavePath(), 38400, Parity::None, 8, StopBits::One)); }
  test::PtyPair pty;
  CommPort port;
};

TEST_F(ExchangeOnPty, SendsTheFrameAndTakesThePayload) {
  std::string request;
  std::thread device([&] {
    request = pty.Receive(7, 1000);
    pty.Send(sim::Rq750Frame("RQ750-24$4.12$3.2$0"));
  });
  std::string reply;
  const bool ok = ExchangeBackupCommand(port, "vX", reply);
  device.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(request, std::string("\x02" "01vXD1\x03"));
  EXPECT_EQ(reply, "RQ750-24$4.12$3.2$0");
}

TEST_F(ExchangeOnPty, BytesLeftFromATimedOutExchangeAreDiscarded) {
  std::string reply;
  ExchangeError why = ExchangeError::None;
  EXPECT_FALSE(ExchangeBackupCommand(port, "ML", reply, &why, SystemClock(), 30));
  EXPECT_EQ(why, ExchangeError::NoReply);
  pty.Receive(7, 500);
  // The late answer to it arrives before the next request is sent.
  pty.Send(sim::Rq750Frame("late$0"));
  ::usleep(50000);
  std::thread device([this] {
    pty.Receive(7, 1000);
    pty.Send(sim::Rq750Frame("fresh$0"));
  });
  const bool ok = ExchangeBackupCommand(port, "M+", reply, &why);
  device.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(reply, "fresh$0");
}

TEST_F(ExchangeOnPty, ShortAndOverlongRepliesFail) {
  struct Case {
    std::vector<std::uint8_t> answer;
    ExchangeError why;
  };
  const Case cases[] = {
      {Bytes({0x02, '0', '1', 0x03}), ExchangeError::ReplyTooShort},
      {sim::Rq750Frame(std::string(128, 'x')), ExchangeError::PayloadTooLong},
      {sim::Rq750Frame(std::string(300, 'x')), ExchangeError::PayloadTooLong},
  };
  for (const auto& c : cases) {
    std::thread device([&] {
      pty.Receive(7, 1000);
      pty.Send(c.answer);
    });
    std::string reply = "old";
    ExchangeError why = ExchangeError::None;
    EXPECT_FALSE(ExchangeBackupCommand(port, "PU", reply, &why));
    device.join();
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(reply, "");
    ::usleep(20000);  // let the rest of an overlong answer arrive; the next exchange discards it
  }
}

}  // namespace
}  // namespace tarnvale
