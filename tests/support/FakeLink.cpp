#include "support/FakeLink.h"

#include "core/link/CommPort.h"
#include "support/TimedInput.h"

namespace tarnvale::test {

struct FakeLink::State {
  explicit State(const FakeClock& c) : in(c) {}

  struct Arrival {
    std::uint32_t at;
    Bytes bytes;
  };

  std::mutex m;
  TimedInput<Arrival> in;
  std::vector<Bytes> writes;
  Responder responder;
  std::size_t waitsWithBytesWaiting = 0;
};

namespace {

// The stream the port owns; everything it knows lives in the shared state.
class ScriptedStream final : public platform::Stream {
 public:
  explicit ScriptedStream(std::shared_ptr<FakeLink::State> s) : s_(std::move(s)) {}

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    std::lock_guard l(s_->m);
    s_->in.TakeDue();
    return s_->in.Read(buffer, max);
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
      for (const FakeLink::Reply& r : replies) s_->in.Schedule({s_->in.Clock().TickMs() + r.delayMs, r.bytes});
    }
    return count;
  }

  std::size_t BytesWaiting() override {
    std::lock_guard l(s_->m);
    s_->in.TakeDue();
    return s_->in.Waiting();
  }

  bool Purge() override {
    std::lock_guard l(s_->m);
    s_->in.TakeDue();
    s_->in.ClearInput();
    return true;
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    std::lock_guard l(s_->m);
    s_->in.TakeDue();
    if (s_->in.Waiting() > 0) ++s_->waitsWithBytesWaiting;
    if (s_->in.FreshBytesWaiting()) return true;
    s_->in.AdvanceWait(timeoutMs);
    s_->in.TakeDue();
    return s_->in.Waiting() > 0;
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
  state_->in.Schedule({state_->in.Clock().TickMs() + delayMs, bytes});
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
