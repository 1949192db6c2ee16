// Packets, reply readers, time-outs, result texts and the error log, with the
// readers driven over real pseudo-terminals (one real-time check of each
// reader's limit; the limits in detail are in ReaderTimeLimitsTest).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/operator/ShowResult.h"
#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"
#include "core/protocol/Timer.h"
#include "core/protocol/Util.h"
#include "support/FakeLink.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"
#include "core/operator/ErrorLog.h"

namespace tarnvale {
namespace {

using namespace std::chrono_literals;
using test::FakeClock;
using test::PtyPair;

class PtyLink : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)); }
  PtyPair pty;
  CommPort port;
};

TEST(Packets, ChecksumAndFraming) {
  const std::uint8_t page[] = {0x02, 0x00, 0x00, 0x04, 0x03, 0xFF};
  EXPECT_EQ(PacketChecksum(page, sizeof page), 0xF8);
  const std::uint8_t pageData[] = {0x03, 0xFF};
  EXPECT_EQ(BuildPacket(2, 0, packet_type::kSetPage, pageData),
            (Packet{':', 0x02, 0x00, 0x00, 0x04, 0x03, 0xFF, 0xF8}));
  EXPECT_EQ(BuildPacket(0, 0, packet_type::kErase), (Packet{':', 0, 0, 0, 0x06, 0xFA}));
  EXPECT_EQ(BuildPacket(0, 0, packet_type::kEndOfFile), (Packet{':', 0, 0, 0, 0x01, 0xFF}));

  std::vector<std::uint8_t> data(255);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  const Packet big = BuildPacket(255, 0xABCD, 0x00, data);
  ASSERT_EQ(big.size(), 261u);
  EXPECT_EQ(big[2], 0xAB);
  EXPECT_EQ(big[3], 0xCD);
  unsigned sum = 0;
  for (std::size_t i = 1; i < big.size(); ++i) sum += big[i];
  EXPECT_EQ(sum & 0xFF, 0u) << "count through checksum sums to zero";
  EXPECT_EQ(BuildPacket(0, 0, 0x11).size(), 6u);
}

TEST(ResultTexts, TableAndUnknownCodes) {
  EXPECT_EQ(ResultText(73), "No Application in Memory");
  EXPECT_EQ(ResultText(7), "Un-recognized return code - 7");
  EXPECT_EQ(ResultText(0x1F), "Un-recognized return code - 1f");
  EXPECT_EQ(ResultText(2), "Un-recognized return code - 2") << "file codes 2, 3, 18, 19 have no text";
  // A shown result adds what came back where a status byte was expected;
  // the program's own codes and the table's texts stay as they are.
  const std::string expected = "; expected a status byte: '0' for success, '1'-'4' or '@'-'J' for a fault)";
  EXPECT_EQ(ReplyResultText('Z'), "Un-recognized return code - 5a (the device answered 'Z'" + expected);
  EXPECT_EQ(ReplyResultText('x'), "Un-recognized return code - 78 (the device answered 'x'" + expected);
  EXPECT_EQ(ReplyResultText(2), "Un-recognized return code - 2");
  EXPECT_EQ(ReplyResultText(0xFB), ResultText(0xFB));
  EXPECT_EQ(ReplyResultText('D'), "Data Mis-match");
  EXPECT_EQ(ResultText('J'), "Timeout while waiting for a response while Programming");
  EXPECT_EQ(ResultText(12), "Error: Blank Line in File");
  EXPECT_EQ(ResultText('3'), "Unrecognized Command Response");
  const ResultMessage ok = MakeResultMessage('0', "Flashed");
  EXPECT_EQ(ok.text, "Flashed");
  EXPECT_EQ(ok.icon, MessageIcon::Information);
  const ResultMessage bad = MakeResultMessage('D', "Flashed");
  EXPECT_EQ(bad.text, "Data Mis-match");
  EXPECT_EQ(bad.icon, MessageIcon::Exclamation);
  EXPECT_EQ(MakeResultMessage('0').text, "Success");
}

TEST(HexText, OnlyUpperCaseDigitsCount) {
  EXPECT_EQ(HexByte("3a"), 0x30);
  EXPECT_EQ(HexByte("3A"), 0x3A);
  EXPECT_EQ(HexByte("G7"), 0x07);
  EXPECT_EQ(HexWord("FFE0"), 0xFFE0);
  EXPECT_EQ(HexWord("03ff"), 0x0300);
}

TEST(TimerTicks, ExpiresStrictlyAfterItsIntervalAcrossTheWrap) {
  const FakeClock clock(0xFFFFFF00u);  // 256 ms before the counter wraps
  Timer t(1000, clock);
  clock.Advance(1000);  // wrapped
  EXPECT_FALSE(t.IsExpired()) << "exactly the interval is not yet expired";
  EXPECT_EQ(t.RemainingMs(), 1u);
  clock.SleepMs(1);
  EXPECT_TRUE(t.IsExpired());
  t.Restart(10);
  EXPECT_FALSE(t.IsExpired());
  clock.Advance(11);
  EXPECT_TRUE(t.IsExpired());
}

TEST_F(PtyLink, StatusByteArrivesOrTimesOut) {
  pty.Send("0");
  EXPECT_EQ(WaitStatusByte(port, 10000), '0');
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitStatusByte(port, 150), rc::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);
  std::thread late([&] {
    std::this_thread::sleep_for(60ms);
    pty.Send("H");
  });
  EXPECT_EQ(WaitStatusByte(port, 10000), 'H');
  late.join();
}

TEST_F(PtyLink, HexReplyLineIsDecodedWithoutVerifyingTheChecksum) {
  // 16 data bytes at 0xFFE0 with a deliberately wrong checksum, split over two chunks.
  const std::string line = ":10FFE000000102030405060708090A0B0C0D0E0F77";
  ASSERT_EQ(line.size(), 43u);
  std::thread peer([&] {
    pty.Send(line.substr(0, 20));
    std::this_thread::sleep_for(30ms);
    pty.Send(line.substr(20) + "\n\r");
  });
  HexReply reply;
  EXPECT_EQ(ReadHexReply(port, 10000, reply), rc::kSuccess);
  peer.join();
  EXPECT_EQ(reply.line, line);
  ASSERT_TRUE(reply.isRecord);
  EXPECT_EQ(reply.count, 0x10);
  EXPECT_EQ(reply.address, 0xFFE0);
  EXPECT_EQ(reply.type, 0x00);
  ASSERT_EQ(reply.pairs.size(), 17u);
  EXPECT_EQ(reply.pairs[15], 0x0F);
  EXPECT_EQ(reply.pairs[16], 0x77);
}

TEST_F(PtyLink, HexReplyStatusForms) {
  HexReply reply;
  pty.Send("0X\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), '0');
  pty.Send("AB\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), 'A');
  pty.Send("\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), rc::kUnrecognizedResponse) << "CR at position 0";
  pty.Send("B\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), rc::kUnrecognizedResponse) << "CR at position 1";
  pty.Send("00000000 03FFFFFF 00000001\n\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), '0');
  EXPECT_EQ(reply.line, "00000000 03FFFFFF 00000001");
  EXPECT_FALSE(reply.isRecord);
  pty.Send(":0\n\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), '0') << "a short record line is decoded safely";
  EXPECT_TRUE(reply.pairs.empty());
}

TEST_F(PtyLink, HexReplyTooLongOrSilent) {
  HexReply reply;
  pty.Send(std::string(80, 'F') + "\n\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), rc::kStringTooLong) << "81 characters before the CR";
  port.Purge();
  pty.Send(std::string(79, 'F') + "\n\r");
  EXPECT_EQ(ReadHexReply(port, 500, reply), '0') << "80 characters are fine";
  EXPECT_EQ(reply.line.size(), 79u);
  // Endless garbage never overruns anything.
  pty.Send(std::string(5000, 'x'));
  EXPECT_EQ(ReadHexReply(port, 500, reply), rc::kStringTooLong);
  port.Purge();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadHexReply(port, 120, reply), rc::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 120ms);
}

TEST_F(PtyLink, FramedRecordsFromTheBox) {
  MemoryRecord record;
  const Packet version = BuildPacket(3, 0x1234, 0x23, std::vector<std::uint8_t>{'1', '.', '5'});
  pty.Send(std::string("noise") + std::string(version.begin(), version.end()));
  EXPECT_EQ(ReadFramedReply(port, record), rc::kSuccess);
  EXPECT_EQ(record.count, 3);
  EXPECT_EQ(record.address, 0x1234);
  EXPECT_EQ(record.type, 0x23);
  EXPECT_EQ(record.data, (std::vector<std::uint8_t>{'1', '.', '5'}));
  EXPECT_EQ(record.checksum, version.back());

  Packet corrupt = version;
  ASSERT_EQ(corrupt.size(), 9u);
  corrupt[8] = static_cast<std::uint8_t>(corrupt[8] + 1);
  pty.Send(std::string(corrupt.begin(), corrupt.end()));
  EXPECT_EQ(ReadFramedReply(port, record), rc::kBadChecksum);
}

// The time limits themselves are checked on a fake clock (ReaderTimeLimitsTest);
// here a record that trickles in over a real line is read whole.
TEST_F(PtyLink, FramedRecordInPiecesOverARealLine) {
  const Packet frame = BuildPacket(4, 0x0100, 0x21, std::vector<std::uint8_t>{1, 2, 3, 4});
  std::thread peer([&] {
    for (std::size_t at = 0; at < frame.size(); at += 3) {
      std::this_thread::sleep_for(20ms);
      pty.Send(std::vector<std::uint8_t>(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                         frame.begin() + static_cast<std::ptrdiff_t>(std::min(at + 3, frame.size()))));
    }
  });
  MemoryRecord record;
  EXPECT_EQ(ReadFramedReply(port, record), rc::kSuccess);
  peer.join();
  EXPECT_EQ(record.address, 0x0100);
  EXPECT_EQ(record.data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(PtyLink, SendAndReadText) {
  std::string reply;
  std::thread peer([&] {
    EXPECT_EQ(pty.Receive(3), "ABC");
    pty.Send("12345");
  });
  EXPECT_EQ(SendAndReadText(port, "ABC", reply, 5, 10000), '0');
  peer.join();
  EXPECT_EQ(reply, "12345");
  pty.Send("123456");
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(SendAndReadText(port, "", reply, 5, 500), '1');
  EXPECT_EQ(reply, "123456");
  EXPECT_EQ(SendAndReadText(port, "Q", reply, 5, 100), rc::kTimeout);
}

TEST(ErrorLogFile, ExactLineAppendedAndOperatorTold) {
  const auto dir = test::MakeTempDir("errlog");
  std::filesystem::current_path(dir);
  test::RecordingOperator op;
  LogError(3, "Util", "Get_RQ700_APP_Header", 765, &op);
  EXPECT_EQ(LogIfFailed('I', "Util", "Get_RQ700_APP_Header", 768, &op), 'I');
  EXPECT_EQ(LogIfFailed('0', "Util", "Get_RQ700_APP_Header", 771, &op), '0');
  EXPECT_EQ(LogIfFailed('D', "Util", "Get_RQ700_APP_Header", 797, &op), 'D');
  EXPECT_EQ(test::ReadFileBytes(dir / "ErroLog.txt"),
            "Error: 3, Occured in: Util, Function: Get_RQ700_APP_Header, Line: 765 \n"
            "Error: 68, Occured in: Util, Function: Get_RQ700_APP_Header, Line: 797 \n");
  EXPECT_EQ(op.logged, (std::vector<std::string>{"3|Util|Get_RQ700_APP_Header|765",
                                                 "68|Util|Get_RQ700_APP_Header|797"}));
  EXPECT_EQ(FormatErrorLogMessage(3, "Util", "F", 765),
            "Error: 3\n Occured in: Util\n Function: F\n Line: 765");
  // A log that cannot be written still tells the operator.
  std::filesystem::create_directory(dir / "ErroLog.txt.d");
  std::filesystem::current_path(dir / "ErroLog.txt.d");
  std::filesystem::create_directory("ErroLog.txt");
  LogError(5, "Util", "X", 1, &op);
  EXPECT_EQ(op.logged.size(), 3u);

  // With a folder the log goes there, wherever the working directory is.
  const auto folder = test::MakeTempDir("errlog-folder");
  test::RecordingOperator inFolder;
  inFolder.SetErrorLogFolder(folder.string());
  LogError(6, "Util", "Y", 2, &inFolder);
  EXPECT_EQ(test::ReadFileBytes(folder / "ErroLog.txt"), "Error: 6, Occured in: Util, Function: Y, Line: 2 \n");
  EXPECT_EQ(ErrorLogPath(""), "ErroLog.txt");
  EXPECT_EQ(ErrorLogPath("/tmp/x/"), "/tmp/x/ErroLog.txt");
}

}  // namespace
}  // namespace tarnvale
