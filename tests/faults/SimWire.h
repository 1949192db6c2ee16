#pragma once
// A simulated device behind an in-memory link on a fake clock: what the
// program writes goes to the device model at once; each reply arrives when
// its delay has passed on the clock. A reader's wait moves the clock to the
// next arrival or to the end of the wait, so time-outs cost no real time.
//
// The link itself can misbehave on top of the device's own faults, counted
// over replies (outputs that carry bytes) from 1:
//   replace  the Nth reply is replaced by other bytes (a refusal, a
//            corrupted line or record)
//   drop     the Nth reply never comes
//   silence  no reply after the Nth comes
//   stray    a stray byte follows the Nth reply
//   close    the far end hangs up after the Nth reply (whole replies)
//   kill     the far end dies half-way through the (N+1)th reply
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/platform/Stream.h"
#include "sim/SimDevice.h"
#include "support/FakeLink.h"

namespace tarnvale::test {

struct WireFaults {
  std::optional<std::uint32_t> replaceAt;
  std::vector<std::uint8_t> replacement;
  std::optional<std::uint32_t> dropAt;
  std::optional<std::uint32_t> silentAfter;
  std::optional<std::uint32_t> strayAfter;
  std::uint8_t strayByte = 0x55;
  std::optional<std::uint32_t> closeAfter;
  std::optional<std::uint32_t> killAfter;
};

class SimWire {
 public:
  SimWire(sim::SimDevice& device, const FakeClock& clock, WireFaults faults = {});
  // A stream for CommPort::Attach; it shares this wire's state.
  std::unique_ptr<platform::Stream> Stream();
  // Replies delivered so far (after the link's faults).
  std::uint32_t Replies() const;
  bool Lost() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tarnvale::test
