// The dump's memory line parser and the range reply of the 0x10 query.
#include <string>

#include "core/flash/MemoryDump.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  // A fill is bounded by what is left of the range; the fuzzer tries small ones.
  const std::uint64_t maxFill = size > 0 ? data[0] * 97u : 0;
  DumpLine decoded;
  if (ParseDumpLine(line, maxFill, decoded) == rc::kSuccess) {
    TARNVALE_FUZZ_CHECK(decoded.count > 0);
    if (decoded.fill) {
      TARNVALE_FUZZ_CHECK(!decoded.bytes.empty() && decoded.bytes.size() <= 4);
      // At least count bytes, unless the fill is cut at what is left of the range.
      TARNVALE_FUZZ_CHECK(decoded.Written() >= decoded.count || decoded.Written() == maxFill);
      TARNVALE_FUZZ_CHECK(decoded.Written() <= maxFill);
    } else {
      TARNVALE_FUZZ_CHECK(decoded.bytes.size() == decoded.count);
      TARNVALE_FUZZ_CHECK(decoded.Written() == decoded.count);
    }
  }
  MemoryRange range;
  if (ParseRangeReply(line, range)) {
    TARNVALE_FUZZ_CHECK(line.size() == kRangeReplyLength);
    TARNVALE_FUZZ_CHECK(range.end >= range.start);
  }
  return 0;
}
