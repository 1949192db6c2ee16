#include "core/jobs/StopToken.h"

#include <algorithm>
#include <chrono>

namespace tarnvale {
namespace {

// The flag of a token that never stops: never raised, so sharing it is safe.
const std::atomic<bool>& NeverFlag() {
  static const std::atomic<bool> never{false};
  return never;
}

// A step of a wait that cannot sleep on the stop itself.
constexpr std::uint32_t kStepMs = 50;

}  // namespace

void StopState::RequestStop(std::uint32_t graceMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    graceMs_.store(graceMs);
    stopped_.store(true);
  }
  changed_.notify_all();
}

bool StopState::WaitFor(std::uint32_t ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_.load(); });
}

StopToken::StopToken() : flag_(&NeverFlag()) {}

StopToken::StopToken(std::shared_ptr<const StopState> state)
    : state_(std::move(state)), flag_(state_ ? &state_->Flag() : &NeverFlag()) {}

StopToken::StopToken(const std::atomic<bool>& flag) : flag_(&flag) {}

bool StopToken::SleepFor(const Clock& clock, std::uint32_t ms) const {
  if (StopRequested()) return true;
  if (state_ && &clock == &SystemClock()) return state_->WaitFor(ms);
  for (std::uint32_t waited = 0; waited < ms;) {
    const std::uint32_t step = std::min(kStepMs, ms - waited);
    clock.SleepMs(step);
    waited += step;
    if (StopRequested()) return true;
  }
  return false;
}

}  // namespace tarnvale
