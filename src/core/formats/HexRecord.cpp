#include "core/formats/HexRecord.h"

#include "core/formats/TokenReader.h"

namespace tarnvale {

ResultCode ParseHexRecord(std::string_view token, HexRecord& record) {
  // ':' + count(2) + address(4) + type(2) + checksum(2)
  constexpr std::size_t kFixedChars = 11;
  if (token.empty() || token[0] != ':') return rc::kInvalidHexFile;
  if (token.size() < kFixedChars) return rc::kInvalidHexFile;
  const char* p = token.data() + 1;
  std::uint8_t count, addrHi, addrLo, type;
  if (!DecodeHexByte(p, count)) return rc::kInvalidHexFile;
  if (token.size() < kFixedChars + 2 * static_cast<std::size_t>(count)) {
    return rc::kInvalidHexFile;
  }
  if (!DecodeHexByte(p + 2, addrHi) || !DecodeHexByte(p + 4, addrLo) ||
      !DecodeHexByte(p + 6, type)) {
    return rc::kInvalidHexFile;
  }
  unsigned sum = count + addrHi + addrLo + type;
  p += 8;
  for (unsigned i = 0; i < count; ++i, p += 2) {
    std::uint8_t b;
    if (!DecodeHexByte(p, b)) return rc::kInvalidHexFile;
    record.data[i] = b;
    sum += b;
  }
  std::uint8_t checksum;
  if (!DecodeHexByte(p, checksum)) return rc::kInvalidHexFile;
  record.count = count;
  record.address = static_cast<std::uint16_t>((addrHi << 8) | addrLo);
  record.type = type;
  record.checksum = checksum;
  if (((sum + checksum) & 0xFF) != 0) return rc::kErrorInHexFile;
  return rc::kFileOk;
}

}  // namespace tarnvale
