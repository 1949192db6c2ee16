#include "core/formats/FlashMemoryFile.h"

#include <algorithm>

namespace tarnvale {

int SoftwareGeneration(std::uint32_t romStartAddress) {
  switch (romStartAddress) {
    case fmf::kRomStartGen5: return 5;
    case fmf::kRomStartGen4: return 4;
    case fmf::kRomStartGen3: return 3;
    case fmf::kRomStartGen2: return 2;
    default: return 0;
  }
}

std::uint32_t ApplicationStartLandmark(int generation) {
  switch (generation) {
    case 4:
    case 5: return fmf::kAppStartLandmarkNew;
    case 3: return fmf::kAppStartLandmarkGen3;
    case 1:
    case 2: return fmf::kAppStartLandmarkOld;
    default: return 0;
  }
}

ResultCode FindApplicationStart(IntelHexFile& file, int generation, std::uint32_t& address) {
  const std::uint64_t landmark = ApplicationStartLandmark(generation);
  if (landmark == 0) return rc::kDataNotFound;
  std::uint32_t value = 0;
  unsigned found = 0;  // bytes of the value collected so far
  const ResultCode r = WalkHexRecords(
      file, [](const HexRecord& rec) { return rec.ExtendedBase(); },
      [&](std::uint64_t base, const HexRecord& rec) {
        const std::uint64_t first = base + rec.address;
        // The bytes landmark + found .. landmark + 3 that this record holds.
        for (unsigned i = 0; i < rec.count && found < 4; ++i) {
          if (first + i == landmark + found) value |= std::uint32_t{rec.data[i]} << (8 * found++);
        }
        return found < 4;
      },
      [&](const HexRecord& rec) -> ResultCode {
        if (rec.type == hex_type::kEndOfFile || rec.type == hex_type::kStartSegment) return rc::kFileOk;
        return file.RecordFailed(rc::kErrorInHexFile, RecordTypeText(rec.type));
      });
  if (r != rc::kFileOk) return r;
  if (found == 4) {
    address = generation <= 2 ? value >> 12 : value;
    return rc::kFileOk;
  }
  return rc::kDataNotFound;
}

void CopyFromImage(const IntelHexFile& file, std::uint8_t* destination, std::uint32_t address,
                   std::size_t count) {
  const std::int64_t offset = std::int64_t{address} - file.BaseAddress();
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t o = offset + static_cast<std::int64_t>(i);
    destination[i] = o < 0 ? 0xFF : file.ImageByte(static_cast<std::uint64_t>(o));
  }
}

void ReadBootBlock(const IntelHexFile& file, std::uint8_t* destination) {
  CopyFromImage(file, destination, fmf::kBootBlockAddress, fmf::kBootBlockSize);
}

void ReadRevisionLetter(const IntelHexFile& file, std::uint8_t* destination) {
  CopyFromImage(file, destination, fmf::kRevisionLetterAddress, 1);
}

namespace {

// Image byte at absolute address start + delta.
std::uint8_t HeaderByte(const IntelHexFile& file, std::uint32_t start, std::uint64_t delta) {
  const std::int64_t o = std::int64_t{start} - file.BaseAddress() + static_cast<std::int64_t>(delta);
  return o < 0 ? 0xFF : file.ImageByte(static_cast<std::uint64_t>(o));
}

std::string HeaderText(const IntelHexFile& file, std::uint32_t start, std::uint64_t at,
                       std::size_t limit) {
  const std::size_t length = std::min<std::size_t>(HeaderByte(file, start, at), limit);
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    text.push_back(static_cast<char>(HeaderByte(file, start, at + 1 + i)));
  }
  return text;
}

}  // namespace

std::string ReadHeaderVersion(const IntelHexFile& file, std::uint32_t applicationStart,
                              std::size_t maximum) {
  if (HeaderByte(file, applicationStart, fmf::kHeaderL1) == 0) return {};
  return HeaderText(file, applicationStart, fmf::kHeaderField1, maximum);
}

std::vector<std::uint8_t> ReadHeaderIdentity(const IntelHexFile& file,
                                             std::uint32_t applicationStart) {
  const std::uint64_t l1 = HeaderByte(file, applicationStart, fmf::kHeaderL1);
  const std::size_t l2 = HeaderByte(file, applicationStart, fmf::kHeaderL2);
  std::vector<std::uint8_t> identity(l2);
  for (std::size_t i = 0; i < l2; ++i) {
    identity[i] = HeaderByte(file, applicationStart, fmf::kHeaderField1 + l1 + i);
  }
  return identity;
}

std::string ReadHeaderModel(const IntelHexFile& file, std::uint32_t applicationStart,
                            std::size_t maximum) {
  const std::uint64_t l1 = HeaderByte(file, applicationStart, fmf::kHeaderL1);
  const std::uint64_t l2 = HeaderByte(file, applicationStart, fmf::kHeaderL2);
  return HeaderText(file, applicationStart, fmf::kHeaderField1 + l1 + l2,
                    maximum == 0 ? 0 : maximum - 1);
}

std::string BootBlockSerial(const std::uint8_t (&block)[fmf::kBootBlockSize]) {
  const std::size_t length = std::min<std::size_t>(block[0], fmf::kBootBlockSize - 1);
  return std::string(reinterpret_cast<const char*>(block) + 1, length);
}

}  // namespace tarnvale
