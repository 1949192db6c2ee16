#pragma once
// Judging a CPU board's identification record: whether its boot flash ID fits
// the board revision, whether the record is complete, which RAM banks the
// board has, and the lines the test dialog lists for a flash ID.

#include <string>
#include <vector>

#include "core/programmer/BoardInfoRecord.h"

namespace tarnvale {

bool IsFlashIdValid(const BoardInfoRecord& record);
bool IsBoardInfoComplete(const BoardInfoRecord& record);

// Selectable 1 MB RAM banks: 1..1 for revisions A and B, 1..4 for other
// revisions below D, 1..5 from D on.
struct BankRange {
  int low = 1;
  int high = 1;
  friend bool operator==(const BankRange&, const BankRange&) = default;
};
BankRange BankRangeFor(std::uint8_t cpuRevision);

// " -> M29F016D ST-Micro", ... or empty (see FlashIdLines).
std::string FlashDeviceName(const BoardInfoRecord& record);

namespace flash_text {
inline constexpr const char* kUnknown = " -> Unknown";
inline constexpr const char* kFlashModeAdvice =
    "Ensure the RQ is in Flash Program Mode(Controllers below V4 require Dip switch 10 to be in ON "
    "position).";
inline constexpr const char* kRevisionAdvice = "If 7193 revision code is not set then set revision code.";
}  // namespace flash_text

// The lines "Read Flash ID" lists for a record read from the box: the ID line
// with the device name (or " -> Unknown" and the two advice lines).
std::vector<std::string> FlashIdLines(const BoardInfoRecord& record);

}  // namespace tarnvale
