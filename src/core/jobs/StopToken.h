#pragma once
// How a long run learns that it is to stop: the person pressed Stop, a dialog
// is closing, Ctrl-C came. The run looks at its token between steps and
// sleeps through waits with SleepFor, which a stop cuts short at once.
//
// A stop may carry a grace time: the run stops reporting at once but may go
// on draining what the device still sends for up to that long, so the device
// is idle when the run returns (a RAM bank run ends with a final record).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/platform/Clock.h"

namespace tarnvale {

// The shared state between the side that stops and the run that is stopped.
class StopState {
 public:
  void RequestStop(std::uint32_t graceMs = 0);
  bool StopRequested() const { return stopped_.load(); }
  std::uint32_t GraceMs() const { return graceMs_.load(); }
  const std::atomic<bool>& Flag() const { return stopped_; }
  // Waits up to `ms` of real time; true as soon as a stop is asked for.
  bool WaitFor(std::uint32_t ms) const;

 private:
  std::atomic<bool> stopped_{false};
  std::atomic<std::uint32_t> graceMs_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};

class StopToken {
 public:
  // A token that never stops.
  StopToken();
  explicit StopToken(std::shared_ptr<const StopState> state);
  // Watches a bare flag (the runs' older callers hold one): no grace, and
  // waits end within a short step of the flag rising instead of at once.
  // The flag must outlive the token.
  StopToken(const std::atomic<bool>& flag);  // NOLINT: implicit on purpose

  bool StopRequested() const { return flag_->load(); }
  std::uint32_t GraceMs() const { return state_ ? state_->GraceMs() : 0; }
  // Sleeps `ms` on `clock`, cut short by a stop; true when stopped. On the
  // system clock the wait is on the stop itself; another clock (a test's)
  // moves in steps of its own SleepMs.
  bool SleepFor(const Clock& clock, std::uint32_t ms) const;
  // For a routine that still takes the flag itself.
  operator const std::atomic<bool>&() const { return *flag_; }  // NOLINT

 private:
  std::shared_ptr<const StopState> state_;
  const std::atomic<bool>* flag_;
};

}  // namespace tarnvale
