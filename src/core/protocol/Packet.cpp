#include "core/protocol/Packet.h"

#include <algorithm>

namespace tarnvale {

std::uint8_t PacketChecksum(const std::uint8_t* bytes, std::size_t n) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

Packet BuildPacket(std::uint8_t count, std::uint16_t address, std::uint8_t type,
                   std::span<const std::uint8_t> data) {
  Packet p(static_cast<std::size_t>(count) + kPacketOverhead, 0);
  p[0] = kPacketStart;
  p[1] = count;
  p[2] = static_cast<std::uint8_t>(address >> 8);
  p[3] = static_cast<std::uint8_t>(address & 0xFF);
  p[4] = type;
  const std::size_t n = std::min<std::size_t>(count, data.size());
  std::copy_n(data.begin(), n, p.begin() + 5);
  p[5 + count] = PacketChecksum(p.data() + 1, 4 + static_cast<std::size_t>(count));
  return p;
}

std::size_t PacketImageBytes(const Packet& packet) {
  if (packet.size() < kPacketOverhead) return 0;
  switch (packet[4]) {
    case packet_type::kEndOfFile:
    case packet_type::kExtendedSegment:
    case packet_type::kSetPage:
    case packet_type::kStartAddress: return 0;
    default: return packet.size() - kPacketOverhead;
  }
}

}  // namespace tarnvale
