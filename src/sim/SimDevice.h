#pragma once
// What SimLink serves: a device model without I/O. Bytes from the link go
// in; replies, each with the delay after which it is due, come out.

#include <cstdint>
#include <vector>

namespace tarnvale::sim {

// One reply: bytes to send once `delayMs` has passed after the request came
// in; `reply` marks the answer to a packet (used to count packets awaiting
// their answer); `close` hangs up the link after the bytes.
struct SimOutput {
  std::vector<std::uint8_t> bytes;
  std::uint32_t delayMs = 0;
  bool reply = false;
  bool close = false;
};

class SimDevice {
 public:
  using Output = SimOutput;
  virtual ~SimDevice() = default;
  // Feeds bytes that have arrived; appends the replies to `out` in order.
  virtual void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<SimOutput>& out) = 0;
  // The link tells when a packet's reply has been delivered on the wire.
  virtual void ReplyDelivered() {}
  // A new connection: forget a half-received packet.
  virtual void ResetLink() = 0;
};

}  // namespace tarnvale::sim
