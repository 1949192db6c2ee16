#include "core/production/NavNumber.h"

#include <algorithm>
#include <array>

namespace tarnvale {
namespace {
constexpr std::array<const char*, 4> kGeneration4 = {"314061", "314062", "314063", "417250"};
constexpr std::array<const char*, 3> kGeneration5 = {"528301", "528302", "528303"};
}  // namespace

std::span<const char* const> NavNumbersOf(int generation) {
  if (generation == 4) return kGeneration4;
  if (generation == 5) return kGeneration5;
  return {};
}

bool IsValidNavNumber(int generation, const std::string& entered) {
  const auto numbers = NavNumbersOf(generation);
  return std::any_of(numbers.begin(), numbers.end(),
                     [&entered](const char* n) { return entered == n; });
}

std::string TrimmedEntry(const std::string& text) {
  constexpr const char* kBlank = " \t\r\n";
  const auto first = text.find_first_not_of(kBlank);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool AcceptNavNumber(int generation, const std::string& entered, std::string& number) {
  const std::string trimmed = TrimmedEntry(entered);
  if (!IsValidNavNumber(generation, trimmed)) return false;
  number = trimmed;
  return true;
}

std::string NavMismatchText(int generation) {
  return "The Entered NAV Number Does Not Match a Valid Version " + std::to_string(generation) +
         " Number!";
}

std::string NavRejectionText(int generation, const std::string& entered) {
  const std::string trimmed = TrimmedEntry(entered);
  return NavMismatchText(generation) + "\nEntered: " +
         (trimmed.empty() ? std::string("nothing") : "\"" + trimmed + "\"");
}

}  // namespace tarnvale
