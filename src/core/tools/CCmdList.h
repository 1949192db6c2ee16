#pragma once
// The terminal's command history: the monitor commands typed this run,
// recalled with Up and Down. No size limit, duplicates kept.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvale {

// The controller monitor's command words. A typed line is remembered when
// any of them occurs in it; single letters are among them, so nearly every
// line counts.
inline constexpr std::array<std::string_view, 31> kMonitorCommandWords = {
    "asm", "b",    "break", "bc", "bclear", "c", "ca",  "data", "d",    "db", "dd",
    "dw",  "fill", "free",  "f",  "g",      "go", "mail", "quit", "q",    "r",  "ra",
    "rasm", "res", "ring",  "s",  "st",     "stack", "t", "task", "v"};

class CCmdList {
 public:
  virtual ~CCmdList() = default;

  static bool IsMonitorCommand(std::string_view line);

  // Appends the line when it is a monitor command and puts the cursor on it.
  void AddCommand(const std::string& line);
  // Cursor on the newest entry.
  void Reset();
  // The entry under the cursor, then the cursor moves one older (staying on
  // the oldest). Empty when the history is empty.
  std::string GetPrev();
  // The entry under the cursor, then the cursor moves one newer (staying on
  // the newest). Empty when the history is empty.
  std::string GetNext();

  const std::vector<std::string>& Entries() const { return entries_; }
  std::optional<std::size_t> Cursor() const { return cursor_; }

 private:
  std::vector<std::string> entries_;  // oldest first
  std::optional<std::size_t> cursor_;
};

}  // namespace tarnvale
