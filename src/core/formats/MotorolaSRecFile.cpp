#include "core/formats/MotorolaSRecFile.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "core/platform/AtomicFile.h"
#include "core/platform/FileAccess.h"

namespace tarnvale {

unsigned SRecordAddressBytes(unsigned type) {
  switch (type) {
    case 0: return 0;
    case 2:
    case 8: return 3;
    case 3:
    case 7: return 4;
    default: return 2;
  }
}

ResultCode ParseSRecord(std::string_view token, SRecord& record) {
  if (token.size() < 4 || token[0] != 'S') return rc::kInvalidHexFile;
  const int type = kHexValue[static_cast<unsigned char>(token[1])];
  if (type < 0) return rc::kInvalidHexFile;
  std::uint8_t count;
  if (!DecodeHexByte(token.data() + 2, count)) return rc::kInvalidHexFile;
  const unsigned addressBytes = SRecordAddressBytes(static_cast<unsigned>(type));
  if (count < 3 || count < addressBytes + 1) return rc::kInvalidHexFile;
  if (token.size() < 4 + 2 * static_cast<std::size_t>(count)) return rc::kInvalidHexFile;
  const char* p = token.data() + 4;
  unsigned sum = count;
  std::uint32_t address = 0;
  for (unsigned i = 0; i < addressBytes; ++i, p += 2) {
    std::uint8_t b;
    if (!DecodeHexByte(p, b)) return rc::kInvalidHexFile;
    address = (address << 8) | b;
    sum += b;
  }
  const unsigned dataCount = count - addressBytes - 1;
  for (unsigned i = 0; i < dataCount; ++i, p += 2) {
    std::uint8_t b;
    if (!DecodeHexByte(p, b)) return rc::kInvalidHexFile;
    record.data[i] = b;
    sum += b;
  }
  std::uint8_t checksum;
  if (!DecodeHexByte(p, checksum)) return rc::kInvalidHexFile;
  // Anything after the checksum is the next record with its line break lost.
  if (p + 2 != token.data() + token.size()) return rc::kInvalidHexFile;
  record.type = static_cast<std::uint8_t>(type);
  record.count = count;
  record.address = address;
  record.dataCount = static_cast<std::uint8_t>(dataCount);
  record.checksum = checksum;
  if (static_cast<std::uint8_t>(~sum) != checksum) return rc::kErrorInHexFile;
  return rc::kFileOk;
}

namespace {

// What was wrong with an S-record token that did not parse.
std::string SRecordFault(std::string_view token, ResultCode code) {
  if (code != rc::kErrorInHexFile) {
    // A record that is whole up to its checksum and goes on after it.
    std::uint8_t count = 0;
    const std::size_t whole = token.size() >= 4 && DecodeHexByte(token.data() + 2, count)
                                  ? 4 + 2 * std::size_t{count}
                                  : token.size();
    SRecord first;
    if (whole < token.size() && ParseSRecord(token.substr(0, whole), first) != rc::kInvalidHexFile) {
      return kTextAfterChecksum;
    }
    return "not a valid S-record";
  }
  // The bytes parsed: only the checksum disagrees. Recompute it for the text.
  std::uint8_t count = 0;
  DecodeHexByte(token.data() + 2, count);
  unsigned sum = count;
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(count); ++i) {
    std::uint8_t b = 0;
    DecodeHexByte(token.data() + 4 + 2 * i, b);
    sum += b;
  }
  std::uint8_t given = 0;
  DecodeHexByte(token.data() + 2 + 2 * static_cast<std::size_t>(count), given);
  char text[48];
  std::snprintf(text, sizeof text, "checksum 0x%02X, expected 0x%02X", given,
                static_cast<unsigned>(static_cast<std::uint8_t>(~sum)));
  return text;
}

}  // namespace

MotorolaSRecFile::MotorolaSRecFile(std::filesystem::path path, std::uint32_t baseAddress,
                                   std::uint32_t endAddress)
    : IntelHexFile(std::move(path), baseAddress, endAddress, 1, 1, 1, 1, 1) {}

ResultCode MotorolaSRecFile::ReadSRecord() {
  std::string_view token;
  switch (NextToken(token)) {
    case TokenReader::Status::Token: {
      const ResultCode r = ParseSRecord(token, srecord_);
      return r == rc::kFileOk ? r : RecordFailed(r, SRecordFault(token, r));
    }
    case TokenReader::Status::Overlong:
      return RecordFailed(rc::kInvalidHexFile, "record longer than " + std::to_string(TokenReader::kMaxToken) + " characters");
    case TokenReader::Status::End: break;
  }
  return TokenReadFailed() ? RecordFailed(rc::kErrorInHexFile, "the file could not be read")
                           : RecordFailed(rc::kInvalidHexFile, "the file ends where a record was due");
}

ResultCode MotorolaSRecFile::LoadSRecords(std::uint32_t regionOneBase,
                                          std::uint32_t regionTwoBase,
                                          std::uint32_t displacement) {
  if (!IsOpen()) return rc::kFileNotOpen;
  if (!HasImage()) {
    if (const ResultCode r = AllocateImage(); r != rc::kFileOk) return r;
  }
  if (!Rewind()) return rc::kErrorInHexFile;
  dropped_ = {};
  std::optional<std::uint64_t> anchor;
  std::uint64_t regionOneEnd = 0;
  bool endSeen = false;
  bool anyRecord = false;
  while (!AtEndOfFile()) {
    if (const ResultCode r = ReadSRecord(); r != rc::kFileOk) return r;
    anyRecord = true;
    const SRecord& rec = srecord_;
    const std::uint64_t byteAddress = std::uint64_t{rec.address} * 2;
    switch (rec.type) {
      case 0: continue;
      case 1:
      case 2:
      case 3: break;
      case 7:
      case 8:
      case 9:
        startAddress_ = static_cast<std::uint32_t>(byteAddress);
        endSeen = true;
        continue;
      default: return RecordFailed(rc::kErrorInHexFile, "S-record type " + std::to_string(rec.type));
    }
    if (rec.dataCount % 2 != 0) return RecordFailed(rc::kErrorInHexFile, "odd number of data bytes");
    std::int64_t offset;
    if ((byteAddress & kRegionTwoBit) != 0) {
      const std::uint64_t address = byteAddress & ~std::uint64_t{kRegionTwoBit};
      if (!anchor) anchor = address;
      offset = static_cast<std::int64_t>(address) - static_cast<std::int64_t>(*anchor) -
               displacement + regionTwoBase;
    } else if (byteAddress <= kRegionOneTop) {
      offset = static_cast<std::int64_t>(byteAddress) - displacement + regionOneBase;
      if (byteAddress >= regionOneEnd) regionOneEnd = byteAddress + rec.dataCount;
    } else {
      return RecordFailed(rc::kErrorInHexFile, "address outside both memory regions");
    }
    // Bytes outside the image are left out; a stray record that misses it
    // must not pass unnoticed, so they are counted by their byte address.
    std::uint64_t droppedCount = 0, droppedFirst = 0, droppedLast = 0;
    for (unsigned i = 0; i < rec.dataCount; ++i) {
      const std::int64_t o = offset + i;
      if (o >= 0 && static_cast<std::uint64_t>(o) < size_) {
        SetImageByte(static_cast<std::uint64_t>(o), rec.data[i]);
        continue;
      }
      if (droppedCount++ == 0) droppedFirst = byteAddress + i;
      droppedLast = byteAddress + i;
    }
    dropped_.AddRecord(droppedFirst, droppedLast, droppedCount);
  }
  if (TokenReadFailed()) return RecordFailed(rc::kErrorInHexFile, "the file could not be read");
  if (!anyRecord) return RecordFailed(rc::kErrorInHexFile, "no records");
  // A file cut short is named at its last record, as the HEX readers do.
  if (!endSeen) return RecordFailed(rc::kErrorInHexFile, kNoEndRecord);
  if (regionOneEnd == 0) return RecordFailed(rc::kErrorInHexFile, "no data in the first memory region");
  return rc::kFileOk;
}

bool MotorolaSRecFile::WriteImageBytes(const std::uint8_t* source, std::size_t count,
                                       std::uint32_t offset) {
  const bool fits = HasImage() && std::uint64_t{offset} + count <= size_;
  for (std::size_t i = 0; i < count; ++i) SetImageByte(std::uint64_t{offset} + i, source[i]);
  return fits;
}

bool MotorolaSRecFile::WriteBuildStamp(const BuildStamp& stamp, std::uint32_t offset) {
  const std::uint8_t bytes[7] = {
      static_cast<std::uint8_t>(stamp.hour),   static_cast<std::uint8_t>(stamp.minute),
      static_cast<std::uint8_t>(stamp.second), static_cast<std::uint8_t>(stamp.month),
      static_cast<std::uint8_t>(stamp.day),    static_cast<std::uint8_t>(stamp.year),
      static_cast<std::uint8_t>(stamp.year >> 8)};
  return WriteImageBytes(bytes, sizeof bytes, offset);
}

bool MotorolaSRecFile::WriteImageSum(std::uint32_t offset) {
  std::uint32_t sum = 0;
  if (endAddress_ >= baseAddress_ && HasImage()) {
    const std::vector<std::uint8_t>& image = Lane(0);
    for (std::uint32_t o = 0; o < size_; ++o) {
      if (o - offset >= 4) sum += image[o];  // skips offset .. offset + 3
    }
  }
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8),
                                 static_cast<std::uint8_t>(sum >> 16),
                                 static_cast<std::uint8_t>(sum >> 24)};
  return WriteImageBytes(bytes, sizeof bytes, offset);
}

std::span<const std::uint8_t> MotorolaSRecFile::ImageBytesAt(std::uint32_t offset) const {
  if (!HasImage() || offset >= size_) return {};
  return std::span<const std::uint8_t>(Lane(0).data() + offset, size_ - offset);
}

std::filesystem::path MotorolaSRecFile::FlashMemoryFileName(const std::filesystem::path& name) {
  const std::string file = name.filename().string();
  const std::size_t dot = file.find('.');
  const std::string out = dot == std::string::npos ? file + ".FMF" : file.substr(0, dot + 1) + "FMF";
  return name.parent_path() / out;
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendByte(std::string& line, std::uint8_t b, unsigned& sum) {
  line.push_back(kHexDigits[b >> 4]);
  line.push_back(kHexDigits[b & 0xF]);
  sum += b;
}

// One Intel HEX line with its checksum and a line break.
void BuildLine(std::string& line, std::uint8_t type, std::uint16_t address,
               const std::uint8_t* data, std::size_t count) {
  line.clear();
  unsigned sum = 0;
  line.push_back(':');
  AppendByte(line, static_cast<std::uint8_t>(count), sum);
  AppendByte(line, static_cast<std::uint8_t>(address >> 8), sum);
  AppendByte(line, static_cast<std::uint8_t>(address), sum);
  AppendByte(line, type, sum);
  for (std::size_t i = 0; i < count; ++i) AppendByte(line, data[i], sum);
  unsigned ignored = 0;
  AppendByte(line, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)), ignored);
  line.push_back('\n');
}

}  // namespace

ResultCode MotorolaSRecFile::WriteFlashMemoryFile(const std::filesystem::path& name,
                                                  std::uint32_t firstAddress, bool relocate,
                                                  std::filesystem::path* written) const {
  if (name.filename().empty()) return rc::kCantOpenOutput;
  // Neither the name given nor the one made of it may be a device, FIFO or
  // folder; a link is written through, so the link stays a link.
  std::string why;
  if (platform::ResolveOutputPath(name.string(), {}, &why).empty()) return rc::kCantOpenOutput;
  const std::filesystem::path named = FlashMemoryFileName(name);
  const std::filesystem::path target = platform::ResolveOutputPath(named.string(), {}, &why);
  if (target.empty()) return rc::kCantOpenOutput;
  platform::AtomicFile out(target.string());
  if (!out.IsOpen()) return rc::kCantOpenOutput;

  bool ok = true;
  const auto put = [&](const std::string& text) {
    if (ok && !out.Write(text.data(), text.size())) ok = false;
  };
  std::string line;
  line.reserve(96);
  const std::vector<std::uint8_t> empty;
  const std::vector<std::uint8_t>& image = HasImage() ? Lane(0) : empty;
  const std::uint64_t size = HasImage() ? size_ : 0;
  std::optional<std::uint64_t> segment;
  for (std::uint64_t offset = 0; offset < size && ok;) {
    const std::uint64_t address = std::uint64_t{firstAddress} + offset;
    std::uint64_t lineAddress = address;
    // The relocated images put their second region into segment 0x0200,
    // 0x1000 above its start, where the controller expects it.
    if (relocate && (address & 0xFFFF0000u) == 0x20000) lineAddress = address + 0x1FE1000;
    // A line never crosses a 64 KB boundary, before or after relocation.
    const std::uint64_t chunk = std::min<std::uint64_t>(
        {32, size - offset, 0x10000 - (address & 0xFFFF), 0x10000 - (lineAddress & 0xFFFF)});
    const std::uint64_t lineSegment = lineAddress & 0xFFFF0000u;
    if (!segment || *segment != lineSegment) {
      segment = lineSegment;
      const std::uint8_t value[2] = {static_cast<std::uint8_t>(lineSegment >> 24),
                                     static_cast<std::uint8_t>(lineSegment >> 16)};
      BuildLine(line, hex_type::kExtendedLinear, 0, value, 2);
      put(line);
    }
    const std::uint8_t* data = image.data() + offset;
    const bool blank = std::all_of(data, data + chunk, [](std::uint8_t b) { return b == 0xFF; });
    if (!blank) {
      BuildLine(line, hex_type::kData, static_cast<std::uint16_t>(lineAddress), data,
                static_cast<std::size_t>(chunk));
      put(line);
    }
    offset += chunk;
  }
  put(":00000001FF\n");
  // On disk before it takes the real name, so even a power cut never leaves
  // a short file under it.
  if (!ok) return rc::kCantWriteOutput;
  if (!out.Commit()) return out.Problem().empty() ? rc::kCantWriteOutput : rc::kCantOpenOutput;
  if (written != nullptr) *written = named;
  return rc::kFileOk;
}

}  // namespace tarnvale
