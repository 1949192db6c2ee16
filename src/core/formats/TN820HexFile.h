#pragma once
// Flash memory files of the production controller, read back into an image
// and sent as programming packets.
//
// Layout mode 2 (application and test images): the writer put image offsets
// 0x20000 and up into segment 0x0200, 0x1000 higher; reading undoes that, and
// the stream sends that region under segment 0x0200 with addresses 0x2000
// higher. Layout mode 1 (boot image): segment 0x0004 is image offset 0, and
// the stream announces every segment as 4.

#include <cstdint>

#include "core/formats/IntelHexFile.h"

namespace tarnvale {

class TN820HexFile : public IntelHexFile {
 public:
  static constexpr std::uint8_t kStateData = 0;
  static constexpr std::uint8_t kStateEndDue = 1;

  TN820HexFile(std::filesystem::path path, std::uint32_t baseAddress, std::uint32_t endAddress,
               std::uint32_t layoutMode, std::uint8_t lanes = 1, std::uint8_t option1 = 0,
               std::uint8_t option2 = 0, std::uint8_t option3 = 0);

  // 0, the record reader's first error, or 9 for a record type above 4.
  // Data before the first address record is placed with base 0.
  ResultCode LoadFile() override;
  ResultCode GetNextPacket(Packet& packet) override;

  std::uint32_t LayoutMode() const { return layoutMode_; }

 private:
  bool Step(StreamPosition& s, Packet* out) const;

  std::uint32_t layoutMode_;
};

}  // namespace tarnvale
