#pragma once
// The one in-memory link of the tests: the device side of a port that
// CommPort::Attach takes over, on the fake clock, so time-outs cost no time.
//
// Bytes are scheduled to arrive at a tick; until then the port sees nothing.
// When a reader waits (WaitReadable), the clock jumps to the next arrival or
// to the end of the wait, whichever is first, so a wait of five seconds costs
// nothing and a reader's loop always moves forward. The far end is one of:
//   - a script: a responder answers each write (one packet per write, as the
//     engines send them) after a delay, and Arrive adds bytes of its own;
//   - a device model: every write goes to it, and its outputs come back
//     through the link's own faults (WireFaults);
//   - a fixed byte string (a LinkStream made from it), for reply readers
//     and fuzz targets.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/Stream.h"
#include "sim/SimDevice.h"
#include "support/FakeClock.h"

namespace tarnvale {
class CommPort;
}

namespace tarnvale::test {

// How the link misbehaves on top of the device's own faults, counted over
// replies (outputs that carry bytes) from 1:
//   replace  the Nth reply is replaced by other bytes (a refusal, a
//            corrupted line or record)
//   drop     the Nth reply never comes
//   silence  no reply after the Nth comes
//   stray    a stray byte follows the Nth reply
//   close    the far end hangs up after the Nth reply (whole replies)
//   kill     the far end dies half-way through the (N+1)th reply
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

class FakeLink {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // What the device sends back to one write, and after how many milliseconds.
  struct Reply {
    std::uint32_t delayMs = 0;
    Bytes bytes;
  };
  using Responder = std::function<std::vector<Reply>(const Bytes& written)>;

  explicit FakeLink(const FakeClock& clock);
  // The far end is `device`; it must outlive the port's use of the link.
  FakeLink(const FakeClock& clock, sim::SimDevice& device, WireFaults faults = {});
  FakeLink(const FakeLink&) = delete;
  FakeLink& operator=(const FakeLink&) = delete;

  // Puts the link under `port` (closing whatever the port had open). The
  // port may outlive this object.
  void AttachTo(CommPort& port);

  // Bytes that arrive `delayMs` after now.
  void Arrive(std::uint32_t delayMs, const Bytes& bytes);
  // The far end hangs up `delayMs` after now (a pulled cable).
  void HangUp(std::uint32_t delayMs);
  void Arrive(std::uint32_t delayMs, const std::string& bytes) { Arrive(delayMs, Bytes(bytes.begin(), bytes.end())); }

  void SetResponder(Responder responder);
  // Every write the program made, one entry per call.
  std::vector<Bytes> Writes() const;
  // Waits the program made while bytes it had not read were waiting: on a
  // real port each returns at once, so a loop of them spins.
  std::size_t WaitsWithBytesWaiting() const;
  // The far end has hung up and the program has seen it.
  bool Lost() const;

  struct State;  // shared with the stream the port owns

 private:
  std::shared_ptr<State> state_;
};

// The stream a port owns over a link's state. Made from a byte string it is
// a link of its own whose far end sends those bytes: at most `chunk` of them
// wait at a time (0: all), so readers see a reply arrive in pieces; with
// `afterWrite` nothing arrives before the first write (a device answers a
// request; readers that drain stale input first would otherwise swallow it).
class LinkStream final : public platform::Stream {
 public:
  explicit LinkStream(std::shared_ptr<FakeLink::State> state) : s_(std::move(state)) {}
  LinkStream(FakeLink::Bytes bytes, const FakeClock& clock, std::size_t chunk = 0, bool afterWrite = false);

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override;
  std::size_t Write(const std::uint8_t* buffer, std::size_t count) override;
  std::size_t BytesWaiting() override;
  bool Purge() override;
  bool WaitReadable(std::uint32_t timeoutMs) override;
  bool LinkLost() const override;
  bool Close() override { return true; }
  int Descriptor() const override { return -1; }
  bool IsTcp() const override { return false; }

 private:
  std::shared_ptr<FakeLink::State> s_;
};

}  // namespace tarnvale::test
