#pragma once
// Time limits of the programming and read-back engines, and the per-target
// programming parameters.

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

// Programming parameters of a target: default range, lanes, how many
// acknowledgements make one progress message, and how many packets may
// travel ahead of their acknowledgements.
struct TargetParams {
  std::uint32_t base;
  std::uint32_t end;
  std::uint8_t lanes;
  std::uint32_t progressStep;
  std::uint32_t window;
};

// Targets 0 to 6; anything else gets target 0's parameters.
TargetParams ParamsForTarget(int target);

// Memory types of the programming run.
inline constexpr int kModeProgramFlash = 1;  // erase first, no start address packet
inline constexpr int kModeLoad = 0;          // into memory, with a start address packet

}  // namespace tarnvale
