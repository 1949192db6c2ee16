#include "faults/SimWire.h"

#include <algorithm>

#include "support/TimedInput.h"

namespace tarnvale::test {

struct SimWire::State {
  State(sim::SimDevice& d, const FakeClock& c, WireFaults f) : device(d), clock(c), faults(std::move(f)), in(c) {}

  struct Arrival {
    std::uint32_t at;
    std::vector<std::uint8_t> bytes;
    bool reply = false;
    bool hangUp = false;
  };

  // Moves what is due into the input; caller locks.
  void TakeDue() {
    in.TakeDue([&](const Arrival& a) {
      if (a.reply) device.ReplyDelivered();
      if (a.hangUp) {
        lost = true;
        in.DropPending();
      }
    });
  }

  void Schedule(Arrival a) { in.Schedule(std::move(a)); }

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
  TimedInput<Arrival> in;
  std::uint32_t replies = 0;
  bool dead = false;  // nothing more will be sent
  bool lost = false;  // the hang-up has reached the program
};

namespace {

class WireStream final : public platform::Stream {
 public:
  explicit WireStream(std::shared_ptr<SimWire::State> s) : s_(std::move(s)) {}

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    return s_->in.Read(buffer, max);
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
    return s_->in.Waiting();
  }

  bool Purge() override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    s_->in.ClearInput();
    return true;
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    if (s_->in.FreshBytesWaiting()) return true;
    if (s_->lost) {
      // A dead line: back after a short pause, as a hung-up pty is.
      s_->clock.Advance(std::min<std::uint32_t>(std::max<std::uint32_t>(timeoutMs, 1), 10));
      return s_->in.Waiting() > 0;
    }
    s_->in.AdvanceWait(timeoutMs);
    s_->TakeDue();
    return s_->in.Waiting() > 0;
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
