#include "support/FakeLink.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "core/link/CommPort.h"

namespace tarnvale::test {

// Everything the link knows; every member is used under `m`.
struct FakeLink::State {
  State(const FakeClock& c, sim::SimDevice* d, WireFaults f) : clock(c), device(d), faults(std::move(f)) {}

  struct Arrival {
    std::uint32_t at;
    Bytes bytes;
    bool reply = false;   // a device's answer to a packet
    bool hangUp = false;  // the far end hangs up once these bytes are in
  };

  // Signed distance from `from` to `to` on the wrapping 32-bit tick.
  static std::int32_t Until(std::uint32_t from, std::uint32_t to) { return static_cast<std::int32_t>(to - from); }

  // Queues bytes `delayMs` from now; arrivals for the same moment keep their order.
  void At(std::uint32_t delayMs, Bytes bytes, bool reply = false, bool hangUp = false) {
    const std::uint32_t now = clock.TickMs();
    Arrival a{now + delayMs, std::move(bytes), reply, hangUp};
    const auto pos = std::upper_bound(pending.begin(), pending.end(), a.at, [&](std::uint32_t t, const Arrival& x) {
      return Until(now, t) < Until(now, x.at);
    });
    pending.insert(pos, std::move(a));
  }

  // Moves every arrival whose moment has come into the input, in order.
  void TakeDue() {
    const std::uint32_t now = clock.TickMs();
    while (!pending.empty() && Until(now, pending.front().at) <= 0) {
      Arrival a = std::move(pending.front());
      pending.erase(pending.begin());
      input.insert(input.end(), a.bytes.begin(), a.bytes.end());
      if (a.reply && device != nullptr) device->ReplyDelivered();
      if (a.hangUp) {
        lost = true;
        pending.clear();
      }
    }
  }

  std::size_t Waiting() const { return chunk == 0 ? input.size() : std::min(input.size(), chunk); }

  // Jumps the clock to the next arrival if it comes within `timeoutMs`, else
  // past the wait; never stands still, so no reader loop can spin in place.
  void AdvanceWait(std::uint32_t timeoutMs) {
    std::uint32_t step = std::max<std::uint32_t>(timeoutMs, 1);
    if (!pending.empty()) {
      const std::int32_t until = Until(clock.TickMs(), pending.front().at);
      if (until >= 0 && static_cast<std::uint32_t>(until) < step) step = std::max<std::int32_t>(until, 1);
    }
    clock.Advance(step);
  }

  // Passes the device's outputs through the link's faults.
  void Deliver(std::vector<sim::SimOutput>& outs) {
    for (sim::SimOutput& o : outs) {
      if (dead) return;
      if (o.bytes.empty()) {
        if (o.close) HangUp(o.delayMs, {});
        continue;
      }
      const std::uint32_t n = ++replies;
      if (faults.silentAfter && n > *faults.silentAfter) continue;
      if (faults.killAfter && n == *faults.killAfter + 1) {
        // Dies part way through this reply: its first half gets out.
        o.bytes.resize(o.bytes.size() / 2);
        return HangUp(o.delayMs, std::move(o.bytes));
      }
      if (faults.dropAt && n == *faults.dropAt) continue;
      At(o.delayMs, faults.replaceAt && n == *faults.replaceAt ? faults.replacement : std::move(o.bytes), o.reply);
      if (faults.strayAfter && n == *faults.strayAfter) At(o.delayMs, {faults.strayByte});
      if ((faults.closeAfter && n == *faults.closeAfter) || o.close) return HangUp(o.delayMs, {});
    }
  }
  void HangUp(std::uint32_t delayMs, Bytes last) {
    At(delayMs, std::move(last), false, true);
    dead = true;
  }

  const FakeClock& clock;
  sim::SimDevice* device;
  WireFaults faults;
  std::mutex m;
  std::vector<Arrival> pending;  // in order of arrival time
  Bytes input;
  std::size_t chunk = 0;
  // Bytes the reader has not looked at since its last wait are readable at
  // once. A reader that waits again without reading (it wants more than is
  // there) would spin in place on a real port, so then time moves on.
  bool readSinceWait = true;
  std::vector<Bytes> writes;
  Responder responder;
  std::size_t waitsWithBytesWaiting = 0;
  std::uint32_t replies = 0;
  bool dead = false;  // nothing more will be sent
  bool lost = false;  // the hang-up has reached the program
};

LinkStream::LinkStream(FakeLink::Bytes bytes, const FakeClock& clock, std::size_t chunk, bool afterWrite)
    : s_(std::make_shared<FakeLink::State>(clock, nullptr, WireFaults{})) {
  s_->chunk = chunk;
  if (!afterWrite) {
    s_->At(0, std::move(bytes));
    return;
  }
  s_->responder = [bytes = std::move(bytes), sent = std::make_shared<bool>(false)](const FakeLink::Bytes&) {
    return std::exchange(*sent, true) ? std::vector<FakeLink::Reply>{} : std::vector<FakeLink::Reply>{{0, bytes}};
  };
}

std::size_t LinkStream::Read(std::uint8_t* buffer, std::size_t max) {
  std::lock_guard l(s_->m);
  s_->TakeDue();
  const std::size_t n = std::min(max, s_->Waiting());
  std::copy_n(s_->input.begin(), n, buffer);
  s_->input.erase(s_->input.begin(), s_->input.begin() + static_cast<std::ptrdiff_t>(n));
  if (n > 0) s_->readSinceWait = true;
  return n;
}

std::size_t LinkStream::Write(const std::uint8_t* buffer, std::size_t count) {
  FakeLink::Bytes written(buffer, buffer + count);
  FakeLink::Responder responder;
  {
    std::lock_guard l(s_->m);
    s_->TakeDue();
    // A hung-up line takes nothing more.
    if (s_->lost) return 0;
    s_->writes.push_back(written);
    if (s_->device != nullptr) {
      std::vector<sim::SimOutput> outs;
      if (!s_->dead) s_->device->Feed(buffer, count, outs);
      s_->Deliver(outs);
      return count;
    }
    responder = s_->responder;
  }
  if (responder) {
    // Called unlocked: a responder may look at the link itself.
    std::vector<FakeLink::Reply> replies = responder(written);
    std::lock_guard l(s_->m);
    for (FakeLink::Reply& r : replies) s_->At(r.delayMs, std::move(r.bytes));
  }
  return count;
}

std::size_t LinkStream::BytesWaiting() {
  std::lock_guard l(s_->m);
  s_->TakeDue();
  return s_->Waiting();
}

bool LinkStream::Purge() {
  std::lock_guard l(s_->m);
  s_->TakeDue();
  s_->input.clear();
  return true;
}

bool LinkStream::WaitReadable(std::uint32_t timeoutMs) {
  std::lock_guard l(s_->m);
  s_->TakeDue();
  if (!s_->input.empty()) ++s_->waitsWithBytesWaiting;
  if (std::exchange(s_->readSinceWait, false) && !s_->input.empty()) return true;
  if (s_->lost) {
    // A dead line: back after a short pause, as a hung-up pty is.
    s_->clock.Advance(std::min<std::uint32_t>(std::max<std::uint32_t>(timeoutMs, 1), 10));
    return !s_->input.empty();
  }
  s_->AdvanceWait(timeoutMs);
  s_->TakeDue();
  return !s_->input.empty();
}

bool LinkStream::LinkLost() const {
  std::lock_guard l(s_->m);
  return s_->lost;
}

FakeLink::FakeLink(const FakeClock& clock) : state_(std::make_shared<State>(clock, nullptr, WireFaults{})) {}

FakeLink::FakeLink(const FakeClock& clock, sim::SimDevice& device, WireFaults faults)
    : state_(std::make_shared<State>(clock, &device, std::move(faults))) {}

void FakeLink::AttachTo(CommPort& port) { port.Attach(std::make_unique<LinkStream>(state_)); }

void FakeLink::Arrive(std::uint32_t delayMs, const Bytes& bytes) {
  std::lock_guard l(state_->m);
  state_->At(delayMs, bytes);
}

void FakeLink::HangUp(std::uint32_t delayMs) {
  std::lock_guard l(state_->m);
  state_->HangUp(delayMs, {});
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

bool FakeLink::Lost() const {
  std::lock_guard l(state_->m);
  return state_->lost;
}

}  // namespace tarnvale::test
