#include "core/formats/TN820HexFile.h"

#include <algorithm>
#include <utility>

namespace tarnvale {

TN820HexFile::TN820HexFile(std::filesystem::path path, std::uint32_t baseAddress,
                           std::uint32_t endAddress, std::uint32_t layoutMode, std::uint8_t lanes,
                           std::uint8_t option1, std::uint8_t option2, std::uint8_t option3)
    : IntelHexFile(std::move(path), baseAddress, endAddress, 1, lanes, option1, option2, option3),
      layoutMode_(layoutMode) {
  stream_.packetState = kStateData;
}

ResultCode TN820HexFile::LoadFile() {
  if (!IsOpen()) return rc::kFileNotOpen;
  if (!HasImage()) {
    if (const ResultCode r = AllocateImage(); r != rc::kFileOk) return r;
  }
  dropped_ = {};
  bool anyData = false;
  // Bases here are image offsets: segment 0x0200 is offset 0x20000 and the
  // boot image's segment 0x0004 is offset 0.
  const ResultCode r = WalkHexRecords(
      *this,
      [](const HexRecord& rec) -> std::uint64_t {
        const std::uint32_t value = rec.Value16();
        if (rec.type == hex_type::kExtendedSegment) return std::uint64_t{value} * 16;
        return value == 0x0200 ? 0x20000 : value == 0x0004 ? 0 : std::uint64_t{value} * 0x10000;
      },
      [this, &anyData](std::uint64_t base, const HexRecord& rec) {
        anyData = anyData || rec.count > 0;
        std::uint32_t offset16 = rec.address;
        if (layoutMode_ == 2 && base == 0x20000) offset16 = (offset16 + 0xF000) & 0xFFFF;
        StoreAtAddress(std::uint64_t{baseAddress_} + base + offset16, rec.data.data(), rec.count);
        return true;
      },
      [this](const HexRecord& rec) -> ResultCode {
        if (rec.type == hex_type::kEndOfFile || rec.type == hex_type::kStartSegment) return rc::kFileOk;
        return RecordFailed(rc::kErrorInHexFile, RecordTypeText(rec.type));
      });
  if (r != rc::kFileOk) return r;
  if (TokenReadFailed()) return rc::kErrorInHexFile;
  if (!anyData) return NoDataFailure();
  StreamPosition s = stream_;
  recordCount_ = 0;
  while (s.packetState != kStateFinished) {
    if (Step(s, nullptr)) ++recordCount_;
  }
  return rc::kFileOk;
}

bool TN820HexFile::Step(StreamPosition& s, Packet* out) const {
  switch (s.packetState) {
    case kStateData: {
      const std::uint32_t total = HasImage() ? size_ : 0;
      if (s.laneIndex >= total) {
        s.packetState = kStateEndDue;
        return false;
      }
      const std::uint32_t address = baseAddress_ + s.laneIndex;
      const std::uint32_t upper = address >> 16;
      if ((address & 0xFFFF) == 0 && s.boundaryAnnounced == 0) {
        if (out != nullptr) {
          const std::uint16_t value =
              layoutMode_ == 2 ? static_cast<std::uint16_t>(upper == 2 ? 0x0200 : upper) : 4;
          const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                         static_cast<std::uint8_t>(value)};
          *out = BuildPacket(2, 0, packet_type::kSetPage, bytes);
        }
        s.boundaryAnnounced = 4;
        return true;
      }
      s.boundaryAnnounced = 0;
      const std::uint32_t n = std::min({32u, total - s.laneIndex, 0x10000 - (address & 0xFFFF)});
      bool blank = true;
      for (std::uint32_t i = 0; i < n && blank; ++i) blank = ImageByte(s.laneIndex + i) == 0xFF;
      if (!blank && out != nullptr) {
        std::uint16_t packetAddress = static_cast<std::uint16_t>(address);
        if (layoutMode_ == 2 && address >= 0x20000) {
          packetAddress = static_cast<std::uint16_t>(address + 0x2000);
        }
        std::uint8_t data[32];
        for (std::uint32_t i = 0; i < n; ++i) data[i] = ImageByte(s.laneIndex + i);
        *out = BuildPacket(static_cast<std::uint8_t>(n), packetAddress, packet_type::kData,
                           std::span<const std::uint8_t>(data, n));
      }
      s.laneIndex += n;
      if (s.laneIndex >= total) s.packetState = kStateEndDue;
      return !blank;
    }
    case kStateEndDue:
      if (out != nullptr) *out = BuildPacket(0, 0, packet_type::kEndOfFile);
      s.packetState = kStateFinished;
      return true;
    default:
      return false;
  }
}

ResultCode TN820HexFile::GetNextPacket(Packet& packet) {
  packet.clear();
  Step(stream_, &packet);
  return rc::kFileOk;
}

}  // namespace tarnvale
