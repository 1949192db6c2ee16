#include "core/result/ResultCode.h"

#include <cstdio>

namespace tarnvale {

std::string ResultText(ResultCode code) {
  switch (code) {
    case rc::kCantOpenInput: return "Can't Open Input File";
    case rc::kCantOpenOutput: return "Can't Open Output File";
    case rc::kCantWriteOutput: return "Can't Write to Output File";
    case rc::kInvalidHexFile: return "Invalid Hex File";
    case rc::kErrorInHexFile: return "Error in Hex File";
    case rc::kDataNotFound: return "Data not found in Hex File";
    case rc::kBlankLine: return "Error: Blank Line in File";
    case rc::kSuccess: return "Success";
    case rc::kStringTooLong: return "String too long";
    case rc::kBadChecksum: return "Bad Check Sum";
    case rc::kUnrecognizedResponse: return "Unrecognized Command Response";
    case rc::kProgrammingError: return "Programming Error";
    case rc::kTimeout: return "Timeout while waiting for a response";
    case rc::kTooFewBytes: return "Too few bytes sent";
    case rc::kAddressOutOfRange: return "Address out of range";
    case rc::kNotBlank: return "Memory is not blank";
    case rc::kDataMismatch: return "Data Mis-match";
    case rc::kUnknownCommand: return "Un-Recognized Command";
    case rc::kInvalidRevision: return "Invalid Revision Number";
    case rc::kPortOpenFailed: return "Failed to Open Port";
    case rc::kEraseError: return "Erase Error";
    case rc::kNoApplication: return "No Application in Memory";
    case rc::kProgrammingTimeout: return "Timeout while waiting for a response while Programming";
    case rc::kOutputIsInput: return "Output File is the Input File";
    case rc::kLinkLost: return "Link Lost: the connection to the device was closed";
    default: break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Un-recognized return code - %0x", static_cast<unsigned>(code));
  return text;
}

std::string ReplyResultText(ResultCode code) {
  std::string text = ResultText(code);
  // Printable and without a text of its own: a reply byte, not one of the
  // program's own codes (those are small numbers or at the top of the range).
  if (code > ' ' && code < 0x7F && text.rfind("Un-recognized return code", 0) == 0) {
    text += " (the device answered '" + std::string(1, static_cast<char>(code)) +
            "'; expected a status byte: '0' for success, '1'-'4' or '@'-'J' for a fault)";
  }
  return text;
}

}  // namespace tarnvale
