#include "core/flash/Verify.h"

#include <algorithm>
#include <cstdio>

#include "core/flash/MemoryDump.h"
#include "core/link/CommPort.h"
#include "core/protocol/Controller.h"
#include "core/protocol/Util.h"

namespace tarnvale {
namespace {

// Progress is told after this many bytes: often enough for a bar, rare
// enough that a JSON stream stays readable.
constexpr std::uint64_t kProgressBytes = 4096;

}  // namespace

std::vector<ProgrammedRange> ProgrammedRanges(const std::vector<Packet>& stream, std::uint64_t below) {
  std::vector<ProgrammedRange> ranges;
  std::uint32_t page = 0;
  for (const Packet& p : stream) {
    if (p.size() < kPacketOverhead) continue;
    const std::uint8_t count = p[1];
    const std::uint8_t type = p[4];
    if (p.size() != count + kPacketOverhead) continue;
    if (type == packet_type::kSetPage && count == 2) {
      page = static_cast<std::uint32_t>(p[5]) << 8 | p[6];
      continue;
    }
    if (type != packet_type::kData || count == 0) continue;
    const std::uint32_t address = page << 16 | static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    if (address >= below) continue;
    const auto kept = static_cast<std::size_t>(std::min<std::uint64_t>(count, below - address));
    if (!ranges.empty() && ranges.back().start + ranges.back().bytes.size() == address) {
      ranges.back().bytes.insert(ranges.back().bytes.end(), p.begin() + 5, p.begin() + 5 + kept);
    } else {
      ranges.push_back({address, std::vector<std::uint8_t>(p.begin() + 5, p.begin() + 5 + kept)});
    }
  }
  return ranges;
}

std::string VerifiedText(std::uint64_t bytes) { return "Verified " + std::to_string(bytes) + " bytes"; }

std::string VerifyFailedText(const VerifyOutcome& o) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "Verify failed at 0x%08X: expected 0x%02X, read 0x%02X; %llu of %llu bytes differ",
                static_cast<unsigned>(o.firstAddress), o.expected, o.read,
                static_cast<unsigned long long>(o.differing), static_cast<unsigned long long>(o.bytes));
  return buf;
}

ResultCode VerifyProgrammed(CommPort& port, const std::vector<ProgrammedRange>& ranges,
                            const EngineTimings& timings, const Clock& clock, const StopToken& stop,
                            VerifyOutcome& outcome, const std::function<void(std::uint64_t)>& progress) {
  outcome = {};
  std::uint64_t told = 0;
  auto tell = [&](bool always) {
    if (!progress || stop.StopRequested()) return;
    if (always || outcome.bytes - told >= kProgressBytes) {
      told = outcome.bytes;
      progress(outcome.bytes);
    }
  };
  std::uint32_t page = 0;
  bool pageSet = false;
  for (const ProgrammedRange& range : ranges) {
    const std::uint64_t end = static_cast<std::uint64_t>(range.start) + range.bytes.size();
    std::uint64_t next = range.start;
    while (next < end) {
      if (stop.StopRequested()) return rc::kStoppedByProgram;
      const auto wanted = static_cast<std::uint32_t>(next >> 16);
      if (!pageSet || wanted != page) {
        if (const ResultCode c = SetPage(port, static_cast<std::uint16_t>(wanted), clock); c != rc::kSuccess) {
          return c;
        }
        page = wanted;
        pageSet = true;
      }
      port.Write(BuildPacket(0, static_cast<std::uint16_t>(next & 0xFFFF), packet_type::kMemoryLine));
      HexReply reply;
      if (const ResultCode c = ReadHexReply(port, timings.dumpLineTimeoutMs, reply, clock); c != rc::kSuccess) {
        return c;
      }
      // A line never crosses its page; a fill is cut at the range's end.
      DumpLine line;
      if (const ResultCode c = ParseDumpLine(reply.line, end - next, line); c != rc::kSuccess) return c;
      const std::uint64_t got = std::min<std::uint64_t>(line.Written(), end - next);
      for (std::uint64_t k = 0; k < got; ++k) {
        const std::uint8_t read = line.fill ? line.bytes[k % line.bytes.size()] : line.bytes[k];
        const std::uint8_t expected = range.bytes[next - range.start + k];
        if (read != expected) {
          if (outcome.differing == 0) {
            outcome.firstAddress = static_cast<std::uint32_t>(next + k);
            outcome.expected = expected;
            outcome.read = read;
          }
          ++outcome.differing;
        }
      }
      outcome.bytes += got;
      next += got;
      tell(false);
    }
  }
  tell(true);
  return outcome.Failed() ? rc::kDataMismatch : rc::kSuccess;
}

}  // namespace tarnvale
