#pragma once
// The program's one hex-digit decoder. Upper and lower case are both digits
// here: tool chains differ. Readers with a narrower rule (the controller
// reply decoder takes only upper case) narrow it where they use it.

#include <cstdint>

namespace tarnvale {

// The value 0-15 of a hex digit, or -1.
extern const std::int8_t kHexValue[256];

constexpr int kNotHexDigit = -1;

inline int HexDigitValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// Two hex digits at p as a byte; false when either is not a hex digit.
inline bool DecodeHexByte(const char* p, std::uint8_t& out) {
  const int hi = HexDigitValue(p[0]);
  const int lo = HexDigitValue(p[1]);
  if ((hi | lo) < 0) return false;
  out = static_cast<std::uint8_t>((hi << 4) | lo);
  return true;
}

}  // namespace tarnvale
