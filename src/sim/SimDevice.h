#pragma once
// What SimLink needs of a simulated device: bytes in, timed replies out.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnvale::sim {

class SimDevice {
 public:
  // One reply: bytes to send once `delayMs` has passed after the request
  // came in; `reply` marks the answer to a packet (used to count packets
  // awaiting their answer); `close` hangs up the link after the bytes.
  struct Output {
    std::vector<std::uint8_t> bytes;
    std::uint32_t delayMs = 0;
    bool reply = false;
    bool close = false;
  };

  virtual ~SimDevice() = default;
  // Feeds bytes that have arrived; appends the replies to `out` in order.
  virtual void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Output>& out) = 0;
  // The link tells when a reply has been delivered on the wire.
  virtual void ReplyDelivered() {}
  // A new connection: forget whatever was half received.
  virtual void ResetLink() = 0;
};

}  // namespace tarnvale::sim
