#pragma once
// One Intel HEX record and its parser.

#include <array>
#include <cstdint>
#include <string_view>

#include "core/result/ResultCode.h"

namespace tarnvale {

namespace rc {
// Success of a file operation. File operations count success as 0, unlike the
// protocol, whose success is the character '0'.
inline constexpr ResultCode kFileOk = 0;
}  // namespace rc

namespace hex_type {
inline constexpr std::uint8_t kData = 0x00;
inline constexpr std::uint8_t kEndOfFile = 0x01;
inline constexpr std::uint8_t kExtendedSegment = 0x02;
inline constexpr std::uint8_t kStartSegment = 0x03;
inline constexpr std::uint8_t kExtendedLinear = 0x04;
inline constexpr std::uint8_t kStartLinear = 0x05;
}  // namespace hex_type

struct HexRecord {
  std::uint8_t count = 0;
  std::uint16_t address = 0;
  std::uint8_t type = 0;
  std::array<std::uint8_t, 255> data{};  // the count byte can say no more
  std::uint8_t checksum = 0;

  // The first two data bytes, high byte first: the value of types 02 and 04.
  // Records too short to carry them give 0 for the missing bytes.
  std::uint32_t Value16() const {
    const std::uint32_t hi = count > 0 ? data[0] : 0;
    const std::uint32_t lo = count > 1 ? data[1] : 0;
    return (hi << 8) | lo;
  }
  // The base address an extended address record sets: value x 16 for a
  // segment record (02), value x 65536 for a linear one (04); 0 otherwise.
  std::uint64_t ExtendedBase() const {
    if (type == hex_type::kExtendedSegment) return std::uint64_t{Value16()} * 16;
    if (type == hex_type::kExtendedLinear) return std::uint64_t{Value16()} * 65536;
    return 0;
  }
};

// Parses ":" count address(4) type data(2*count) checksum from one token.
//  8 (kInvalidHexFile): no ':', a non-hex digit, or fewer characters than
//    the count byte announces (whatever the count says, nothing beyond the
//    token is read);
//  9 (kErrorInHexFile): the bytes do not sum to 0 modulo 256.
// Characters after the checksum are ignored, as they always were.
// The record type is not judged here; each reader decides what it accepts.
ResultCode ParseHexRecord(std::string_view token, HexRecord& record);

}  // namespace tarnvale
