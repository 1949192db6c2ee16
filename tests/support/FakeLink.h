#pragma once
// Time-out tests without waiting: a byte link whose replies arrive at set
// moments on the fake clock.
//
// FakeLink: the device side of a port that CommPort::Attach takes over. Bytes
// are scheduled to arrive at a tick; until then the port sees nothing. When a
// reader waits (WaitReadable), the clock jumps to the next arrival or to the
// end of the wait, whichever is first, so a wait of five seconds costs no
// time and a reader's loop always moves forward. A responder may answer each
// write (one packet per write, as the engines send them) after a delay.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/platform/Stream.h"
#include "support/FakeClock.h"

namespace tarnvale {
class CommPort;
}

namespace tarnvale::test {

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
  FakeLink(const FakeLink&) = delete;
  FakeLink& operator=(const FakeLink&) = delete;

  // Puts the link under `port` (closing whatever the port had open). The
  // port may outlive this object.
  void AttachTo(CommPort& port);

  // Bytes that arrive `delayMs` after now.
  void Arrive(std::uint32_t delayMs, const Bytes& bytes);
  void Arrive(std::uint32_t delayMs, const std::string& bytes) { Arrive(delayMs, Bytes(bytes.begin(), bytes.end())); }

  void SetResponder(Responder responder);
  // Every write the program made, one entry per call.
  std::vector<Bytes> Writes() const;
  // Waits the program made while bytes it had not read were waiting: on a
  // real port each returns at once, so a loop of them spins.
  std::size_t WaitsWithBytesWaiting() const;

  struct State;  // shared with the stream the port owns

 private:
  std::shared_ptr<State> state_;  // shared with the stream the port owns
};

}  // namespace tarnvale::test
