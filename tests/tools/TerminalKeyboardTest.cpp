// The command history and the terminal's keyboard rules.
#include <gtest/gtest.h>

#include <string>

#include "tools/CCmdList.h"
#include "tools/TerminalKeyboard.h"

namespace tarnvale {
namespace {

TEST(CCmdList, RemembersOnlyLinesContainingAMonitorWord) {
  EXPECT_EQ(kMonitorCommandWords.size(), 31u);
  EXPECT_TRUE(CCmdList::IsMonitorCommand("go"));
  EXPECT_TRUE(CCmdList::IsMonitorCommand("d 100"));
  EXPECT_TRUE(CCmdList::IsMonitorCommand("xyzzy t"));  // substring anywhere
  EXPECT_FALSE(CCmdList::IsMonitorCommand("xyz"));
  EXPECT_FALSE(CCmdList::IsMonitorCommand("GO"));      // case-sensitive
  EXPECT_FALSE(CCmdList::IsMonitorCommand(""));

  CCmdList list;
  list.AddCommand("xyz");
  EXPECT_TRUE(list.Entries().empty());
  EXPECT_FALSE(list.Cursor().has_value());
  list.AddCommand("go");
  list.AddCommand("go");  // duplicates kept
  EXPECT_EQ(list.Entries().size(), 2u);
}

TEST(CCmdList, PrevWalksToOldestAndStaysNextWalksBackAndStays) {
  CCmdList list;
  EXPECT_EQ(list.GetPrev(), "");
  EXPECT_EQ(list.GetNext(), "");
  list.AddCommand("d 1");
  list.AddCommand("d 2");
  list.AddCommand("d 3");
  list.Reset();
  EXPECT_EQ(list.GetPrev(), "d 3");
  EXPECT_EQ(list.GetPrev(), "d 2");
  EXPECT_EQ(list.GetPrev(), "d 1");
  EXPECT_EQ(list.GetPrev(), "d 1");
  EXPECT_EQ(list.GetNext(), "d 1");
  EXPECT_EQ(list.GetNext(), "d 2");
  EXPECT_EQ(list.GetNext(), "d 3");
  EXPECT_EQ(list.GetNext(), "d 3");
  list.Reset();
  EXPECT_EQ(list.Cursor(), 2u);
}

class Keyboard : public ::testing::Test, public TerminalKeyboardSink {
 protected:
  void SendByte(std::uint8_t b) override { sent_.push_back(static_cast<char>(b)); }
  void ShowLastLine(const std::string& text) override { shown_.push_back(text); }

  void Type(const std::string& text) {
    for (char c : text) {
      const TerminalKey key = c == 8 ? TerminalKey::Backspace : TerminalKey::Other;
      if (!kb_.KeyDown(key)) kb_.Char(static_cast<std::uint8_t>(c));
    }
  }
  void Press(TerminalKey key) {
    const bool consumed = kb_.KeyDown(key);
    if (!consumed && key == TerminalKey::Backspace) kb_.Char(8);
  }

  TerminalKeyboard kb_{*this};
  std::string sent_;
  std::vector<std::string> shown_;
};

TEST_F(Keyboard, TypedLinesGoOutByteByByteAndOnlyMonitorCommandsAreStored) {
  Type("go\r");
  EXPECT_EQ(sent_, "go\r");
  ASSERT_EQ(kb_.History().Entries().size(), 1u);
  EXPECT_EQ(kb_.History().Entries()[0], "go");
  EXPECT_EQ(kb_.TypedLine(), "");
  EXPECT_TRUE(shown_.empty());

  Type("xyz\r");
  EXPECT_EQ(sent_, "go\rxyz\r");
  EXPECT_EQ(kb_.History().Entries().size(), 1u);
}

TEST_F(Keyboard, BackspaceOnTypedLineSendsEightAndTrims) {
  Type("\b");
  EXPECT_EQ(sent_, "\b");
  EXPECT_EQ(kb_.TypedLine(), "");
  Type("dq\b");
  EXPECT_EQ(sent_, "\bdq\b");
  EXPECT_EQ(kb_.TypedLine(), "d");
}

TEST_F(Keyboard, UpOnEmptyHistoryShowsAndSendsNothing) {
  Press(TerminalKey::Up);
  EXPECT_TRUE(sent_.empty());
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(kb_.IsRecalled());
}

TEST_F(Keyboard, UpShowsRecalledCommandAndEnterSendsIt) {
  Type("d 100\r");
  sent_.clear();
  Press(TerminalKey::Up);
  ASSERT_FALSE(shown_.empty());
  EXPECT_EQ(shown_.back(), ":d 100");
  EXPECT_TRUE(sent_.empty());
  Type("\r");
  EXPECT_EQ(sent_, "d 100\r");
  EXPECT_FALSE(kb_.IsRecalled());
  // The resent command is not stored a second time.
  EXPECT_EQ(kb_.History().Entries().size(), 1u);
}

TEST_F(Keyboard, TypingAfterUpSendsRecalledCommandThenTheCharacter) {
  Type("db 20\r");
  sent_.clear();
  Press(TerminalKey::Up);
  Type("c");
  EXPECT_EQ(sent_, "db 20c");
  EXPECT_EQ(kb_.TypedLine(), "db 20c");
  Type("\r");
  EXPECT_EQ(kb_.History().Entries().back(), "db 20c");
}

TEST_F(Keyboard, BackspaceAfterUpSendsCommandWithoutItsLastCharacter) {
  Type("fill\r");
  sent_.clear();
  Press(TerminalKey::Up);
  Press(TerminalKey::Backspace);
  EXPECT_EQ(sent_, "fil");  // and no byte 8
  EXPECT_EQ(kb_.TypedLine(), "fil");
  EXPECT_FALSE(kb_.IsRecalled());
}

TEST_F(Keyboard, BackspaceAfterUpOnOneLetterCommandShowsColonOnly) {
  Type("g\r");
  sent_.clear();
  shown_.clear();
  Press(TerminalKey::Up);
  Press(TerminalKey::Backspace);
  EXPECT_EQ(sent_, "");
  ASSERT_FALSE(shown_.empty());
  EXPECT_EQ(shown_.back(), ":");
  EXPECT_EQ(kb_.TypedLine(), "");
}

TEST_F(Keyboard, UpAndDownWalkTheHistory) {
  Type("d 1\rd 2\rd 3\r");
  Press(TerminalKey::Up);
  Press(TerminalKey::Up);
  EXPECT_EQ(kb_.RecalledCommand(), "d 2");
  EXPECT_EQ(shown_.back(), ":d 2");
  Press(TerminalKey::Down);
  EXPECT_EQ(kb_.RecalledCommand(), "d 1");
  Press(TerminalKey::Down);
  EXPECT_EQ(kb_.RecalledCommand(), "d 2");
  // Another key going down while recalled shows the command again.
  shown_.clear();
  EXPECT_FALSE(kb_.KeyDown(TerminalKey::Other));
  EXPECT_EQ(shown_, std::vector<std::string>{":d 2"});
}

TEST_F(Keyboard, CtrlUpAndCtrlDownAreSwallowed) {
  Type("go\r");
  sent_.clear();
  shown_.clear();
  EXPECT_TRUE(kb_.KeyDown(TerminalKey::CtrlUp));
  EXPECT_TRUE(kb_.KeyDown(TerminalKey::CtrlDown));
  EXPECT_TRUE(sent_.empty());
  EXPECT_TRUE(shown_.empty());
  EXPECT_FALSE(kb_.IsRecalled());
}

TEST_F(Keyboard, SendStringLeavesTypedLineAndHistoryAlone) {
  Type("st");
  kb_.SendString("AB");
  EXPECT_EQ(sent_, "stAB");
  EXPECT_EQ(kb_.TypedLine(), "st");
  EXPECT_TRUE(kb_.History().Entries().empty());
}

}  // namespace
}  // namespace tarnvale
