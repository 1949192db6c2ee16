// The folding of received bytes into the terminal's lines and capture file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestEnv.h"
#include "tools/CaptureFile.h"
#include "tools/TerminalReceiver.h"
#include "tools/TerminalScreen.h"

namespace tarnvale {
namespace {

using test::MakeTempDir;
using test::ReadFileBytes;

class Folding : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (MakeTempDir("capture") / kCaptureFileName).string();
    ASSERT_TRUE(capture_.Create(path_));
    receiver_.SetCapture(&capture_);
  }
  std::string Captured() const { return ReadFileBytes(path_); }

  TextScreen screen_;
  CaptureFile capture_;
  TerminalReceiver receiver_{screen_};
  std::string path_;
};

TEST_F(Folding, UnfinishedLineShownThenFinishedByLfAndCrAfterLfIgnored) {
  receiver_.Append("AB");
  EXPECT_EQ(screen_.Text(), "AB");
  EXPECT_EQ(Captured(), "");

  receiver_.Append("C\n\r");
  EXPECT_EQ(screen_.Text(), "ABC\n");
  EXPECT_EQ(screen_.LastLine(), "");
  EXPECT_EQ(Captured(), "ABC\r\n");

  receiver_.Append("DE\n\r");
  EXPECT_EQ(screen_.Text(), "ABC\nDE\n");
  EXPECT_EQ(Captured(), "ABC\r\nDE\r\n");
}

TEST_F(Folding, LoneCrShowsLineAndRestartsWithoutCapture) {
  receiver_.Append("12345\r");
  EXPECT_EQ(screen_.Text(), "12345");
  receiver_.Append("ab");
  EXPECT_EQ(screen_.Text(), "ab");
  EXPECT_EQ(Captured(), "");
  receiver_.Append("\n");
  EXPECT_EQ(screen_.Text(), "ab\n");
  EXPECT_EQ(Captured(), "ab\r\n");
}

TEST_F(Folding, CrLfLinesAreKeptOnceEvenAcrossChunks) {
  receiver_.Append("first\r\nsecond\r");
  receiver_.Append("\nthird\r\n\r\n");
  EXPECT_EQ(screen_.Text(), "first\nsecond\nthird\n\n");
  EXPECT_EQ(Captured(), "first\r\nsecond\r\nthird\r\n\r\n");
}

TEST_F(Folding, LfCrLinesBehaveAsControllerLines) {
  receiver_.Append("one\n\rtwo\n\r\n\r");
  EXPECT_EQ(screen_.Text(), "one\ntwo\n\n");
  EXPECT_EQ(Captured(), "one\r\ntwo\r\n\r\n");
}

TEST_F(Folding, BackspaceTakesBackLastCharacterAndDoesNothingAtColumnZero) {
  receiver_.Append("\bAB\bC");
  EXPECT_EQ(screen_.Text(), "AC");
  receiver_.Append("\b\b\b\bX\n");
  EXPECT_EQ(Captured(), "X\r\n");
}

TEST_F(Folding, FullWidthLineIsKeptWholeAndLongerLinesWrapWithoutLoss) {
  const std::string full(TerminalReceiver::kLineWidth, 'a');
  receiver_.Append(full + "\n");
  EXPECT_EQ(Captured(), full + "\r\n");

  const std::string longer = std::string(TerminalReceiver::kLineWidth, 'b') + "XYZ";
  receiver_.Append(longer);
  // The first 121 characters are finished; the rest is the line being received.
  EXPECT_EQ(screen_.LastLine(), "XYZ");
  receiver_.Append("\n");
  EXPECT_EQ(Captured(), full + "\r\n" + std::string(TerminalReceiver::kLineWidth, 'b') +
                            "\r\nXYZ\r\n");
  EXPECT_EQ(screen_.Text(), full + "\n" + std::string(TerminalReceiver::kLineWidth, 'b') +
                                "\nXYZ\n");
}

TEST_F(Folding, BytesPassThroughUnchangedIntoCapture) {
  const std::string bytes{"\x01\x7f\xff\t", 4};
  receiver_.Append(bytes + "\n");
  EXPECT_EQ(Captured(), bytes + "\r\n");
}

TEST(TextLimit, TrimsLeadingLinesBeforeAnAppendThatWouldPassTheLimit) {
  TextScreen screen;
  TerminalReceiver receiver(screen, 100);
  std::string text;
  for (int i = 0; i < 30; ++i) text += static_cast<char>('A' + (i % 26)) + std::string("\n");
  receiver.Append(text);  // 60 characters: fits
  ASSERT_EQ(screen.TextLength(), 60u);
  receiver.Append(std::string(41, 'x'));  // 60 + 41 > 100: lines 0-24 go first
  EXPECT_EQ(screen.Text().substr(0, 10), "Z\nA\nB\nC\nD\n");
  EXPECT_EQ(screen.TextLength(), 10u + 41u);
}

TEST(TextLimit, ManyShortLinesInOneChunkCannotOutgrowTheLimit) {
  TextScreen screen;
  TerminalReceiver receiver(screen, 200);
  const std::string chunk(150, '\n');
  for (int i = 0; i < 10; ++i) receiver.Append(chunk);
  EXPECT_LE(screen.TextLength(), 200u + chunk.size());
  EXPECT_LE(screen.TextLength(), 2 * chunk.size());
}

TEST(TextLimit, TrimWithFewerLinesThanTheTrimRemovesEverything) {
  TextScreen screen;
  screen.ReplaceLastLine("one", true);
  screen.ReplaceLastLine("two", false);
  screen.DeleteLeadingLines(TerminalReceiver::kTrimLines);
  EXPECT_EQ(screen.Text(), "");
}

TEST(Capture, FileIsCreatedAnewInTheHomeFolder) {
  const auto home = test::MakeTempDir("home");
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(CaptureFile::DefaultPath(), (home / "TarnvaleOutput.txt").string());
  test::WriteFileBytes(home / "TarnvaleOutput.txt", "old run\r\n");
  {
    CaptureFile capture;
    ASSERT_TRUE(capture.Create(CaptureFile::DefaultPath()));
    capture.WriteLine("new");
  }
  EXPECT_EQ(ReadFileBytes(home / "TarnvaleOutput.txt"), "new\r\n");

  unsetenv("HOME");
  EXPECT_EQ(CaptureFile::DefaultPath(), "");
  setenv("HOME", saved.c_str(), 1);
}

TEST(Capture, UncreatableFileReportsTheSystemReasonAndTheReceiverStillWorks) {
  CaptureFile capture;
  EXPECT_FALSE(capture.Create((test::MakeTempDir("x") / "missing" / "out.txt").string()));
  EXPECT_FALSE(capture.IsOpen());
  EXPECT_EQ(capture.ErrorText(), "No such file or directory");

  TextScreen screen;
  TerminalReceiver receiver(screen);
  receiver.SetCapture(&capture);
  receiver.Append("line\n\r");
  EXPECT_EQ(screen.Text(), "line\n");
}

}  // namespace
}  // namespace tarnvale
