// The command history and the terminal's keyboard rules.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/tools/CCmdList.h"
#include "core/tools/TerminalKeyboard.h"

namespace tarnvale {
namespace {

using Lines = std::vector<std::string>;

TEST(CCmdList, StoresOnlyMonitorCommandsAndWalksToEitherEndAndStays) {
  // A monitor word anywhere in the line, case-sensitive.
  for (const char* line : {"go", "d 100", "xyzzy t"}) EXPECT_TRUE(CCmdList::IsMonitorCommand(line)) << line;
  for (const char* line : {"xyz", "GO", ""}) EXPECT_FALSE(CCmdList::IsMonitorCommand(line)) << line;

  CCmdList list;
  EXPECT_EQ(list.GetPrev() + list.GetNext(), "");
  for (const char* c : {"d 1", "d 2", "d 3"}) list.AddCommand(c);
  list.Reset();
  std::string walk;
  for (char k : std::string("PPPPNNNN")) walk += (k == 'P' ? list.GetPrev() : list.GetNext()) + "|";
  EXPECT_EQ(walk, "d 3|d 2|d 1|d 1|d 1|d 2|d 3|d 3|");
  list.AddCommand("d 3");  // duplicates kept
  EXPECT_EQ(list.Entries(), (Lines{"d 1", "d 2", "d 3", "d 3"}));
}

// Records what the keyboard does as one trace: bytes sent to the port as
// they are, a shown last line as "[text]", and "!" for a non-character key
// the keyboard left to the view.
class Keyboard : public ::testing::Test, public TerminalKeyboardSink {
 protected:
  void SendByte(std::uint8_t b) override { trace_.push_back(static_cast<char>(b)); }
  void ShowLastLine(const std::string& text) override { trace_ += "[" + text + "]"; }

  // Keys: '^' Up, '_' Down, '~' Ctrl+Up, '`' Ctrl+Down, '#' another key
  // without a character; every other byte is typed (8 through Backspace).
  void Type(const std::string& keys) {
    for (char c : keys) {
      const auto special = std::string("^_~`#").find(c);
      if (special != std::string::npos) {
        const TerminalKey k[] = {TerminalKey::Up, TerminalKey::Down, TerminalKey::CtrlUp,
                                 TerminalKey::CtrlDown, TerminalKey::Other};
        if (!kb_->KeyDown(k[special])) trace_ += "!";
      } else if (!kb_->KeyDown(c == 8 ? TerminalKey::Backspace : TerminalKey::Other)) {
        kb_->Char(static_cast<std::uint8_t>(c));
      }
    }
  }

  std::optional<TerminalKeyboard> kb_{std::in_place, *this};
  std::string trace_;
};

TEST_F(Keyboard, TypingRecallBackspaceAndSentStrings) {
  struct Case {
    const char* name;
    Lines history;  // entered first, each with Enter
    const char* keys;
    const char* trace;
    const char* typedLine;
    bool recalled;
    Lines stored;
  };
  const Case cases[] = {
      {"go stored, xyz not", {}, "go\rxyz\r", "go\rxyz\r", "", false, {"go"}},
      {"backspace on the typed line sends 8", {}, "\bdq\b", "\bdq\b", "d", false, {}},
      {"up on an empty history", {}, "^", "", "", true, {}},
      {"up shows, enter sends, not stored twice", {"d 100"}, "^\r", "[:d 100][:d 100]d 100\r", "", false, {"d 100"}},
      {"typing after up", {"db 20"}, "^c\r", "[:db 20][:db 20]db 20c\r", "", false, {"db 20", "db 20c"}},
      {"backspace after up: no byte 8", {"fill"}, "^\b", "[:fill]fil", "fil", false, {"fill"}},
      {"backspace after up, one letter", {"g"}, "^\b", "[:g][:]", "", false, {"g"}},
      {"up and down walk", {"d 1", "d 2", "d 3"}, "^^__#", "[:d 3][:d 2][:d 1][:d 2][:d 2]!", "d 2", true,
       {"d 1", "d 2", "d 3"}},
      {"ctrl+up and ctrl+down swallowed", {"go"}, "~`", "", "", false, {"go"}},
  };
  for (const Case& c : cases) {
    kb_.emplace(*this);
    for (const auto& line : c.history) Type(line + "\r");
    trace_.clear();
    Type(c.keys);
    EXPECT_EQ(trace_, c.trace) << c.name;
    EXPECT_EQ(kb_->TypedLine(), c.typedLine) << c.name;
    EXPECT_EQ(kb_->IsRecalled(), c.recalled) << c.name;
    EXPECT_EQ(kb_->History().Entries(), c.stored) << c.name;
  }
  // A string sent as it is leaves the typed line and the history alone.
  kb_.emplace(*this);
  trace_.clear();
  Type("st");
  kb_->SendString("AB");
  EXPECT_EQ(trace_, "stAB");
  EXPECT_EQ(kb_->TypedLine(), "st");
  EXPECT_TRUE(kb_->History().Entries().empty());
}

}  // namespace
}  // namespace tarnvale
