#pragma once
// The part (NAV) number check that guards the two generation commands:
// "NAV Number Check" accepts only the numbers of its generation, compared as
// exact text (a leading space or a lower-case letter does not match).

#include <span>
#include <string>

namespace tarnvale {

namespace nav_text {
inline constexpr const char* kTitle = "NAV Number Check";
inline constexpr const char* kPrompt = "Enter the Part Number (NAV):";
}  // namespace nav_text

// The accepted numbers of generation 4 or 5 in their table order; empty for
// any other generation.
std::span<const char* const> NavNumbersOf(int generation);

// True when `entered` is one of the generation's numbers.
bool IsValidNavNumber(int generation, const std::string& entered);

// "The Entered NAV Number Does Not Match a Valid Version N Number!"
std::string NavMismatchText(int generation);

}  // namespace tarnvale
