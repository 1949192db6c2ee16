#pragma once
// A millisecond interval over the tick counter. The elapsed time is computed
// by unsigned 32-bit subtraction, so the counter's wrap does no harm.

#include <cstdint>

#include "core/platform/Clock.h"

namespace tarnvale {

class Timer {
 public:
  explicit Timer(std::uint32_t intervalMs, const Clock& clock = SystemClock())
      : clock_(&clock), interval_(intervalMs), start_(clock.TickMs()) {}
  virtual ~Timer() = default;

  void Restart(std::uint32_t intervalMs) {
    interval_ = intervalMs;
    start_ = clock_->TickMs();
  }
  std::uint32_t ElapsedMs() const { return clock_->TickMs() - start_; }
  // True once strictly more than the interval has passed.
  bool IsExpired() const { return ElapsedMs() > interval_; }
  // Milliseconds until IsExpired turns true (at least 1 while not expired).
  std::uint32_t RemainingMs() const {
    const std::uint32_t e = ElapsedMs();
    return e > interval_ ? 0 : interval_ - e + 1;
  }
  std::uint32_t Interval() const { return interval_; }

 private:
  const Clock* clock_;
  std::uint32_t interval_;
  std::uint32_t start_;
};

}  // namespace tarnvale
