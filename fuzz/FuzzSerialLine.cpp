// The serial tester's line of characters and byte values, and the text it
// shows for bytes that went or came.
#include <string_view>

#include "core/tools/SerialTest.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const auto bytes = ParseSerialLine(line)) {
    // No token yields more than one byte.
    TARNVALE_FUZZ_CHECK(bytes->size() <= size);
    FormatSerialBytes(*bytes);
  }
  const std::string shown = FormatSerialBytes(std::span<const std::uint8_t>(data, size));
  TARNVALE_FUZZ_CHECK(shown.size() >= size);
  return 0;
}
