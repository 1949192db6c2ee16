#pragma once
// How long an image takes on the wire before a run starts: the packets of the
// target's programming stream, each sent as whole serial characters.
//
//   seconds = wire_bytes * bits_per_character / baud + packets * pause_ms / 1000
//
// wire_bytes is the sum over the stream of (data count + 6): start, count,
// two address bytes, type and checksum around each packet's data. A
// character is a start bit, the data bits, a parity bit unless none, and the
// stop bits (one and a half count as two, as the line is driven). The
// one-byte acknowledgements travel the other way while packets are still
// going out, and the erase before programming is not counted.

#include <cstdint>
#include <filesystem>

#include "core/device/Target.h"
#include "core/formats/HexRecord.h"
#include "core/platform/SerialDevice.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"

namespace tarnvale::doctor {

// The image bytes a packet carries: its data, unless it is one of the
// stream's framing packets (end of file, segment or page address, start
// address), whose few bytes are addresses rather than image.
std::size_t PacketImageBytes(const Packet& packet);

// Bits on the line per character: 1 + byteSize + parity bit + stop bits.
unsigned BitsPerCharacter(std::uint8_t byteSize, platform::Parity parity, platform::StopBits stopBits);

// The formula above; 0 when the baud rate is 0.
double WireSeconds(std::uint64_t wireBytes, std::uint32_t packets, unsigned bitsPerCharacter,
                   std::uint32_t baud, std::uint32_t pauseMs);

struct ImageTime {
  std::uint32_t packets = 0;     // every packet of the stream
  std::uint64_t dataBytes = 0;   // image bytes carried by the packets (PacketImageBytes)
  std::uint64_t wireBytes = 0;   // every byte sent
  unsigned bitsPerCharacter = 10;
  std::uint32_t baud = 0;
  std::uint32_t pauseMs = 0;     // the target's pause after each packet
  double seconds = 0;
};

struct LineFormat {
  std::uint32_t baud = 0;
  std::uint8_t byteSize = 8;
  platform::Parity parity = platform::Parity::None;
  platform::StopBits stopBits = platform::StopBits::One;
};

// Reads `path` as the target's programming run would (a controller image is
// placed from its own lowest address) and times its stream on `line`.
// The reader's code and the failing record on a file error; 8 with a reason
// for a target without images of its own.
ResultCode EstimateImageTime(Target target, const std::filesystem::path& path, const LineFormat& line,
                             ImageTime& out, FileFailure& failure);

}  // namespace tarnvale::doctor
