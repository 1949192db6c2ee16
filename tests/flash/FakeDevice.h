#pragma once
// A scripted device on the master side of a pseudo-terminal: it collects the
// packets the program sends and answers each with what a handler returns.
// Bytes outside packets (the 'g' CR that starts a program) are skipped.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/link/CommPort.h"
#include "support/Pty.h"

namespace tarnvale::test {

using Bytes = std::vector<std::uint8_t>;

struct SeenPacket {
  std::uint8_t type;
  std::uint16_t address;
  Bytes data;
  Bytes raw;
};

class FakeDevice {
 public:
  // Returns the reply to one packet (may be empty: no answer).
  using Handler = std::function<std::string(const SeenPacket&)>;

  FakeDevice(PtyPair& pty, Handler handler, int replyDelayMs = 0)
      : pty_(pty), handler_(std::move(handler)), delayMs_(replyDelayMs), thread_([this] { Loop(); }) {}
  ~FakeDevice() {
    stop_ = true;
    thread_.join();
  }

  std::vector<SeenPacket> Packets() const {
    std::lock_guard l(m_);
    return packets_;
  }

 private:
  void Loop() {
    Bytes pending;
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      std::uint8_t buf[4096];
      const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(pty_.MasterFd(), buf, sizeof buf) : 0;
      std::vector<SeenPacket> complete;
      for (ssize_t i = 0; i < n; ++i) {
        if (pending.empty() && buf[i] != ':') continue;
        pending.push_back(buf[i]);
        if (pending.size() >= 6 && pending.size() == static_cast<std::size_t>(pending[1]) + 6) {
          complete.push_back({pending[4], static_cast<std::uint16_t>(pending[2] << 8 | pending[3]),
                              Bytes(pending.begin() + 5, pending.end() - 1), pending});
          pending.clear();
        }
      }
      for (const SeenPacket& s : complete) {
        {
          std::lock_guard l(m_);
          packets_.push_back(s);
        }
        if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        if (const std::string reply = handler_(s); !reply.empty()) pty_.Send(reply);
      }
    }
  }

  PtyPair& pty_;
  Handler handler_;
  int delayMs_;
  std::atomic<bool> stop_{false};
  mutable std::mutex m_;
  std::vector<SeenPacket> packets_;
  std::thread thread_;  // last: starts once everything it uses exists
};

// A port opened on a fresh pseudo-terminal with a scripted device behind it.
struct DeviceOnPort {
  explicit DeviceOnPort(FakeDevice::Handler handler, int replyDelayMs = 0)
      : dev(pty, std::move(handler), replyDelayMs) {
    if (!port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)) throw std::runtime_error("cannot open " + pty.SlavePath());
  }
  PtyPair pty;
  FakeDevice dev;
  CommPort port;
};

// Answers pages and memory reads from a byte map (0xFF where nothing is).
class MemoryController {
 public:
  std::map<std::uint32_t, std::uint8_t> memory;
  std::uint16_t page = 0;

  void Put(std::uint32_t address, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) memory[address + static_cast<std::uint32_t>(i)] = bytes[i];
  }
  static std::string Hex2(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
  }
  std::string Answer(const SeenPacket& p) {
    if (p.type == 0x04) {
      page = static_cast<std::uint16_t>(p.data[0] << 8 | p.data[1]);
      return "0\n\r";
    }
    if (p.type != 0x0B) return "E";
    // The reply line of a read of data[0] bytes at the packet's offset of the page.
    std::string line = ":" + Hex2(p.data[0]) + Hex2(p.address >> 8) + Hex2(p.address) + "00";
    for (unsigned k = 0; k < p.data[0]; ++k) {
      const auto it = memory.find((static_cast<std::uint32_t>(page) << 16) + p.address + k);
      line += Hex2(it == memory.end() ? 0xFF : it->second);
    }
    return line + "00\n\r";
  }
};

}  // namespace tarnvale::test
