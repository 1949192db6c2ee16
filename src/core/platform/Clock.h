#pragma once
// Millisecond tick and sleep. The tick is a 32-bit counter that wraps, as
// every time-out of the link is computed with unsigned subtraction.

#include <cstdint>

namespace tarnvale {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t TickMs() const = 0;
  virtual void SleepMs(std::uint32_t ms) const = 0;
};

// Monotonic system clock (CLOCK_MONOTONIC, truncated to 32 bits).
const Clock& SystemClock();

// Seconds since the epoch, wall clock; used for elapsed times shown to people.
std::int64_t WallSeconds();

}  // namespace tarnvale
