#pragma once
// The simulated box served in-process on a fresh pty, and a host port on it.
//
// The host's waits on that port run by the box's own clock, Settle(): time
// that flows only while the simulator owes the host nothing (it has taken in
// every byte the host wrote, answered what was due, and the host has all of
// it). A busy machine that does not run the simulator's thread for a while
// stops that clock, so a settling wait or a time-out never passes before the
// box has had its turn; a box that stays silent by design is timed out as
// on a quiet machine.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/link/CommPort.h"
#include "core/platform/SerialDevice.h"
#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "sim/BoxDevice.h"
#include "sim/SimLink.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {

// The host's side of the pty, counting what passes.
class CountedStream final : public platform::Stream {
 public:
  explicit CountedStream(std::unique_ptr<platform::Stream> inner) : inner_(std::move(inner)) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    const std::size_t n = inner_->Read(buffer, max);
    read_ += n;
    return n;
  }
  std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
    const std::size_t n = inner_->Write(buffer, count);
    written_ += n;
    return n;
  }
  std::size_t BytesWaiting() override { return inner_->BytesWaiting(); }
  bool Purge() override {
    read_ += inner_->BytesWaiting();
    return inner_->Purge();
  }
  bool PurgeInput() override {
    read_ += inner_->BytesWaiting();
    return inner_->PurgeInput();
  }
  void DrainOutput() override { inner_->DrainOutput(); }
  bool WaitReadable(std::uint32_t timeoutMs) override { return inner_->WaitReadable(timeoutMs); }
  bool LinkLost() const override { return inner_->LinkLost(); }
  bool Close() override { return inner_->Close(); }
  int Descriptor() const override { return inner_->Descriptor(); }
  bool IsTcp() const override { return false; }

  std::uint64_t Written() const { return written_; }
  // Read, purged or waiting to be read.
  std::uint64_t Arrived() { return read_ + inner_->BytesWaiting(); }

 private:
  std::unique_ptr<platform::Stream> inner_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> read_{0};
};

// Wall time less the time the simulator was behind; see above. Without the
// host's stream (a workflow opens the pty itself) the simulator is behind
// while bytes wait unread at its end of the pty.
class SimulatorClock final : public Clock {
 public:
  SimulatorClock(const sim::SimLink::Traffic& sim, CountedStream* host) : sim_(sim), host_(host) {}

  std::uint32_t TickMs() const override {
    std::lock_guard l(m_);
    const std::uint32_t now = SystemClock().TickMs();
    const std::uint64_t seen = sim_.received + sim_.sent;
    const bool quiet = !sim_.owing && (host_ != nullptr
                                           ? sim_.received == host_->Written() && host_->Arrived() >= sim_.sent
                                           : UnreadBySimulator() == 0);
    // A simulator that owes for half a minute is stuck, not slow: time
    // flows again so the test ends rather than hangs.
    if (quiet && seen == seen_) {
      owingSince_ = now;
      virtual_ += now - last_;
    } else if (now - owingSince_ > 30000) {
      virtual_ += now - last_;
    }
    last_ = now;
    seen_ = seen;
    return virtual_;
  }
  void SleepMs(std::uint32_t ms) const override {
    const std::uint32_t start = TickMs();
    for (std::uint32_t passed = 0; passed < ms; passed = TickMs() - start) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(ms - passed, 2)));
    }
  }

 private:
  int UnreadBySimulator() const {
    int n = 0;
    const int fd = sim_.ptyMaster;
    return fd >= 0 && ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
  }

  const sim::SimLink::Traffic& sim_;
  CountedStream* host_;
  mutable std::mutex m_;
  mutable std::uint32_t last_ = SystemClock().TickMs();
  mutable std::uint32_t owingSince_ = last_;
  mutable std::uint32_t virtual_ = 0;
  mutable std::uint64_t seen_ = 0;
};

// Short waits for a host on SimBox::Port(), whose clock stops while the
// simulator is behind (see above).
inline BoxTimings FastBoxTimings() {
  BoxTimings t;
  t.jtagSettleMs = 120;
  t.jtagSettle386Ms = 120;
  t.boardInfoSettleMs = 200;
  t.recordSilenceMs = 500;
  return t;
}

// The same waits on the box's clock, for the workflows that open the box's
// pty themselves; the waits that are not the box link's (a status byte, the
// selection) run by the system clock and are made long instead.
inline BoxTimings FastBoxTimings(const Clock& clock) {
  BoxTimings t = FastBoxTimings();
  t.clock = &clock;
  return t;
}
inline constexpr std::uint32_t kPatientStatusWaitMs = 10000;

class SimBox {
 public:
  // With `openHost` false nothing opens the pty's other side: the program
  // under test does, through Path().
  // `log` is told of every packet on the box's thread before it is answered.
  explicit SimBox(sim::BoxOptions options = {}, bool openHost = true,
                  std::function<void(const std::string&)> log = {})
      : device_(std::move(options)), link_(device_, sim::LinkOptions{}) {
    if (log) device_.SetLog(std::move(log));
    if (::pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::string endpoint, error;
    if (!link_.Open(endpoint, error)) throw std::runtime_error(error);
    path_ = endpoint.substr(4);  // "pty /dev/pts/N"
    thread_ = std::thread([this] { link_.Run(stop_[0]); });
    if (openHost) {
      auto serial = platform::OpenSerialDevice(path_, platform::SerialParams{921600}, error);
      if (!serial) throw std::runtime_error("cannot open " + path_ + ": " + error);
      auto counted = std::make_unique<CountedStream>(std::move(serial));
      clock_ = std::make_unique<SimulatorClock>(link_.Counters(), counted.get());
      port_.Attach(std::move(counted));
    } else {
      clock_ = std::make_unique<SimulatorClock>(link_.Counters(), nullptr);
    }
  }
  ~SimBox() {
    port_.Close();
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_[1], &b, 1);
    thread_.join();
    ::close(stop_[0]);
    ::close(stop_[1]);
  }
  SimBox(const SimBox&) = delete;
  SimBox& operator=(const SimBox&) = delete;

  CommPort& Port() { return port_; }
  // The clock of every wait on this box (see above).
  const Clock& Settle() const { return *clock_; }
  const std::string& Path() const { return path_; }
  // Read only after the exchanges that change them have been answered.
  const sim::BoxDevice& Device() const { return device_; }

 private:
  sim::BoxDevice device_;
  sim::SimLink link_;
  int stop_[2] = {-1, -1};
  std::string path_;
  std::thread thread_;
  std::unique_ptr<SimulatorClock> clock_;
  CommPort port_;  // closed before the clock goes
};

// A bench whose programmer port is the simulated box, opened by the
// workflows through the settings; the controller port leads nowhere.
struct BoxBench {
  explicit BoxBench(sim::BoxOptions options = {}, bool portOpens = true) : box(std::move(options), false) {
    settings.Load();
    settings.SetAuxCOMPort(portOpens ? box.Path() : "/nonexistent/tty");
    settings.SetCOMPort("/nonexistent/controller");
    link = std::make_unique<LinkState>(settings, &op);
    link->SetSelectWaitMs(kSimulatorSelectWaitMs);
  }
  SimBox box;
  ConfigData settings;
  RecordingOperator op;
  std::unique_ptr<LinkState> link;
};

}  // namespace tarnvale::test
