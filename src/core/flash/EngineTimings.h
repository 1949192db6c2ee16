#pragma once
// Time limits of the programming and read-back engines, and their modes.
// What differs between targets is in core/device/Target.h.

#include <cstdint>

namespace tarnvale {

// Every limit the engines wait by. The defaults are the real ones; only
// tests pass shorter values, so a time-out can be seen without waiting
// minutes for it.
struct EngineTimings {
  std::uint32_t eraseTimeoutMs = 360000;  // a full flash erase may take 6 minutes
  std::uint32_t erasePollMs = 100;        // the erase wait looks for the answer this often
  std::uint32_t ackTimeoutMs = 30000;     // programming: longest silence of the controller
  std::uint32_t dumpLineTimeoutMs = 1000; // one memory line of a dump
};

// Memory types of the programming run.
inline constexpr int kModeProgramFlash = 1;  // erase first, no start address packet
inline constexpr int kModeLoad = 0;          // into memory, with a start address packet

}  // namespace tarnvale
