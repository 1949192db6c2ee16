#pragma once
// The box's settle times of one command line run. A real Universal
// Programmer needs its full times before its raw replies are read (3.5 s
// after the 80386EX JTAG request, 1.5 s for board info); a simulator bench
// answers at once and may set TARNVALE_BOX_SETTLE_MS to wait less. The value
// is read here, at the edge, and handed down as BoxTimings.

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"

namespace tarnvale::cli {

inline constexpr const char* kBoxSettleVariable = "TARNVALE_BOX_SETTLE_MS";

// None (the box's real times) unless the variable is set; a value that is
// not a number of milliseconds from 0 to 10000 is a usage error.
inline std::optional<std::uint32_t> BoxSettleFromEnvironment() {
  const char* text = std::getenv(kBoxSettleVariable);
  if (text == nullptr || *text == '\0') return std::nullopt;
  const auto ms = ParseBoxSettleMs(text);
  if (!ms) {
    std::cerr << kBoxSettleVariable << " wants a number of milliseconds from 0 to " << kMaxBoxSettleMs
              << ", not \"" << text << "\"" << std::endl;
    throw CLI::RuntimeError(kExitUsage);
  }
  return ms;
}

// How long the box may take to confirm a target selection. A simulator bench
// on a busy machine (the end-to-end tests run many at once) may not be given
// the processor within a real box's 100 ms; TARNVALE_SELECT_WAIT_MS gives it
// longer. The real wait unless set; not a number from 0 to 10000 is a usage
// error.
inline constexpr const char* kSelectWaitVariable = "TARNVALE_SELECT_WAIT_MS";

inline void ApplySelectWait(LinkState& link) {
  const char* text = std::getenv(kSelectWaitVariable);
  if (text == nullptr || *text == '\0') return;
  const auto ms = ParseBoxSettleMs(text);
  if (!ms) {
    std::cerr << kSelectWaitVariable << " wants a number of milliseconds from 0 to " << kMaxBoxSettleMs
              << ", not \"" << text << "\"" << std::endl;
    throw CLI::RuntimeError(kExitUsage);
  }
  link.SetSelectWaitMs(*ms);
}

inline BoxTimings BoxTimingsFor(std::optional<std::uint32_t> settleMs) {
  return settleMs ? WithBoxSettle({}, *settleMs) : BoxTimings{};
}

}  // namespace tarnvale::cli
