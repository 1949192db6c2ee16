// The box's read-back reader (ReadBootImage) fed from a byte stream: the
// first input byte picks the memory type, whether the lines go to a file or
// a buffer, and how many bytes arrive at a time; the rest is what the box
// sends after the request. Time only passes while the reader waits.
#include <atomic>

#include "core/flash/MemoryDump.h"
#include "core/link/CommPort.h"
#include "core/programmer/BootFlash.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

namespace {

struct Events : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t percent, std::uint32_t) override { TARNVALE_FUZZ_CHECK(percent <= 100); }
  void OnDone(ResultCode c, std::uint32_t) override {
    ++done;
    code = c;
  }
  // "0xAAAAAAAA  " and at most sixteen "HH " groups.
  void OnLine(const std::string& text) override { TARNVALE_FUZZ_CHECK(text.size() <= 12 + 3 * 16); }
  int done = 0;
  ResultCode code = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile scratch("read-back.txt");
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  static const Target kTypes[] = {Target::Pic18F252, Target::DsPic30F, Target::CpuBoard386};
  const Target type = kTypes[pick % 3];
  const bool toFile = (pick & 0x04) != 0;
  const std::size_t chunk = pick >> 3;  // 0: everything at once
  fuzz::FakeClock clock;
  CommPort port;
  port.Attach(std::make_unique<fuzz::MemoryStream>(std::vector<std::uint8_t>(data + 1, data + size), clock,
                                                  chunk, true));
  BootReadParams p;
  p.port = &port;
  p.memoryType = type;
  p.start = type == Target::CpuBoard386 ? kBootFlashStart : type == Target::DsPic30F ? 0x7FFC00 : 0;
  p.length = type == Target::CpuBoard386 ? kBootFlashLength : type == Target::DsPic30F ? 0x400 : 0x100;
  p.toFile = toFile;
  p.path = scratch.Path().string();
  p.settleMs = 100;
  p.silenceMs = 500;
  std::filesystem::remove(scratch.Path());
  std::filesystem::remove(PartialDumpPath(p.path));
  Events events;
  std::atomic<bool> stop{false};
  std::vector<std::uint8_t> buffer;
  const ResultCode code = ReadBootImage(p, events, stop, &buffer, clock);
  TARNVALE_FUZZ_CHECK(events.done == 1);
  TARNVALE_FUZZ_CHECK(events.code == code);
  if (toFile) {
    // Whole under the real name, or only under the partial one.
    TARNVALE_FUZZ_CHECK(std::filesystem::exists(scratch.Path()) == (code == rc::kSuccess));
  } else {
    TARNVALE_FUZZ_CHECK(buffer.size() == p.length);
  }
  return 0;
}
