#pragma once
// A link whose far end is a byte string in memory, on the fake clock: reply
// readers run against it in tests and fuzz targets without real time passing.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/platform/Stream.h"
#include "support/FakeClock.h"

namespace tarnvale::test {

// The fuzzer's bytes as the far end of a link. `chunk` bytes at most are
// reported waiting at a time (0: all), so readers see the reply arrive in
// pieces. With `afterWrite` nothing arrives before the first Write (a device
// answers a request; readers that drain stale input first would otherwise
// swallow the whole reply).
class MemoryStream : public platform::Stream {
 public:
  MemoryStream(std::vector<std::uint8_t> bytes, const FakeClock& clock, std::size_t chunk,
               bool afterWrite)
      : bytes_(std::move(bytes)), clock_(clock), chunk_(chunk), released_(!afterWrite) {}

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    const std::size_t n = std::min(max, BytesWaiting());
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer);
    pos_ += n;
    return n;
  }
  std::size_t Write(const std::uint8_t*, std::size_t count) override {
    released_ = true;
    return count;
  }
  std::size_t BytesWaiting() override {
    if (!released_) return 0;
    const std::size_t left = bytes_.size() - pos_;
    return chunk_ == 0 ? left : std::min(left, chunk_);
  }
  bool Purge() override { return true; }
  bool WaitReadable(std::uint32_t timeoutMs) override {
    if (BytesWaiting() > 0) return true;
    // A wait always moves time on, so a reader's loop ends.
    clock_.Advance(std::max<std::uint32_t>(timeoutMs, 1));
    return false;
  }
  bool Close() override { return true; }
  int Descriptor() const override { return -1; }
  bool IsTcp() const override { return false; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  const FakeClock& clock_;
  std::size_t chunk_;
  bool released_;
};

}  // namespace tarnvale::test
