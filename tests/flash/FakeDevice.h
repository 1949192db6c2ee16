#pragma once
// A scripted device on the master side of a pseudo-terminal: it collects the
// packets the program sends and answers each with what a handler returns.
// Bytes outside packets (the 'g' CR that starts a program) are kept too.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
      : pty_(pty), handler_(std::move(handler)), delayMs_(replyDelayMs) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeDevice() {
    stop_ = true;
    thread_.join();
  }

  std::vector<SeenPacket> Packets() const {
    std::lock_guard l(m_);
    return packets_;
  }
  // Non-packet bytes, each with the number of replies sent before it arrived.
  std::vector<std::pair<char, std::size_t>> Other() const {
    std::lock_guard l(m_);
    return other_;
  }
  std::size_t MaxInFlight() const { return maxInFlight_; }

 private:
  void Loop() {
    Bytes pending;
    bool inPacket = false;
    while (!stop_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      std::uint8_t buf[4096];
      const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
      if (n <= 0) continue;
      std::vector<SeenPacket> complete;
      for (ssize_t i = 0; i < n; ++i) {
        const std::uint8_t b = buf[i];
        if (!inPacket) {
          if (b == ':') {
            inPacket = true;
            pending.assign(1, b);
          } else {
            std::lock_guard l(m_);
            other_.emplace_back(static_cast<char>(b), replies_);
          }
          continue;
        }
        pending.push_back(b);
        if (pending.size() >= 6 && pending.size() == static_cast<std::size_t>(pending[1]) + 6) {
          inPacket = false;
          SeenPacket s;
          s.type = pending[4];
          s.address = static_cast<std::uint16_t>(pending[2] << 8 | pending[3]);
          s.data.assign(pending.begin() + 5, pending.end() - 1);
          s.raw = pending;
          complete.push_back(std::move(s));
        }
      }
      received_ += complete.size();
      maxInFlight_ = std::max(maxInFlight_.load(), received_ - replies_);
      for (const SeenPacket& s : complete) {
        {
          std::lock_guard l(m_);
          packets_.push_back(s);
        }
        if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        const std::string reply = handler_(s);
        if (!reply.empty()) pty_.Send(reply);
        ++replies_;
      }
    }
  }

  PtyPair& pty_;
  Handler handler_;
  int delayMs_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex m_;
  std::vector<SeenPacket> packets_;
  std::vector<std::pair<char, std::size_t>> other_;
  std::size_t received_ = 0;
  std::size_t replies_ = 0;
  std::atomic<std::size_t> maxInFlight_{0};
};

// Answers pages and memory reads from a byte map (0xFF where nothing is).
class MemoryController {
 public:
  std::map<std::uint32_t, std::uint8_t> memory;
  std::uint16_t page = 0;

  void Put(std::uint32_t address, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) memory[address + static_cast<std::uint32_t>(i)] = bytes[i];
  }
  void PutText(std::uint32_t address, const std::string& s) { Put(address, Bytes(s.begin(), s.end())); }
  std::uint8_t At(std::uint32_t a) const {
    const auto it = memory.find(a);
    return it == memory.end() ? 0xFF : it->second;
  }
  static std::string Hex2(unsigned v) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
  }
  // The reply line of a read of `n` bytes at `offset` of the current page.
  std::string ReadReply(std::uint16_t offset, unsigned n) const {
    std::string line = ":" + Hex2(n) + Hex2(offset >> 8) + Hex2(offset) + "00";
    for (unsigned k = 0; k < n; ++k) line += Hex2(At((static_cast<std::uint32_t>(page) << 16) + offset + k));
    return line + "00\n\r";
  }
  std::string Answer(const SeenPacket& p) {
    if (p.type == 0x04) {
      page = static_cast<std::uint16_t>(p.data[0] << 8 | p.data[1]);
      return "0\n\r";
    }
    if (p.type == 0x0B) return ReadReply(p.address, p.data[0]);
    return "E";
  }
};

}  // namespace tarnvale::test
