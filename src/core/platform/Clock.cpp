#include "core/platform/Clock.h"

#include <time.h>

namespace tarnvale {
namespace {

class MonotonicClock final : public Clock {
 public:
  std::uint32_t TickMs() const override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
  }
  void SleepMs(std::uint32_t ms) const override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
};

}  // namespace

const Clock& SystemClock() {
  static const MonotonicClock clock;  // stateless
  return clock;
}

std::int64_t WallSeconds() { return static_cast<std::int64_t>(time(nullptr)); }

}  // namespace tarnvale
