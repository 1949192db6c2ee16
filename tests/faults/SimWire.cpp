#include "faults/SimWire.h"

#include <algorithm>

namespace tarnvale::test {

namespace {
// Signed distance on the wrapping tick.
std::int32_t Until(std::uint32_t from, std::uint32_t to) { return static_cast<std::int32_t>(to - from); }
}  // namespace

struct SimWire::State {
  State(sim::SimDevice& d, const FakeClock& c, WireFaults f) : device(d), clock(c), faults(std::move(f)) {}

  struct Arrival {
    std::uint32_t at;
    std::vector<std::uint8_t> bytes;
    bool reply = false;
    bool hangUp = false;
  };

  // Moves what is due into the input; caller locks.
  void TakeDue() {
    const std::uint32_t now = clock.TickMs();
    while (!pending.empty() && Until(now, pending.front().at) <= 0) {
      Arrival a = std::move(pending.front());
      pending.erase(pending.begin());
      input.insert(input.end(), a.bytes.begin(), a.bytes.end());
      if (a.reply) device.ReplyDelivered();
      if (a.hangUp) {
        lost = true;
        pending.clear();
      }
    }
  }

  void Schedule(Arrival a) {
    const std::uint32_t now = clock.TickMs();
    const auto pos = std::upper_bound(pending.begin(), pending.end(), a.at, [&](std::uint32_t t, const Arrival& x) {
      return Until(now, t) < Until(now, x.at);
    });
    pending.insert(pos, std::move(a));
  }

  // Passes the device's outputs through the link's faults.
  void Deliver(std::vector<sim::SimOutput>& outs) {
    const std::uint32_t now = clock.TickMs();
    for (sim::SimOutput& o : outs) {
      const std::uint32_t at = now + o.delayMs;
      if (dead) return;
      if (o.bytes.empty()) {
        if (o.close) {
          Schedule({at, {}, false, true});
          dead = true;
        }
        continue;
      }
      const std::uint32_t n = ++replies;
      if (faults.silentAfter && n > *faults.silentAfter) continue;
      if (faults.killAfter && n == *faults.killAfter + 1) {
        // Dies part way through this reply: its first half gets out.
        std::vector<std::uint8_t> half(o.bytes.begin(), o.bytes.begin() + static_cast<std::ptrdiff_t>(o.bytes.size() / 2));
        Schedule({at, std::move(half), false, true});
        dead = true;
        return;
      }
      if (faults.dropAt && n == *faults.dropAt) continue;
      std::vector<std::uint8_t> bytes = std::move(o.bytes);
      if (faults.replaceAt && n == *faults.replaceAt) bytes = faults.replacement;
      Schedule({at, std::move(bytes), o.reply, false});
      if (faults.strayAfter && n == *faults.strayAfter) Schedule({at, {faults.strayByte}, false, false});
      if (faults.closeAfter && n == *faults.closeAfter) {
        Schedule({at, {}, false, true});
        dead = true;
        return;
      }
      if (o.close) {
        Schedule({at, {}, false, true});
        dead = true;
        return;
      }
    }
  }

  sim::SimDevice& device;
  const FakeClock& clock;
  WireFaults faults;
  mutable std::mutex m;
  std::vector<Arrival> pending;
  std::vector<std::uint8_t> input;
  std::uint32_t replies = 0;
  bool dead = false;  // nothing more will be sent
  bool lost = false;  // the hang-up has reached the program
  bool readSinceWait = true;
};

namespace {

class WireStream final : public platform::Stream {
 public:
  explicit WireStream(std::shared_ptr<SimWire::State> s) : s_(std::move(s)) {}

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
    std::lock_guard l(s_->m);
    s_->TakeDue();
    // A hung-up line takes nothing more.
    if (s_->lost) return 0;
    std::vector<sim::SimOutput> outs;
    if (!s_->dead) s_->device.Feed(buffer, count, outs);
    s_->Deliver(outs);
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
    const bool fresh = s_->readSinceWait;
    s_->readSinceWait = false;
    if (!s_->input.empty() && fresh) return true;
    if (s_->lost) {
      // A dead line: back after a short pause, as a hung-up pty is.
      s_->clock.Advance(std::min<std::uint32_t>(std::max<std::uint32_t>(timeoutMs, 1), 10));
      return !s_->input.empty();
    }
    std::uint32_t step = std::max<std::uint32_t>(timeoutMs, 1);
    if (!s_->pending.empty()) {
      const std::int32_t until = Until(s_->clock.TickMs(), s_->pending.front().at);
      if (until >= 0 && static_cast<std::uint32_t>(until) < step) step = std::max<std::int32_t>(until, 1);
    }
    s_->clock.Advance(step);
    s_->TakeDue();
    return !s_->input.empty();
  }

  bool LinkLost() const override {
    std::lock_guard l(s_->m);
    return s_->lost;
  }
  bool Close() override { return true; }
  int Descriptor() const override { return -1; }
  bool IsTcp() const override { return false; }

 private:
  std::shared_ptr<SimWire::State> s_;
};

}  // namespace

SimWire::SimWire(sim::SimDevice& device, const FakeClock& clock, WireFaults faults)
    : state_(std::make_shared<State>(device, clock, std::move(faults))) {}

std::unique_ptr<platform::Stream> SimWire::Stream() { return std::make_unique<WireStream>(state_); }

std::uint32_t SimWire::Replies() const {
  std::lock_guard l(state_->m);
  return state_->replies;
}

bool SimWire::Lost() const {
  std::lock_guard l(state_->m);
  return state_->lost;
}

}  // namespace tarnvale::test
