#include "core/doctor/ImageTime.h"

#include <memory>

#include "core/formats/FlashMemoryFile.h"
#include "core/formats/IntelHexFile.h"
#include "core/protocol/Packet.h"

namespace tarnvale::doctor {

std::size_t PacketImageBytes(const Packet& packet) { return tarnvale::PacketImageBytes(packet); }

unsigned BitsPerCharacter(std::uint8_t byteSize, platform::Parity parity, platform::StopBits stopBits) {
  const unsigned parityBits = parity == platform::Parity::None ? 0 : 1;
  const unsigned stop = stopBits == platform::StopBits::One ? 1 : 2;
  return 1 + byteSize + parityBits + stop;
}

double WireSeconds(std::uint64_t wireBytes, std::uint32_t packets, unsigned bitsPerCharacter,
                   std::uint32_t baud, std::uint32_t pauseMs) {
  if (baud == 0) return 0;
  return static_cast<double>(wireBytes) * bitsPerCharacter / baud + static_cast<double>(packets) * pauseMs / 1000.0;
}

ResultCode EstimateImageTime(Target target, const std::filesystem::path& path, const LineFormat& line,
                             ImageTime& out, FileFailure& failure) {
  out = {};
  const TargetInfo& row = Info(target);
  if (row.reader == nullptr) {
    failure.reason = "target " + std::to_string(row.number) + " has no image of its own";
    return rc::kInvalidHexFile;
  }
  ImageRequest what;
  what.path = path;
  what.range = row.range;
  if (row.placement != ImagePlacement::Fixed) {
    // Placed by the file's own addresses, as the flash run does.
    HexScan scan;
    if (const ResultCode r = ScanHexFile(path, scan); r != rc::kFileOk) {
      failure = scan.failure;
      return r;
    }
    what.range = PlaceImage(target, scan.lowest, scan.highest, false);
  }
  std::unique_ptr<IntelHexFile> file = MakeImageReader(target, what);
  ResultCode r = file->OpenFile();
  if (r == rc::kFileOk) r = file->AllocateImage();
  if (r == rc::kFileOk) r = file->LoadFile();
  if (r != rc::kFileOk) {
    failure = file->Failure();
    return r;
  }
  Packet packet;
  while (!file->IsFinished()) {
    file->GetNextPacket(packet);
    if (packet.empty()) continue;
    ++out.packets;
    out.wireBytes += packet.size();
    out.dataBytes += PacketImageBytes(packet);
  }
  file->CloseFile();
  out.bitsPerCharacter = BitsPerCharacter(line.byteSize, line.parity, line.stopBits);
  out.baud = line.baud;
  out.pauseMs = row.packetPauseMs;
  out.seconds = WireSeconds(out.wireBytes, out.packets, out.bitsPerCharacter, out.baud, out.pauseMs);
  return rc::kFileOk;
}

}  // namespace tarnvale::doctor
