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

std::string NavMismatchText(int generation) {
  return "The Entered NAV Number Does Not Match a Valid Version " + std::to_string(generation) +
         " Number!";
}

}  // namespace tarnvale
