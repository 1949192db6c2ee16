#pragma once
// Request packets: ':' count addrHi addrLo type data... checksum.
// Each caller owns the packet it builds; there is no shared packet buffer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnvale {

inline constexpr std::uint8_t kPacketStart = 0x3A;  // ':'
inline constexpr std::size_t kPacketOverhead = 6;   // start, count, 2 address, type, checksum
inline constexpr std::size_t kMaxPacketSize = 255 + kPacketOverhead;

using Packet = std::vector<std::uint8_t>;

// Two's complement of the low byte of the sum of the bytes, so that the bytes
// plus the checksum sum to 0 modulo 256. Same rule as an Intel HEX record.
std::uint8_t PacketChecksum(const std::uint8_t* bytes, std::size_t n);
inline std::uint8_t PacketChecksum(std::span<const std::uint8_t> bytes) {
  return PacketChecksum(bytes.data(), bytes.size());
}

// Builds one request packet of count + 6 bytes. `data` must hold `count` bytes
// (it may be empty when count is 0).
Packet BuildPacket(std::uint8_t count, std::uint16_t address, std::uint8_t type,
                   std::span<const std::uint8_t> data = {});

// Packet types of the controller command set.
namespace packet_type {
inline constexpr std::uint8_t kData = 0x00;
inline constexpr std::uint8_t kEndOfFile = 0x01;
inline constexpr std::uint8_t kExtendedSegment = 0x02;
inline constexpr std::uint8_t kSetPage = 0x04;  // also the extended linear address record
inline constexpr std::uint8_t kStartAddress = 0x05;
inline constexpr std::uint8_t kErase = 0x06;
inline constexpr std::uint8_t kReadMemory = 0x0B;
inline constexpr std::uint8_t kMemoryInfo = 0x10;
inline constexpr std::uint8_t kMemoryLine = 0x11;
inline constexpr std::uint8_t kSelectTarget = 0x19;
}  // namespace packet_type

// The image bytes a packet of the programming stream carries: its data,
// unless it is one of the stream's framing packets (end of file, segment or
// page address, start address), whose few bytes are addresses, not image.
std::size_t PacketImageBytes(const Packet& packet);

}  // namespace tarnvale
