#pragma once
// The simulated box served in-process on a fresh pty, and a host port on it.
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/link/CommPort.h"
#include "core/programmer/BoxCommands.h"
#include "sim/BoxDevice.h"
#include "sim/SimLink.h"

namespace tarnvale::test {

// Short enough for fast tests, long enough for a pty round trip.
inline BoxTimings FastBoxTimings() {
  BoxTimings t;
  t.jtagSettleMs = 120;
  t.jtagSettle386Ms = 120;
  t.boardInfoSettleMs = 200;
  t.recordSilenceMs = 500;
  return t;
}

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
    if (openHost && !port_.Open(path_, 921600, Parity::None, 8, StopBits::One)) throw std::runtime_error("cannot open " + path_);
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
  const std::string& Path() const { return path_; }
  // Read only after the exchanges that change them have been answered.
  const sim::BoxDevice& Device() const { return device_; }

 private:
  sim::BoxDevice device_;
  sim::SimLink link_;
  int stop_[2] = {-1, -1};
  std::string path_;
  std::thread thread_;
  CommPort port_;
};

}  // namespace tarnvale::test
