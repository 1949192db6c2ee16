// Intel HEX: the record parser on the raw input, ScanHexFile and the image
// reader with its packet stream on the input as a file.
#include <string_view>

#include "core/formats/HexRecord.h"
#include "core/formats/IntelHexFile.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile scratch("image.hex");
  HexRecord record;
  const ResultCode parsed = ParseHexRecord(std::string_view(reinterpret_cast<const char*>(data), size), record);
  TARNVALE_FUZZ_CHECK(parsed == rc::kFileOk || parsed == 8 || parsed == 9);
  // A record taken is exactly as long as its count says: nothing rides behind it.
  if (parsed == rc::kFileOk) TARNVALE_FUZZ_CHECK(size == 11 + 2 * std::size_t{record.count});

  const auto& path = scratch.Write(data, size);
  HexScan scan;
  const ResultCode scanned = ScanHexFile(path, scan);
  if (scanned == rc::kFileOk && scan.lowest != 0xFFFFFFFF) TARNVALE_FUZZ_CHECK(scan.mode <= 2);

  // A small image, its lane count taken from the input so every layout is tried.
  const std::uint8_t lanes = size % 3 == 0 ? 1 : size % 3 == 1 ? 2 : 4;
  IntelHexFile file(path, 0x0000, 0x3FFF, size & 8, lanes);
  if (file.OpenFile() != rc::kFileOk || file.AllocateImage() != rc::kFileOk) return 0;
  if (file.LoadFile() == rc::kFileOk) {
    // The scan and the load agree that the file is whole.
    TARNVALE_FUZZ_CHECK(scan.failure.reason != kNoEndRecord && scan.failure.reason != kTextAfterChecksum);
    // The stream must end, and after no more packets than it announced.
    Packet packet;
    std::uint32_t sent = 0;
    for (std::uint32_t steps = 0; !file.IsFinished(); ++steps) {
      TARNVALE_FUZZ_CHECK(steps < 1'000'000);
      file.GetNextPacket(packet);
      if (!packet.empty()) ++sent;
    }
    TARNVALE_FUZZ_CHECK(sent == file.GetRecordCount());
  }
  file.CloseFile();
  return 0;
}
