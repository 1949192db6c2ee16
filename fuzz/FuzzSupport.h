#pragma once
// Helpers shared by the fuzz targets: a clock that only moves when a reader
// waits, an in-memory stream that hands out the fuzzer's bytes, and a
// scratch file for readers that take a path.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/Clock.h"
#include "core/platform/Stream.h"

namespace tarnvale::fuzz {

// Time stands still until someone waits; then it jumps by the whole wait, so
// a reader's time-out passes at once when the input has run dry.
class StepClock : public Clock {
 public:
  std::uint32_t TickMs() const override { return now_; }
  void SleepMs(std::uint32_t ms) const override { now_ += std::max<std::uint32_t>(ms, 1); }

 private:
  mutable std::uint32_t now_ = 1000;
};

// The fuzzer's bytes as the far end of a link. `chunk` bytes at most are
// reported waiting at a time (0: all), so readers see the reply arrive in
// pieces. With `afterWrite` nothing arrives before the first Write (a device
// answers a request; readers that drain stale input first would otherwise
// swallow the whole reply).
class MemoryStream : public platform::Stream {
 public:
  MemoryStream(std::vector<std::uint8_t> bytes, const StepClock& clock, std::size_t chunk,
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
    clock_.SleepMs(timeoutMs);
    return false;
  }
  bool Close() override { return true; }
  int Descriptor() const override { return -1; }
  bool IsTcp() const override { return false; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  const StepClock& clock_;
  std::size_t chunk_;
  bool released_;
};

// A file in a folder of this process's own under $TMPDIR, rewritten for
// every input. The folder is made once and removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tvfuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    path_ = dir_ / name;
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& Write(const std::uint8_t* data, std::size_t size) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path_;
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

// A broken promise of the code under test: libFuzzer records the input.
#define TARNVALE_FUZZ_CHECK(cond)                                                   \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

}  // namespace tarnvale::fuzz
