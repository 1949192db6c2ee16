#pragma once
// The reading side of a fake port: bytes that arrive at set ticks of a
// FakeClock, and a reader's wait that moves the clock instead of sleeping.
// FakeLink and the fault matrix's SimWire both keep one. Not locked: the
// owner holds its own mutex around every call.
//
// `Arrival` is any struct with `std::uint32_t at` and
// `std::vector<std::uint8_t> bytes`; an owner may add what it needs to know
// when the bytes land.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/FakeLink.h"

namespace tarnvale::test {

template <typename Arrival>
class TimedInput {
 public:
  explicit TimedInput(const FakeClock& clock) : clock_(clock) {}

  const FakeClock& Clock() const { return clock_; }

  // Queues an arrival; arrivals for the same moment keep their order.
  void Schedule(Arrival a) {
    const std::uint32_t now = clock_.TickMs();
    const auto pos = std::upper_bound(pending_.begin(), pending_.end(), a.at, [&](std::uint32_t t, const Arrival& x) {
      return Until(now, t) < Until(now, x.at);
    });
    pending_.insert(pos, std::move(a));
  }

  // Moves every arrival whose moment has come into the input, in order, and
  // shows each to `landed` (which may call DropPending).
  template <typename Landed>
  void TakeDue(Landed&& landed) {
    const std::uint32_t now = clock_.TickMs();
    while (!pending_.empty() && Until(now, pending_.front().at) <= 0) {
      Arrival a = std::move(pending_.front());
      pending_.erase(pending_.begin());
      input_.insert(input_.end(), a.bytes.begin(), a.bytes.end());
      landed(a);
    }
  }
  void TakeDue() {
    TakeDue([](const Arrival&) {});
  }

  std::size_t Read(std::uint8_t* buffer, std::size_t max) {
    const std::size_t n = std::min(max, input_.size());
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    if (n > 0) readSinceWait_ = true;
    return n;
  }

  std::size_t Waiting() const { return input_.size(); }
  void ClearInput() { input_.clear(); }
  void DropPending() { pending_.clear(); }

  // Bytes the reader has not looked at since its last wait: readable at
  // once. A reader that waits again without reading (it wants more than is
  // there) would spin in place on a real port, so then time moves on.
  bool FreshBytesWaiting() {
    const bool fresh = readSinceWait_;
    readSinceWait_ = false;
    return !input_.empty() && fresh;
  }

  // Jumps the clock to the next arrival if it comes within `timeoutMs`, else
  // past the wait; never stands still, so no reader loop can spin in place.
  void AdvanceWait(std::uint32_t timeoutMs) {
    std::uint32_t step = std::max<std::uint32_t>(timeoutMs, 1);
    if (!pending_.empty()) {
      const std::int32_t until = Until(clock_.TickMs(), pending_.front().at);
      if (until >= 0 && static_cast<std::uint32_t>(until) < step) step = std::max<std::int32_t>(until, 1);
    }
    clock_.Advance(step);
  }

 private:
  // Signed distance from `from` to `to` on the wrapping 32-bit tick.
  static std::int32_t Until(std::uint32_t from, std::uint32_t to) { return static_cast<std::int32_t>(to - from); }

  const FakeClock& clock_;
  std::vector<Arrival> pending_;  // in order of arrival time
  std::vector<std::uint8_t> input_;
  bool readSinceWait_ = true;
};

}  // namespace tarnvale::test
