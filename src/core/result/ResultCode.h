#pragma once
// One-byte outcome of every protocol and image-file operation.
//
// Protocol results are printable characters that devices also send back as
// single status bytes; file-layer results are small numbers.

#include <cstdint>
#include <string>

namespace tarnvale {

using ResultCode = std::uint8_t;

// One name per value. ResultText knows the texts; a value without a text of
// its own shows as "Un-recognized return code - %0x".
namespace rc {
// File layer. File operations count success as 0, unlike the protocol.
inline constexpr ResultCode kFileOk = 0;
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
// Boot image checks of the board identification (no text of their own).
inline constexpr ResultCode kBootIoSerialInvalid = 20;
inline constexpr ResultCode kBootCpuSerialInvalid = 21;
inline constexpr ResultCode kBootControllerSerialInvalid = 22;
inline constexpr ResultCode kBootIoRevisionInvalid = 23;
inline constexpr ResultCode kBootCpuRevisionInvalid = 24;
// The output named would be the input file itself (after links resolve).
inline constexpr ResultCode kOutputIsInput = 25;
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
// Ends that are nobody's fault, outside every byte a device sends.
// The operator said no or cancelled a choice.
inline constexpr ResultCode kStoppedByOperator = 0xFE;
// The program itself stopped the run (its dialog closed, Ctrl-C on the
// command line): never to be taken for a device time-out.
inline constexpr ResultCode kStoppedByProgram = 0xFD;
// The link itself went away (a hung-up line, the peer closed the socket):
// every wait ends at once instead of running out its time limit.
inline constexpr ResultCode kLinkLost = 0xFC;
}  // namespace rc

// The fixed text of a result code; codes outside the table give
// "Un-recognized return code - %0x".
std::string ResultText(ResultCode code);

// ResultText, and for a printable code outside the table (a byte a device
// sent back where a status byte belonged) what came and what was expected:
// "Un-recognized return code - 5a (the device answered 'Z'; expected a
// status byte: '0' for success, '1'-'4' or '@'-'J' for a fault)".
std::string ReplyResultText(ResultCode code);

// True for the bytes a device sends as a status reply ('0'-'4', '@'-'J').
constexpr bool IsStatusByte(std::uint8_t b) {
  return (b >= '0' && b <= '4') || (b >= '@' && b <= 'J');
}

}  // namespace tarnvale
