#pragma once
// One Intel HEX record and its parser.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/result/ResultCode.h"

namespace tarnvale {

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
  // The start address of a type 05 record: its bytes, first byte least
  // significant; missing bytes count as 0.
  std::uint32_t StartLinear() const {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < 4; ++i) v |= std::uint32_t{i < count ? data[i] : std::uint8_t{0}} << (8 * i);
    return v;
  }
};

// Where and why a file was refused: the 1-based line of the record that
// failed (0: no record was at fault) and what was wrong with it, e.g.
// "checksum 0x3C, expected 0x00". The result code keeps its fixed text; this
// is the detail a technician needs to find the line.
struct FileFailure {
  std::size_t line = 0;
  std::string reason;
};

// The reasons every reader of the family gives for a file that is not whole:
// a record run into the next one, and a file cut short before its end record.
inline constexpr const char* kTextAfterChecksum = "text after the checksum";
inline constexpr const char* kNoEndRecord = "no end-of-file record";

// "PATH:LINE: WORDS (REASON)", the line and reason where the reader gave them:
// how every front end names a refused file.
std::string FileFailureText(const std::string& path, const std::string& words, const FileFailure& failure);

// Parses ":" count address(4) type data(2*count) checksum from one token.
//  8 (kInvalidHexFile): no ':', a non-hex digit, fewer characters than
//    the count byte announces (whatever the count says, nothing beyond the
//    token is read), or characters after the checksum ("text after the
//    checksum": a lost line break with a second record behind it);
//  9 (kErrorInHexFile): the bytes do not sum to 0 modulo 256.
// The record type is not judged here; each reader decides what it accepts.
// On failure `reason` (when given) says what was wrong.
ResultCode ParseHexRecord(std::string_view token, HexRecord& record, std::string* reason = nullptr);

}  // namespace tarnvale
