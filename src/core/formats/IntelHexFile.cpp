#include "core/formats/IntelHexFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/operator/Operator.h"
#include "core/platform/FileAccess.h"

namespace tarnvale {

IntelHexFile::IntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                           std::uint32_t endAddress, std::uint32_t endWithoutStart,
                           std::uint8_t lanes, std::uint8_t option1, std::uint8_t option2,
                           std::uint8_t option3)
    : path_(std::move(path)),
      baseAddress_(baseAddress),
      endAddress_(endAddress),
      size_(endAddress - baseAddress + 1),
      startAddress_(baseAddress),
      lanes_(lanes),
      endWithoutStart_(endWithoutStart),
      options_{option1, option2, option3} {}

IntelHexFile::~IntelHexFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void IntelHexFile::Tell(const std::string& text) const {
  if (operator_ != nullptr) operator_->ShowMessage(text);
}

// --- file access -----------------------------------------------------------

ResultCode IntelHexFile::OpenFile() {
  if (file_ != nullptr) {
    reader_.Detach();
    std::fclose(file_);
    file_ = nullptr;
  }
  failure_ = {};
  // Only a regular file of a sane size: a FIFO or /dev/zero would never end.
  std::string why;
  file_ = platform::OpenInputFile(path_.string(), platform::kImageFileLimit, &why);
  if (file_ == nullptr) {
    failure_ = {0, std::move(why)};
    return rc::kCantOpenInput;
  }
  reader_.Attach(file_);
  return rc::kFileOk;
}

ResultCode IntelHexFile::OpenStream(std::FILE* file) {
  if (file_ != nullptr) {
    reader_.Detach();
    std::fclose(file_);
    file_ = nullptr;
  }
  failure_ = {};
  file_ = file;
  if (file_ == nullptr) return rc::kCantOpenInput;
  reader_.Attach(file_);
  return rc::kFileOk;
}

ResultCode IntelHexFile::CloseFile() {
  if (file_ == nullptr) return rc::kFileNotOpen;
  reader_.Detach();
  const int result = std::fclose(file_);
  file_ = nullptr;
  if (result != 0) {
    Tell("fclose failed");
    return rc::kCloseFailed;
  }
  return rc::kFileOk;
}

TokenReader::Status IntelHexFile::NextToken(std::string_view& token) {
  if (file_ == nullptr) {
    token = {};
    return TokenReader::Status::End;
  }
  return reader_.Next(token);
}

bool IntelHexFile::Rewind() { return file_ != nullptr && reader_.Rewind(); }

bool IntelHexFile::AtEndOfFile() { return file_ == nullptr || reader_.AtEnd(); }

ResultCode IntelHexFile::ReadRecord() {
  if (file_ == nullptr) return rc::kFileNotOpen;
  std::string_view token;
  switch (reader_.Next(token)) {
    case TokenReader::Status::Token: {
      std::string reason;
      const ResultCode r = ParseHexRecord(token, record_, &reason);
      return r == rc::kFileOk ? r : RecordFailed(r, std::move(reason));
    }
    case TokenReader::Status::Overlong:
      return RecordFailed(rc::kInvalidHexFile, "record longer than " +
                                                   std::to_string(TokenReader::kMaxToken) + " characters");
    case TokenReader::Status::End:
      break;
  }
  return reader_.ReadFailed() ? RecordFailed(rc::kErrorInHexFile, "the file could not be read")
                              : RecordFailed(rc::kInvalidHexFile, "the file ends where a record was due");
}

ResultCode IntelHexFile::RecordFailed(ResultCode code, std::string reason) {
  failure_.line = reader_.Line();
  failure_.reason = std::move(reason);
  return code;
}

ResultCode IntelHexFile::NoDataFailure() {
  failure_ = {0, "no data records"};
  return rc::kDataNotFound;
}

std::string RecordTypeText(std::uint8_t type) {
  char text[32];
  std::snprintf(text, sizeof text, "record type 0x%02X", type);
  return text;
}

// --- image -----------------------------------------------------------------

ResultCode IntelHexFile::AllocateImage() {
  if (lanes_ != 1 && lanes_ != 2 && lanes_ != 4) return rc::kLanesInvalid;
  if (endAddress_ < baseAddress_) return rc::kImageTooLarge;
  const std::uint64_t size = std::uint64_t{endAddress_} - baseAddress_ + 1;
  if (size > kMaxImageSize) return rc::kImageTooLarge;
  laneShift_ = lanes_ == 1 ? 0 : lanes_ == 2 ? 1 : 2;
  laneSize_ = static_cast<std::uint32_t>((size + lanes_ - 1) / lanes_);
  for (unsigned l = 0; l < image_.size(); ++l) {
    if (l < lanes_) {
      image_[l].assign(laneSize_, 0xFF);
    } else {
      std::vector<std::uint8_t>().swap(image_[l]);
    }
  }
  return rc::kFileOk;
}

std::uint8_t IntelHexFile::ImageByte(std::uint64_t offset) const {
  if (offset >= size_ || laneSize_ == 0) return 0xFF;
  return image_[offset & (lanes_ - 1u)][offset >> laneShift_];
}

void IntelHexFile::SetImageByte(std::uint64_t offset, std::uint8_t value) {
  if (offset >= size_ || laneSize_ == 0) return;
  image_[offset & (lanes_ - 1u)][offset >> laneShift_] = value;
}

void DroppedData::AddRecord(std::uint64_t first, std::uint64_t last, std::uint64_t count) {
  if (count == 0) return;
  lowest = bytes == 0 ? first : std::min(lowest, first);
  highest = bytes == 0 ? last : std::max(highest, last);
  bytes += count;
  ++records;
}

std::string DroppedDataText(const DroppedData& dropped, std::uint32_t imageBase,
                            std::uint32_t imageEnd) {
  if (!dropped.Any()) return {};
  char text[160];
  std::snprintf(text, sizeof text,
                "ignored %llu byte%s in %llu record%s at 0x%08llX-0x%08llX (outside the image "
                "0x%08X-0x%08X)",
                static_cast<unsigned long long>(dropped.bytes), dropped.bytes == 1 ? "" : "s",
                static_cast<unsigned long long>(dropped.records), dropped.records == 1 ? "" : "s",
                static_cast<unsigned long long>(dropped.lowest),
                static_cast<unsigned long long>(dropped.highest), imageBase, imageEnd);
  return text;
}

void IntelHexFile::StoreAtAddress(std::uint64_t address, const std::uint8_t* bytes,
                                  std::size_t n) {
  if (n == 0) return;
  const std::uint64_t lo = baseAddress_;
  const std::uint64_t hi = laneSize_ == 0 ? lo : lo + size_;  // one past the image
  const std::uint64_t end = address + n;                     // one past the record
  const std::uint64_t first = std::max(address, lo);
  const std::uint64_t last = std::min(end, hi);
  const std::uint64_t kept = first < last ? last - first : 0;
  if (kept < n) {
    // The part below the image starts the record; the part above ends it.
    const std::uint64_t low = address < lo ? address : std::max(address, hi);
    const std::uint64_t high = end > hi ? end - 1 : std::min(end, lo) - 1;
    dropped_.AddRecord(low, high, n - kept);
  }
  if (kept == 0) return;
  const std::uint8_t* src = bytes + (first - address);
  std::uint64_t off = first - lo;
  const std::uint64_t stop = last - lo;
  if (lanes_ == 1) {
    std::memcpy(image_[0].data() + off, src, static_cast<std::size_t>(stop - off));
    return;
  }
  const unsigned mask = lanes_ - 1u;
  for (; off < stop; ++off) image_[off & mask][off >> laneShift_] = *src++;
}

std::vector<std::uint8_t> IntelHexFile::ImageBytes() const {
  std::vector<std::uint8_t> out;
  if (laneSize_ == 0) return out;
  out.resize(size_);
  for (std::uint32_t o = 0; o < size_; ++o) out[o] = image_[o & (lanes_ - 1u)][o >> laneShift_];
  return out;
}

// --- loading -----------------------------------------------------------------

ResultCode IntelHexFile::ReadImage() {
  if (file_ == nullptr) return rc::kFileNotOpen;
  if (laneSize_ == 0) {
    if (const ResultCode r = AllocateImage(); r != rc::kFileOk) return r;
  }
  dropped_ = {};
  bool anyData = false;
  const ResultCode r = WalkHexRecords(
      *this, [](const HexRecord& rec) { return rec.ExtendedBase(); },
      [this, &anyData](std::uint64_t base, const HexRecord& rec) {
        anyData = anyData || rec.count > 0;
        StoreAtAddress(base + rec.address, rec.data.data(), rec.count);
        return true;
      },
      [this](const HexRecord& rec) -> ResultCode {
        switch (rec.type) {
          case hex_type::kEndOfFile:  // reading ends only at the end of the file
          case hex_type::kStartSegment:
            return rc::kFileOk;
          case hex_type::kStartLinear:
            startAddress_ = rec.StartLinear();
            return rc::kFileOk;
          default:
            return RecordFailed(rc::kErrorInHexFile, RecordTypeText(rec.type));
        }
      });
  if (r != rc::kFileOk) return r;
  if (reader_.ReadFailed()) return rc::kErrorInHexFile;
  if (!anyData) return NoDataFailure();
  return rc::kFileOk;
}

ResultCode IntelHexFile::LoadFile() {
  if (const ResultCode r = ReadImage(); r != rc::kFileOk) return r;
  recordCount_ = CountStream();
  return rc::kFileOk;
}

// --- stream ------------------------------------------------------------------

bool IntelHexFile::IsFinished() const { return stream_.packetState == kStateFinished; }

bool IntelHexFile::StepStream(StreamPosition& s, Packet* out) const {
  switch (s.packetState) {
    case kStateData: {
      const std::uint32_t lanes = lanes_;
      const std::uint32_t stepsPerPacket = 32 / lanes;
      const std::uint32_t remaining = laneSize_ - std::min(s.laneIndex, laneSize_);
      const auto address = static_cast<std::uint32_t>(
          std::uint64_t{s.laneIndex} * lanes + baseAddress_);
      if (remaining == 0) {
        s.packetState = endWithoutStart_ != 0 ? kStateEnd : kStateStart;
        s.boundaryAnnounced = 0;
        return false;
      }
      std::uint32_t steps = std::min(stepsPerPacket, remaining);
      // Distance to the next 64 KB boundary. The walk advances by L bytes per
      // step and L divides 64 KB, so it meets a boundary only when L divides
      // this distance.
      const std::uint32_t toBoundary = (0x10000 - (address & 0xFFFF)) & 0xFFFF;
      if (toBoundary % lanes == 0) {
        std::uint32_t k = toBoundary / lanes;
        if (k == 0) {
          if (s.boundaryAnnounced == 0) {
            if (out != nullptr) {
              const std::uint8_t value[2] = {static_cast<std::uint8_t>(address >> 24),
                                             static_cast<std::uint8_t>(address >> 16)};
              *out = BuildPacket(2, 0, packet_type::kSetPage, value);
            }
            s.boundaryAnnounced = 4;
            return true;
          }
          k = 0x10000 / lanes;  // announced: the next boundary is a segment away
        }
        steps = std::min(steps, k);
      }
      s.boundaryAnnounced = 0;
      // A step is at most 32 bytes of a lane; a whole-block compare is what
      // keeps walking a mostly blank multi-megabyte image cheap.
      static constexpr std::array<std::uint8_t, 32> kBlank = [] {
        std::array<std::uint8_t, 32> a{};
        a.fill(0xFF);
        return a;
      }();
      bool blank = true;
      for (std::uint32_t l = 0; l < lanes && blank; ++l) {
        blank = std::memcmp(image_[l].data() + s.laneIndex, kBlank.data(), steps) == 0;
      }
      if (!blank && out != nullptr) {
        const std::uint32_t count = steps * lanes;
        Packet& pk = *out;
        pk.resize(count + kPacketOverhead);
        pk[0] = kPacketStart;
        pk[1] = static_cast<std::uint8_t>(count);
        pk[2] = static_cast<std::uint8_t>(address >> 8);
        pk[3] = static_cast<std::uint8_t>(address);
        pk[4] = packet_type::kData;
        std::size_t w = 5;
        for (std::uint32_t i = 0; i < steps; ++i) {
          for (std::uint32_t l = 0; l < lanes; ++l) pk[w++] = image_[l][s.laneIndex + i];
        }
        pk[w] = PacketChecksum(pk.data() + 1, 4 + count);
      }
      s.laneIndex += steps;
      // The end of the lanes is noticed while collecting only when the packet
      // is not yet full; a full packet leaves it to the next call.
      if (s.laneIndex >= laneSize_ && steps < stepsPerPacket) {
        s.packetState = endWithoutStart_ != 0 ? kStateEnd : kStateStart;
      }
      return !blank;
    }
    case kStateStart: {
      if (out != nullptr) {
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(startAddress_), static_cast<std::uint8_t>(startAddress_ >> 8),
            static_cast<std::uint8_t>(startAddress_ >> 16),
            static_cast<std::uint8_t>(startAddress_ >> 24)};
        *out = BuildPacket(4, 0, packet_type::kStartAddress, bytes);
      }
      s.packetState = kStateEnd;
      s.boundaryAnnounced = 0;
      return true;
    }
    case kStateEnd:
      if (out != nullptr) *out = BuildPacket(0, 0, packet_type::kEndOfFile);
      s.packetState = kStateFinished;
      return true;
    default:
      return false;
  }
}

std::uint32_t IntelHexFile::CountStream() const {
  StreamPosition s = stream_;
  std::uint32_t count = 0;
  while (s.packetState != kStateFinished) {
    if (StepStream(s, nullptr)) ++count;
  }
  return count;
}

ResultCode IntelHexFile::GetNextPacket(Packet& packet) {
  packet.clear();
  if (laneSize_ == 0 && stream_.packetState == kStateData) {
    // Nothing was allocated: there is no data to walk.
    stream_.packetState = endWithoutStart_ != 0 ? kStateEnd : kStateStart;
  }
  // Blank stretches send nothing, so walk past them here: a mostly blank
  // image would otherwise hand the caller one empty packet per 32 bytes, and
  // each costs it a look at the port.
  while (!StepStream(stream_, &packet) && stream_.packetState != kStateFinished) {
  }
  return rc::kFileOk;
}

// --- scanning ------------------------------------------------------------------

ResultCode ScanHexFile(const std::filesystem::path& path, HexScan& scan) {
  std::string why;
  std::FILE* file = platform::OpenInputFile(path.string(), platform::kImageFileLimit, &why);
  const ResultCode result = ScanHexStream(file, scan);
  if (file != nullptr) {
    std::fclose(file);
  } else {
    scan.failure = {0, std::move(why)};
  }
  return result;
}

ResultCode ScanHexStream(std::FILE* file, HexScan& scan) {
  if (file == nullptr) {
    scan.lowest = 0xFFFFFFFF;
    scan.highest = 0xFFFFFFFF;
    return rc::kCantOpenInput;
  }
  TokenReader reader;
  reader.Attach(file);
  HexRecord rec;
  std::uint8_t mode = 0;
  std::uint32_t lowest = 0xFFFFFFFF;
  std::uint32_t highestBase = 0;
  std::uint32_t lastEnd = 0;
  bool anyData = false;
  bool endSeen = false;
  std::size_t lastLine = 0;  // line of the last record read; 0 before the first
  std::optional<std::uint32_t> start;
  FileFailure failure;
  ResultCode result = rc::kFileOk;
  std::string_view token;
  for (;;) {
    const TokenReader::Status st = reader.Next(token);
    if (st == TokenReader::Status::End) {
      if (reader.ReadFailed()) {
        result = rc::kErrorInHexFile;
        failure = {reader.Line(), "the file could not be read"};
      } else if (lastLine != 0 && !endSeen) {
        // Cut short, as the readers say it: at the last record there is.
        result = rc::kErrorInHexFile;
        failure = {lastLine, kNoEndRecord};
      }
      break;
    }
    lastLine = reader.Line();
    if (st == TokenReader::Status::Overlong) {
      result = rc::kInvalidHexFile;
      failure = {reader.Line(), "record longer than " + std::to_string(TokenReader::kMaxToken) + " characters"};
      break;
    }
    std::string reason;
    result = ParseHexRecord(token, rec, &reason);
    if (result != rc::kFileOk) {
      failure = {reader.Line(), std::move(reason)};
      break;
    }
    std::uint32_t base;
    switch (rec.type) {
      case hex_type::kData:
        lastEnd = std::uint32_t{rec.address} + rec.count;
        anyData = anyData || rec.count > 0;
        continue;
      case hex_type::kEndOfFile:
        endSeen = true;
        continue;
      case hex_type::kStartSegment:
        continue;
      case hex_type::kExtendedSegment:
      case hex_type::kExtendedLinear:
        base = static_cast<std::uint32_t>(rec.ExtendedBase());
        mode = rec.type == hex_type::kExtendedSegment ? 1 : 2;
        break;
      case hex_type::kStartLinear:
        start = rec.StartLinear();
        continue;
      default:
        result = rc::kErrorInHexFile;
        failure = {reader.Line(), RecordTypeText(rec.type)};
        break;
    }
    if (result != rc::kFileOk) break;
    lowest = std::min(lowest, base);
    highestBase = std::max(highestBase, base);
  }
  reader.Detach();
  // An image without a data byte has no range to report or program.
  if (result == rc::kFileOk && !anyData) {
    result = rc::kDataNotFound;
    failure = {0, "no data records"};
  }
  // Counted in 64 bits: data near the top of the address space must not
  // wrap round to a highest address below the lowest.
  const std::uint64_t highest = std::uint64_t{highestBase} + lastEnd - (lastEnd > 0 ? 1 : 0);
  if (result == rc::kFileOk && highest > 0xFFFFFFFFu) {
    result = rc::kErrorInHexFile;
    failure = {0, "data runs past address FFFFFFFF"};
  }
  scan.failure = failure;
  if (result != rc::kFileOk) return result;
  scan.lowest = lowest;
  scan.highest = lastEnd > 0 ? static_cast<std::uint32_t>(highest) : highestBase;
  scan.mode = mode;
  scan.start = start;
  return rc::kFileOk;
}

}  // namespace tarnvale
