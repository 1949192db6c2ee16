#pragma once
// One-byte outcome of every protocol and image-file operation.
//
// Protocol results are printable characters that devices also send back as
// single status bytes; file-layer results are small numbers.

#include <cstdint>
#include <string>

namespace tarnvale {

using ResultCode = std::uint8_t;

namespace rc {
// File layer.
inline constexpr ResultCode kLanesInvalid = 2;
inline constexpr ResultCode kImageTooLarge = 3;
inline constexpr ResultCode kCantOpenInput = 4;
inline constexpr ResultCode kCantOpenOutput = 5;
inline constexpr ResultCode kCantWriteOutput = 6;
inline constexpr ResultCode kInvalidHexFile = 8;
inline constexpr ResultCode kErrorInHexFile = 9;
inline constexpr ResultCode kDataNotFound = 10;
inline constexpr ResultCode kBlankLine = 12;
inline constexpr ResultCode kFileNotOpen = 18;
inline constexpr ResultCode kCloseFailed = 19;
// Protocol (also the status bytes devices send).
inline constexpr ResultCode kSuccess = '0';
inline constexpr ResultCode kStringTooLong = '1';
inline constexpr ResultCode kBadChecksum = '2';
inline constexpr ResultCode kUnrecognizedResponse = '3';
inline constexpr ResultCode kProgrammingError = '4';
inline constexpr ResultCode kTimeout = '@';
inline constexpr ResultCode kTooFewBytes = 'A';
inline constexpr ResultCode kAddressOutOfRange = 'B';
inline constexpr ResultCode kNotBlank = 'C';
inline constexpr ResultCode kDataMismatch = 'D';
inline constexpr ResultCode kUnknownCommand = 'E';
inline constexpr ResultCode kInvalidRevision = 'F';
inline constexpr ResultCode kPortOpenFailed = 'G';
inline constexpr ResultCode kEraseError = 'H';
inline constexpr ResultCode kNoApplication = 'I';
inline constexpr ResultCode kProgrammingTimeout = 'J';
}  // namespace rc

// The fixed text of a result code; codes outside the table give
// "Un-recognized return code - %0x".
std::string ResultText(ResultCode code);

// True for the bytes a device sends as a status reply ('0'-'4', '@'-'J').
constexpr bool IsStatusByte(std::uint8_t b) {
  return (b >= '0' && b <= '4') || (b >= '@' && b <= 'J');
}

}  // namespace tarnvale
