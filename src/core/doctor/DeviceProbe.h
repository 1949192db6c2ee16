#pragma once
// One harmless question to whatever sits on a port, timed: the query each
// workflow sends first anyway, so nothing is written to the device.
//   RQ700 controller: the CPU board revision (a page select and one memory
//                     read of the boot page)
//   RQ750:            "vX", its model and protocol version (at 38400 baud,
//                     the backup link's rate)
//   box:              its firmware version

#include <cstdint>
#include <string>

#include "core/platform/Clock.h"
#include "core/result/ResultCode.h"

namespace tarnvale {
class CommPort;
}

namespace tarnvale::doctor {

struct ProbeAnswer {
  bool answered = false;     // the device answered the question as it should
  ResultCode code = 0;       // the query's result ('0' when answered)
  std::uint32_t replyMs = 0; // from the request to the complete reply (or the give-up)
  std::string detail;        // "board revision C", "RQ750 ... protocol 3.2", "version 1.07"
};

// How long the box's version record may stay silent; it answers at once.
inline constexpr std::uint32_t kBoxProbeSilenceMs = 1000;

ProbeAnswer ProbeController(CommPort& port, const Clock& clock = SystemClock());
ProbeAnswer ProbeRq750(CommPort& port, const Clock& clock = SystemClock());
ProbeAnswer ProbeBox(CommPort& port, const Clock& clock = SystemClock());

}  // namespace tarnvale::doctor
