#include "support/FakeLink.h"

#include <algorithm>

#include "core/link/CommPort.h"

namespace tarnvale::test {

namespace {

// Signed distance from `from` to `to` on the wrapping 32-bit tick.
std::int32_t Until(std::uint32_t from, std::uint32_t to) { return static_cast<std::int32_t>(to - from); }

}  // namespace

struct FakeLink::State {
  explicit State(const FakeClock& c) : clock(c) {}

  struct Arrival {
    std::uint32_t at;
    Bytes bytes;
  };

  // Moves every arrival whose moment has come into the input; caller locks.
  void TakeDue() {
    const std::uint32_t now = clock.TickMs();
    auto it = pending.begin();
    while (it != pending.end() && Until(now, it->at) <= 0) {
      input.insert(input.end(), it->bytes.begin(), it->bytes.end());
      ++it;
    }
    pending.erase(pending.begin(), it);
  }

  void Schedule(std::uint32_t delayMs, Bytes bytes) {
    const std::uint32_t at = clock.TickMs() + delayMs;
    // Stable: bytes scheduled for the same moment keep their order.
    const auto pos = std::upper_bound(pending.begin(), pending.end(), at, [&](std::uint32_t t, const Arrival& a) {
      return Until(clock.TickMs(), t) < Until(clock.TickMs(), a.at);
    });
    pending.insert(pos, Arrival{at, std::move(bytes)});
  }

  const FakeClock& clock;
  std::mutex m;
  std::vector<Arrival> pending;  // in order of arrival time
  Bytes input;
  std::vector<Bytes> writes;
  Responder responder;
  bool readSinceWait = true;
  std::size_t waitsWithBytesWaiting = 0;
};

namespace {

// The stream the port owns; everything it knows lives in the shared state.
class ScriptedStream final : public platform::Stream {
 public:
  explicit ScriptedStream(std::shared_ptr<FakeLink::State> s) : s_(std::move(s)) {}

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    const std::size_t n = std::min(max, s_->input.size());
    std::copy_n(s_->input.begin(), n, buffer);
    s_->input.erase(s_->input.begin(), s_->input.begin() + static_cast<std::ptrdiff_t>(n));
    if (n > 0) s_->readSinceWait = true;
    return n;
  }

  std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
    FakeLink::Bytes written(buffer, buffer + count);
    FakeLink::Responder responder;
    {
      std::lock_guard l(s_->m);
      s_->writes.push_back(written);
      responder = s_->responder;
    }
    if (responder) {
      // Called unlocked: a responder may look at the link itself.
      const std::vector<FakeLink::Reply> replies = responder(written);
      std::lock_guard l(s_->m);
      for (const FakeLink::Reply& r : replies) s_->Schedule(r.delayMs, r.bytes);
    }
    return count;
  }

  std::size_t BytesWaiting() override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    return s_->input.size();
  }

  bool Purge() override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    s_->input.clear();
    return true;
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    if (!s_->input.empty()) ++s_->waitsWithBytesWaiting;
    // Bytes the reader has not looked at yet: readable at once. A reader that
    // waits again without reading (it wants more than is there) would spin
    // in place, so then time moves on as it does below.
    const bool fresh = s_->readSinceWait;
    s_->readSinceWait = false;
    if (!s_->input.empty() && fresh) return true;
    // Jump to the next arrival if it comes within the wait, else past the
    // wait. Never stand still, so no reader loop can spin in place.
    std::uint32_t step = std::max<std::uint32_t>(timeoutMs, 1);
    if (!s_->pending.empty()) {
      const std::int32_t until = Until(s_->clock.TickMs(), s_->pending.front().at);
      if (until >= 0 && static_cast<std::uint32_t>(until) < step) step = std::max<std::int32_t>(until, 1);
    }
    s_->clock.Advance(step);
    s_->TakeDue();
    return !s_->input.empty();
  }

  bool Close() override { return true; }
  int Descriptor() const override { return -1; }
  bool IsTcp() const override { return false; }

 private:
  std::shared_ptr<FakeLink::State> s_;
};

}  // namespace

FakeLink::FakeLink(const FakeClock& clock) : state_(std::make_shared<State>(clock)) {}

void FakeLink::AttachTo(CommPort& port) { port.Attach(std::make_unique<ScriptedStream>(state_)); }

void FakeLink::Arrive(std::uint32_t delayMs, const Bytes& bytes) {
  std::lock_guard l(state_->m);
  state_->Schedule(delayMs, bytes);
}

void FakeLink::SetResponder(Responder responder) {
  std::lock_guard l(state_->m);
  state_->responder = std::move(responder);
}

std::vector<FakeLink::Bytes> FakeLink::Writes() const {
  std::lock_guard l(state_->m);
  return state_->writes;
}

std::size_t FakeLink::WaitsWithBytesWaiting() const {
  std::lock_guard l(state_->m);
  return state_->waitsWithBytesWaiting;
}

}  // namespace tarnvale::test
