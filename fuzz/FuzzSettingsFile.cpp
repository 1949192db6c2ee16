// The settings file reader: whatever a damaged file holds, what it yields
// must survive being written and read again unchanged.
#include <string>

#include "core/platform/SettingsFile.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;
using platform::SettingsFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const SettingsFile::Sections sections = SettingsFile::Parse(text);
  const std::string written = SettingsFile::Format(sections);
  TARNVALE_FUZZ_CHECK(SettingsFile::Parse(written) == sections);
  return 0;
}
