// Packets, result texts and the error log. The reply readers,
// and the timer they keep their limits by, are checked on the in-memory link
// (ReaderTimeLimitsTest).
#include <gtest/gtest.h>

#include "core/operator/ShowResult.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"
#include "core/protocol/Util.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"
#include "core/operator/ErrorLog.h"

namespace tarnvale {
namespace {

// The set-page and memory-read packets' bytes are the controller queries'
// (ControllerTest); every data packet's checksum is checked by the device
// model in each programming run.
TEST(Packets, EraseAndEndOfFileBytes) {
  EXPECT_EQ(BuildPacket(0, 0, packet_type::kErase), (Packet{':', 0, 0, 0, 0x06, 0xFA}));
  EXPECT_EQ(BuildPacket(0, 0, packet_type::kEndOfFile), (Packet{':', 0, 0, 0, 0x01, 0xFF}));
}

TEST(ResultTexts, TableAndUnknownCodes) {
  EXPECT_EQ(ResultText(73), "No Application in Memory");
  EXPECT_EQ(ResultText(7), "Un-recognized return code - 7");
  EXPECT_EQ(ResultText(2), "Un-recognized return code - 2") << "file codes 2, 3, 18, 19 have no text";
  // A shown result adds what came back where a status byte was expected;
  // the program's own codes and the table's texts stay as they are.
  const std::string expected = "; expected a status byte: '0' for success, '1'-'4' or '@'-'J' for a fault)";
  EXPECT_EQ(ReplyResultText('Z'), "Un-recognized return code - 5a (the device answered 'Z'" + expected);
  EXPECT_EQ(ReplyResultText(2), "Un-recognized return code - 2");
  EXPECT_EQ(ReplyResultText('D'), "Data Mis-match");
  EXPECT_EQ(ResultText('J'), "Timeout while waiting for a response while Programming");
  EXPECT_EQ(MakeResultMessage('0', "Flashed").text, "Flashed");
  EXPECT_EQ(MakeResultMessage('D', "Flashed").text, "Data Mis-match");
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
  // With a folder the log goes there, wherever the working directory is.
  const auto folder = test::MakeTempDir("errlog-folder");
  test::RecordingOperator inFolder;
  inFolder.SetErrorLogFolder(folder.string());
  LogError(6, "Util", "Y", 2, &inFolder);
  EXPECT_EQ(test::ReadFileBytes(folder / "ErroLog.txt"), "Error: 6, Occured in: Util, Function: Y, Line: 2 \n");
}

}  // namespace
}  // namespace tarnvale
