#pragma once
// The part (NAV) number check that guards the two generation commands:
// "NAV Number Check" accepts only the numbers of its generation. A barcode
// scanner puts spaces or a tab around what it reads, so those are trimmed
// first; inside, the number must match exactly (a lower-case letter or an
// inner space does not).

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

// True when `entered` is exactly one of the generation's numbers.
bool IsValidNavNumber(int generation, const std::string& entered);

// `text` without the spaces, tabs and line ends around it.
std::string TrimmedEntry(const std::string& text);

// The one check of an entered part number, made by the dialog and the
// command line alike: true when its trimmed text is one of the generation's
// numbers, with that text in `number`.
bool AcceptNavNumber(int generation, const std::string& entered, std::string& number);

// "The Entered NAV Number Does Not Match a Valid Version N Number!"
std::string NavMismatchText(int generation);

// The mismatch text followed by what was entered (trimmed, in quotes so a
// stray character shows), so the person sees what the scanner or the keys
// actually gave.
std::string NavRejectionText(int generation, const std::string& entered);

}  // namespace tarnvale
