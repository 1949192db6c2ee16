#pragma once
// The simulator's end of the link: a pseudo-terminal or a loopback TCP
// listener, paced like a serial line when a baud rate is given.
//
// Pacing: every byte takes 10 bit times (8N1) on the wire, in each direction
// independently (the line is full duplex). A byte the host wrote counts as
// received only once its wire time has passed after the previous one; a reply
// byte reaches the host only once its own wire time has passed.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "sim/SimDevice.h"

namespace tarnvale::sim {

struct LinkOptions {
  bool tcp = false;
  std::string address = "127.0.0.1";  // loopback only
  std::uint16_t port = 0;             // 0: an ephemeral port
  std::uint32_t baud = 0;             // 0: no pacing
};

// True for an IPv4 address in 127.0.0.0/8.
bool IsLoopbackAddress(const std::string& address);
// Splits "ADDR:PORT"; false when malformed.
bool ParseEndpoint(const std::string& text, std::string& address, std::uint16_t& port);

// The link of a one-device command: a pty, or the loopback TCP endpoint
// ADDR:PORT when `tcp` names one; paced at `baud` when not 0. False after
// saying what is wrong on `err`.
bool LinkFromOptions(const std::string& tcp, std::uint32_t baud, LinkOptions& link, std::ostream& err);

// SIGINT and SIGTERM make the returned descriptor readable, which is what
// SimLink::Run waits on; SIGPIPE is ignored so a host that hangs up ends
// nothing. -1 when no pipe could be made.
int InstallStopSignals();

class SimLink;

// Opens the link, names its endpoint as the first line on `out` (what
// scripts and tests read), says "`what` ready" on `err` and serves until
// stopped. 1 when the link would not open.
int OpenAndServe(SimLink& sim, const std::string& what, int stopFd, std::ostream& out, std::ostream& err);

class SimLink {
 public:
  SimLink(SimDevice& device, LinkOptions options);
  ~SimLink();
  SimLink(const SimLink&) = delete;
  SimLink& operator=(const SimLink&) = delete;

  // Creates the pty or the listener. `endpoint` becomes "pty /dev/pts/N" or
  // "tcp 127.0.0.1:PORT" (the real port). False with a reason on failure.
  bool Open(std::string& endpoint, std::string& error);

  // Serves until `stopFd` becomes readable (the signal pipe) or a fault
  // hangs up a pty link.
  void Run(int stopFd);

  // What the link has taken in and put out so far, and whether it holds
  // input or a reply that is due. Read from other threads by an in-process
  // host that waits for the simulator to have answered, not for a time to
  // pass.
  struct Traffic {
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> sent{0};
    std::atomic<bool> owing{false};
    // The pty's master while it serves one (bytes the host wrote that the
    // link has not read yet wait there), else -1.
    std::atomic<int> ptyMaster{-1};
  };
  const Traffic& Counters() const { return traffic_; }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct InByte {
    std::uint8_t value;
    TimePoint due;
  };
  struct OutChunk {
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    TimePoint notBefore;
    bool reply = false;
    bool close = false;
  };

  std::chrono::nanoseconds ByteTime() const;
  void Disconnect();
  void ReadInput(TimePoint now);
  void ProcessInput(TimePoint now);
  // Writes every due byte; returns false when the link must be hung up.
  bool FlushOutput(TimePoint now);
  // Earliest time something is due, or TimePoint::max().
  TimePoint NextDue() const;

  SimDevice& device_;
  LinkOptions options_;
  int listenFd_ = -1;
  int connFd_ = -1;        // TCP client or pty master
  bool ptyHungUp_ = true;  // no one holds the pty's other side
  bool quit_ = false;
  std::deque<InByte> in_;
  std::deque<OutChunk> out_;
  TimePoint inWireFree_{};
  TimePoint outWireFree_{};
  Traffic traffic_;
};

}  // namespace tarnvale::sim
