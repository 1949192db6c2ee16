// The folding of received bytes into the terminal's lines and capture file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestEnv.h"
#include "core/tools/CaptureFile.h"
#include "core/tools/TerminalReceiver.h"
#include "core/tools/TerminalScreen.h"

namespace tarnvale {
namespace {

using test::MakeTempDir;
using test::ReadFileBytes;

// Each chunk received, then the screen's text and the capture file's bytes.
struct Step {
  std::string chunk, screen, captured;
};

TEST(Folding, EveryRuleShowsAndCapturesTheLinesAsReceived) {
  const std::string a(TerminalReceiver::kLineWidth, 'a'), b(TerminalReceiver::kLineWidth, 'b');
  const std::string bytes{"\x01\x7f\xff\t", 4};
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"unfinished line shown, LF finishes, CR after LF ignored",
       {{"AB", "AB", ""}, {"C\n\r", "ABC\n", "ABC\r\n"}, {"DE\n\r", "ABC\nDE\n", "ABC\r\nDE\r\n"}}},
      {"lone CR shows the line and restarts it uncaptured",
       {{"12345\r", "12345", ""}, {"ab", "ab", ""}, {"\n", "ab\n", "ab\r\n"}}},
      // Mended: CR LF lines were lost.
      {"CR LF lines kept once, even across chunks",
       {{"first\r\nsecond\r", "first\nsecond", "first\r\n"},
        {"\nthird\r\n\r\n", "first\nsecond\nthird\n\n", "first\r\nsecond\r\nthird\r\n\r\n"}}},
      {"backspace takes back a character, nothing at column 0",
       {{"\bAB\bC", "AC", ""}, {"\b\b\b\bX\n", "X\n", "X\r\n"}}},
      {"bytes pass unchanged", {{bytes + "\n", bytes + "\n", bytes + "\r\n"}}},
      // Mended: lines over 121 characters were thrown away.
      {"a full line is kept whole, longer ones wrap without loss",
       {{a + "\n", a + "\n", a + "\r\n"},
        {b + "XYZ", a + "\n" + b + "\nXYZ", a + "\r\n" + b + "\r\n"},
        {"\n", a + "\n" + b + "\nXYZ\n", a + "\r\n" + b + "\r\nXYZ\r\n"}}},
  };
  for (const auto& c : cases) {
    const std::string path = (MakeTempDir("capture") / kCaptureFileName).string();
    TextScreen screen;
    CaptureFile capture;
    ASSERT_TRUE(capture.Create(path));
    TerminalReceiver receiver(screen);
    receiver.SetCapture(&capture);
    for (const Step& s : c.steps) {
      receiver.Append(s.chunk);
      EXPECT_EQ(screen.Text(), s.screen) << c.name << " after " << s.chunk;
      EXPECT_EQ(screen.LastLine(), s.screen.substr(s.screen.rfind('\n') + 1)) << c.name;
      EXPECT_EQ(ReadFileBytes(path), s.captured) << c.name << " after " << s.chunk;
    }
  }
}

// The capture never waits on a FIFO (every kind of file refused: FileAccessTest).
TEST(CaptureFile, RefusesAFifo) {
  const auto dir = MakeTempDir("capture");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  CaptureFile capture;
  EXPECT_FALSE(capture.Create((dir / "fifo").string()));
  EXPECT_FALSE(capture.IsOpen());
  EXPECT_EQ(capture.ErrorText(), "is a FIFO, not a regular file");
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
}

TEST(TextLimit, TrimsLeadingLinesUntilTheAppendFits) {
  // 60 characters fit in 100; 41 more would not: lines 0-24 go first.
  TextScreen screen;
  TerminalReceiver receiver(screen, 100);
  std::string text;
  for (int i = 0; i < 30; ++i) text += static_cast<char>('A' + (i % 26)) + std::string("\n");
  receiver.Append(text);
  ASSERT_EQ(screen.TextLength(), 60u);
  receiver.Append(std::string(41, 'x'));
  EXPECT_EQ(screen.Text(), "Z\nA\nB\nC\nD\n" + std::string(41, 'x'));

  // Mended: many short lines in one chunk cannot outgrow the limit (the trim repeats).
  TextScreen many;
  TerminalReceiver manyReceiver(many, 200);
  const std::string chunk(150, '\n');
  for (int i = 0; i < 10; ++i) manyReceiver.Append(chunk);
  EXPECT_LE(many.TextLength(), 2 * chunk.size());

  // A trim with fewer lines than it removes empties the screen.
  TextScreen few;
  few.ReplaceLastLine("one", true);
  few.ReplaceLastLine("two", false);
  few.DeleteLeadingLines(TerminalReceiver::kTrimLines);
  EXPECT_EQ(few.Text(), "");
}

TEST(Capture, CreatedAnewInTheHomeFolderOrReportsWhyNot) {
  const auto home = MakeTempDir("home");
  const std::string saved = std::getenv("HOME");
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(CaptureFile::DefaultPath(), (home / "TarnvaleOutput.txt").string());
  test::WriteFileBytes(home / "TarnvaleOutput.txt", "old run\r\n");
  {
    CaptureFile capture;
    ASSERT_TRUE(capture.Create(CaptureFile::DefaultPath()));
    capture.WriteLine("new");
  }
  EXPECT_EQ(ReadFileBytes(home / "TarnvaleOutput.txt"), "new\r\n");
  setenv("HOME", saved.c_str(), 1);

  // An uncreatable file gives the system's reason; the receiver still shows lines.
  CaptureFile capture;
  EXPECT_FALSE(capture.Create((MakeTempDir("x") / "missing" / "out.txt").string()));
  EXPECT_EQ(capture.ErrorText(), "No such file or directory");
  TextScreen screen;
  TerminalReceiver receiver(screen);
  receiver.SetCapture(&capture);
  receiver.Append("line\n\r");
  EXPECT_EQ(screen.Text(), "line\n");
}

}  // namespace
}  // namespace tarnvale
