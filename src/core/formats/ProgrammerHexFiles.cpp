#include "core/formats/ProgrammerHexFiles.h"

#include <cstring>
#include <utility>

namespace tarnvale {
namespace {

// The records these images accept: types 0 to 4. A callback sees each data
// record with the absolute address of its first byte. Returns 0, the
// reader's code, kTypeError for a type above 4, or 10 when the file holds
// no data record.
constexpr ResultCode kTypeError = 0xFF;

template <typename OnData, typename OnStartSegment>
ResultCode ReadRecords(IntelHexFile& file, OnData onData, OnStartSegment onStartSegment) {
  if (!file.IsOpen()) return rc::kFileNotOpen;
  if (!file.HasImage()) {
    if (const ResultCode r = file.AllocateImage(); r != rc::kFileOk) return r;
  }
  bool anyData = false;
  const ResultCode r = WalkHexRecords(
      file, [](const HexRecord& rec) { return rec.ExtendedBase(); },
      [&](std::uint64_t base, const HexRecord& rec) {
        anyData = anyData || rec.count > 0;
        onData(base + rec.address, rec);
        return true;
      },
      [&](const HexRecord& rec) -> ResultCode {
        if (rec.type == hex_type::kEndOfFile) return rc::kFileOk;
        if (rec.type == hex_type::kStartSegment) {
          onStartSegment();
          return rc::kFileOk;
        }
        file.RecordFailed(kTypeError, RecordTypeText(rec.type));
        return kTypeError;
      });
  // An empty file would program a blank chip, or a boot flash with nothing
  // but the board's record in it.
  if (r == rc::kFileOk && !anyData) return file.NoDataFailure();
  return r;
}

Packet ExtendedLinear(std::uint16_t value) {
  const std::uint8_t v[2] = {static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value)};
  return BuildPacket(2, 0, packet_type::kSetPage, v);
}

Packet ConfigPacket(const std::array<std::uint8_t, 14>& config) {
  return BuildPacket(static_cast<std::uint8_t>(config.size()), 0, packet_type::kData, config);
}

}  // namespace

// --- boot image ----------------------------------------------------------------

Boot386IntelHexFile::Boot386IntelHexFile(std::filesystem::path path,
                                         const BoardInfoRecord& record)
    : IntelHexFile(std::move(path), kImageBase, kImageBase + kImageSize - 1, 1, 1),
      record_(record) {}

ResultCode Boot386IntelHexFile::LoadFile() {
  recordCount_ = kImageSize / 32 + 2;
  dropped_ = {};
  const ResultCode r = ReadRecords(
      *this,
      [this](std::uint64_t address, const HexRecord& rec) {
        StoreAtAddress(address, rec.data.data(), rec.count);
      },
      [] {});
  if (r == rc::kInvalidHexFile) {
    Tell("Error in Hex Record #1");
    return rc::kErrorInHexFile;
  }
  if (r == rc::kErrorInHexFile) {
    Tell("Error in Hex Record #2");
    return rc::kErrorInHexFile;
  }
  if (r == kTypeError) {
    Tell("Error in Hex Record #3");
    return rc::kErrorInHexFile;
  }
  if (r != rc::kFileOk) return r;

  const auto isLetter = [](std::uint8_t c) { return c >= 'A' && c <= 'Z'; };
  if (!isLetter(record_.CpuRevision())) return rc::kBootCpuRevisionInvalid;
  SetImageByte(kCpuRevisionOffset, record_.CpuRevision());
  if (!isLetter(record_.IoRevision())) return rc::kBootIoRevisionInvalid;
  SetImageByte(kIoRevisionOffset, record_.IoRevision());

  const auto copySerial = [this](std::size_t field, std::uint32_t offset) {
    const std::uint8_t length = record_.bytes[field];
    if (length < 1 || length > BoardInfoRecord::kSerialMax) return false;
    for (std::uint32_t i = 0; i < 16; ++i) SetImageByte(offset + i, 0);
    for (std::uint32_t i = 0; i <= length; ++i) SetImageByte(offset + i, record_.bytes[field + i]);
    return true;
  };
  if (!copySerial(BoardInfoRecord::kCpuSerial, kCpuSerialOffset)) {
    return rc::kBootCpuSerialInvalid;
  }
  if (!copySerial(BoardInfoRecord::kIoSerial, kIoSerialOffset)) return rc::kBootIoSerialInvalid;
  if (!copySerial(BoardInfoRecord::kControllerSerial, kControllerSerialOffset)) {
    return rc::kBootControllerSerialInvalid;
  }

  const std::uint32_t sum = ComputeChecksum();
  for (std::uint32_t i = 0; i < 4; ++i) {
    SetImageByte(kChecksumOffset + i, static_cast<std::uint8_t>(sum >> (8 * i)));
  }
  return rc::kFileOk;
}

std::uint32_t Boot386IntelHexFile::ComputeChecksum() const {
  std::uint32_t sum = 0;
  for (std::uint32_t o = 0; o < kChecksumOffset; o += 2) {
    sum += static_cast<std::uint32_t>(ImageByte(o) | (ImageByte(o + 1) << 8));
  }
  return sum;
}

std::string Boot386IntelHexFile::BootVersion() const {
  const std::uint8_t length = ImageByte(kBootVersionOffset);
  if (length >= 9) return {};
  std::string text;
  for (std::uint32_t i = 0; i < length; ++i) {
    text.push_back(static_cast<char>(ImageByte(kBootVersionOffset + 1 + i)));
  }
  return text;
}

ResultCode Boot386IntelHexFile::GetNextPacket(Packet& packet) {
  packet.clear();
  switch (state_) {
    case 0:
      packet = ExtendedLinear(static_cast<std::uint16_t>(baseAddress_ >> 16));
      state_ = 1;
      break;
    case 1: {
      std::uint8_t data[32];
      for (std::uint32_t i = 0; i < 32; ++i) data[i] = ImageByte(packetOffset_ + i);
      packet = BuildPacket(32, static_cast<std::uint16_t>(baseAddress_ + packetOffset_),
                           packet_type::kData, data);
      packetOffset_ += 32;
      if (packetOffset_ >= size_) state_ = 2;
      break;
    }
    case 2:
      packet = BuildPacket(0, 0, packet_type::kEndOfFile);
      state_ = 3;
      break;
    default:
      break;
  }
  return rc::kFileOk;
}

// --- the PIC chips ----------------------------------------------------------------

PicIntelHexFile::PicIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                                 std::uint32_t endAddress, std::uint8_t lanes, std::uint8_t flags,
                                 std::uint32_t recordCount, std::uint16_t configPage)
    : IntelHexFile(std::move(path), baseAddress, endAddress, 1, lanes, flags),
      fixedRecordCount_(recordCount),
      configPage_(configPage) {
  config_.fill(0xFF);
}

ResultCode PicIntelHexFile::LoadFile() {
  recordCount_ = fixedRecordCount_;
  dropped_ = {};
  const ResultCode r = ReadRecords(
      *this, [this](std::uint64_t address, const HexRecord& rec) { Store(address, rec); },
      [this] { ++recordCount_; });
  if (r == rc::kInvalidHexFile || r == kTypeError) return rc::kErrorInHexFile;
  return r;
}

ResultCode PicIntelHexFile::GetNextPacket(Packet& packet) {
  packet.clear();
  switch (state_) {
    case 0:
      packet = ExtendedLinear(0);
      state_ = 1;
      break;
    case 1: {
      bool last = false;
      packet = NextProgramPacket(last);
      if (last) state_ = 2;
      break;
    }
    case 2:
      packet = ExtendedLinear(configPage_);
      state_ = 3;
      break;
    case 3:
      packet = ConfigPacket(config_);
      state_ = 4;
      break;
    case 4:
      packet = BuildPacket(0, 0, packet_type::kEndOfFile);
      state_ = 5;
      break;
    default:
      break;
  }
  return rc::kFileOk;
}

// --- PIC18F252 ---------------------------------------------------------------------

PIC18FIntelHexFile::PIC18FIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                                       std::uint32_t endAddress, std::uint8_t lanes,
                                       std::uint8_t flags)
    : PicIntelHexFile(std::move(path), baseAddress, endAddress, lanes, flags, kRecordCount, 0x0030) {}

void PIC18FIntelHexFile::Store(std::uint64_t address, const HexRecord& rec) {
  // Configuration bytes are not program memory but are not lost either: only
  // what goes to neither place counts as left out.
  std::uint64_t droppedCount = 0, droppedFirst = 0, droppedLast = 0;
  for (unsigned i = 0; i < rec.count; ++i) {
    const std::uint64_t a = address + i;
    if (a >= kConfigAddress && a < kConfigAddress + config_.size()) {
      config_[a % 16] = rec.data[i];
    } else if (a >= baseAddress_ && a - baseAddress_ < size_) {
      SetImageByte(a - baseAddress_, rec.data[i]);
    } else {
      if (droppedCount++ == 0) droppedFirst = a;
      droppedLast = a;
    }
  }
  dropped_.AddRecord(droppedFirst, droppedLast, droppedCount);
}

Packet PIC18FIntelHexFile::NextProgramPacket(bool& last) {
  // Eight bytes of each of the four panels, interleaved.
  std::uint8_t data[32];
  for (std::uint32_t panel = 0; panel < 4; ++panel) {
    for (std::uint32_t i = 0; i < 8; ++i) data[panel * 8 + i] = ImageByte(panelOffset_ + panel * kPanelSize + i);
  }
  Packet packet = BuildPacket(32, static_cast<std::uint16_t>(panelOffset_), 0x15, data);
  panelOffset_ += 8;
  last = panelOffset_ >= kPanelSize;
  return packet;
}

// --- dsPIC30F ------------------------------------------------------------------------

PIC30FIntelHexFile::PIC30FIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                                       std::uint32_t endAddress, std::uint8_t lanes,
                                       std::uint8_t flags)
    : PicIntelHexFile(std::move(path), baseAddress, endAddress, lanes, flags, kRecordCount, 0x01F0) {}

void PIC30FIntelHexFile::Store(std::uint64_t address, const HexRecord& rec) {
  unsigned i = 0;
  while (i < rec.count && !(address + i >= kConfigAddress && address + i <= kConfigEnd)) ++i;
  // The program bytes before any configuration word, as one record.
  StoreAtAddress(address, rec.data.data(), i);
  if (i < rec.count) {
    // A configuration word ends the record: its two bytes are taken,
    // whatever else the record carries is not.
    const std::size_t index = ((address + i) / 2) % 16;
    config_[index] = rec.data[i];
    if (i + 1 < rec.count && index + 1 < config_.size()) config_[index + 1] = rec.data[i + 1];
  }
}

Packet PIC30FIntelHexFile::NextProgramPacket(bool& last) {
  std::uint8_t data[kChunk];
  for (std::uint32_t i = 0; i < kChunk; ++i) data[i] = ImageByte(byteOffset_ + i);
  Packet packet = BuildPacket(static_cast<std::uint8_t>(kChunk), static_cast<std::uint16_t>(byteOffset_),
                              packet_type::kData, data);
  byteOffset_ += kChunk;
  last = byteOffset_ >= size_;
  return packet;
}

}  // namespace tarnvale
