#pragma once
// A simulated RQ750 served on the master side of a pty by a thread of the
// test, so the core talks to it through a real CommPort. Bounded: the thread
// polls in 5 ms steps and ends when the object goes. Rq750OnWire: the same
// device behind the in-memory link on a fake clock, for runs that wait out a
// silent controller (its time-out passes on the clock, not in real time).
// That link cannot hang up: a controller that pulls the cable needs the pty.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/backup/BackupTransfer.h"
#include "core/link/CommPort.h"
#include "sim/Rq750Device.h"
#include "support/FakeLink.h"
#include "support/Pty.h"

namespace tarnvale::test {

class Rq750OnPty {
 public:
  explicit Rq750OnPty(sim::Rq750Options options = {}, std::optional<sim::Rq750Content> content = {})
      : device_(options, content ? *content : sim::MakeRq750Content(1, options.protocol != "3.1")) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~Rq750OnPty() { Stop(); }

  // Stops serving; the device's content and log may then be read.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const sim::Rq750Device& Device() const { return device_; }
  const std::string& Path() const { return pty_.SlavePath(); }
  const tarnvale::Clock& Clock() const { return SystemClock(); }

  // A CommPort on the pty at the backup speed.
  std::unique_ptr<CommPort> OpenPort() {
    auto port = std::make_unique<CommPort>();
    if (!port->Open(Path(), 38400, Parity::None, 8, StopBits::One)) throw std::runtime_error("cannot open " + Path());
    return port;
  }

 private:
  void Serve() {
    std::uint8_t buf[512];
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
      if (n <= 0) continue;
      std::vector<sim::SimDevice::Output> out;
      device_.Feed(buf, static_cast<std::size_t>(n), out);
      for (const auto& o : out) {
        if (!o.bytes.empty()) pty_.Send(o.bytes);
        if (o.close) {
          pty_.CloseMaster();  // the cable is pulled: the port sees a hang-up
          return;
        }
      }
    }
  }

  PtyPair pty_;
  sim::Rq750Device device_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class Rq750OnWire {
 public:
  explicit Rq750OnWire(sim::Rq750Options options = {}, std::optional<sim::Rq750Content> content = {})
      : device_(options, content ? *content : sim::MakeRq750Content(1, options.protocol != "3.1")) {
    link_.SetResponder([this](const FakeLink::Bytes& written) {
      std::vector<sim::SimDevice::Output> out;
      device_.Feed(written.data(), written.size(), out);
      std::vector<FakeLink::Reply> replies;
      for (const auto& o : out) {
        if (!o.bytes.empty()) replies.push_back({o.delayMs, o.bytes});
      }
      return replies;
    });
  }

  const sim::Rq750Device& Device() const { return device_; }
  // Every wait on the link must be on this clock.
  const FakeClock& Clock() const { return clock_; }
  std::unique_ptr<CommPort> OpenPort() {
    auto port = std::make_unique<CommPort>();
    link_.AttachTo(*port);
    return port;
  }

 private:
  FakeClock clock_{1000};
  FakeLink link_{clock_};
  sim::Rq750Device device_;
};

// A whole backup of a healthy controller holding `content`, saved to `path`.
inline void SaveFrom(const std::string& path, const sim::Rq750Content& content = sim::MakeRq750Content(1, true),
                     const sim::Rq750Options& options = {}) {
  Rq750OnWire source(options, content);
  auto port = source.OpenPort();
  const backup::RunSummary s = backup::RunSave(*port, path, {true, true, true});
  ASSERT_TRUE(s.Success()) << s.Text();
}

}  // namespace tarnvale::test
