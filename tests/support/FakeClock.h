#pragma once
// The one clock of tests that must not wait: it moves only when told. A
// sleep advances it by the sleep, so a reader's time-out passes at once when
// nothing more is coming; Advance and Set move it from any thread (a test may
// drive it while an engine runs on its worker).
#include <atomic>
#include <cstdint>

#include "core/platform/Clock.h"

namespace tarnvale::test {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint32_t startMs = 0) : now_(startMs) {}
  std::uint32_t TickMs() const override { return now_.load(); }
  void SleepMs(std::uint32_t ms) const override { Advance(ms); }
  void Advance(std::uint32_t ms) const { now_.fetch_add(ms); }
  void Set(std::uint32_t ms) const { now_.store(ms); }

 private:
  mutable std::atomic<std::uint32_t> now_;
};

}  // namespace tarnvale::test
