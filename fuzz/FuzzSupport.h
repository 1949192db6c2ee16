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

#include "support/FakeLink.h"

namespace tarnvale::fuzz {

using MemoryStream = test::LinkStream;
using test::FakeClock;

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
