#include "core/result/ResultCode.h"

#include <cstdio>

namespace tarnvale {

std::string ResultText(ResultCode code) {
  switch (code) {
    case 4: return "Can't Open Input File";
    case 5: return "Can't Open Output File";
    case 6: return "Can't Write to Output File";
    case 8: return "Invalid Hex File";
    case 9: return "Error in Hex File";
    case 10: return "Data not found in Hex File";
    case 12: return "Error: Blank Line in File";
    case '0': return "Success";
    case '1': return "String too long";
    case '2': return "Bad Check Sum";
    case '3': return "Unrecognized Command Response";
    case '4': return "Programming Error";
    case '@': return "Timeout while waiting for a response";
    case 'A': return "Too few bytes sent";
    case 'B': return "Address out of range";
    case 'C': return "Memory is not blank";
    case 'D': return "Data Mis-match";
    case 'E': return "Un-Recognized Command";
    case 'F': return "Invalid Revision Number";
    case 'G': return "Failed to Open Port";
    case 'H': return "Erase Error";
    case 'I': return "No Application in Memory";
    case 'J': return "Timeout while waiting for a response while Programming";
    default: break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Un-recognized return code - %0x", static_cast<unsigned>(code));
  return text;
}

}  // namespace tarnvale
