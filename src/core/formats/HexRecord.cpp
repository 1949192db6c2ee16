#include "core/formats/HexRecord.h"

#include <cstdio>
#include <utility>

#include "core/formats/TokenReader.h"

namespace tarnvale {

namespace {

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
  return text;
}

ResultCode Refuse(std::string* reason, ResultCode code, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
  return code;
}

// Says which character of a pair is not a hex digit.
std::string NotHex(std::string_view token, const char* pair) {
  const std::size_t at = static_cast<std::size_t>(pair - token.data());
  const std::size_t bad = kHexValue[static_cast<unsigned char>(pair[0])] < 0 ? at : at + 1;
  char text[64];
  std::snprintf(text, sizeof text, "character %zu is not a hex digit", bad + 1);
  return text;
}

}  // namespace

ResultCode ParseHexRecord(std::string_view token, HexRecord& record, std::string* reason) {
  // ':' + count(2) + address(4) + type(2) + checksum(2)
  constexpr std::size_t kFixedChars = 11;
  if (token.empty() || token[0] != ':') {
    return Refuse(reason, rc::kInvalidHexFile, "record does not start with ':'");
  }
  if (token.size() < kFixedChars) {
    return Refuse(reason, rc::kInvalidHexFile,
                  "record of " + std::to_string(token.size()) + " characters is too short");
  }
  const char* p = token.data() + 1;
  std::uint8_t count = 0, addrHi = 0, addrLo = 0, type = 0;
  if (!DecodeHexByte(p, count)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p));
  if (token.size() < kFixedChars + 2 * static_cast<std::size_t>(count)) {
    return Refuse(reason, rc::kInvalidHexFile,
                  "count " + Hex2(count) + " needs " +
                      std::to_string(kFixedChars + 2 * std::size_t{count}) + " characters, the record has " +
                      std::to_string(token.size()));
  }
  if (!DecodeHexByte(p + 2, addrHi)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p + 2));
  if (!DecodeHexByte(p + 4, addrLo)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p + 4));
  if (!DecodeHexByte(p + 6, type)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p + 6));
  unsigned sum = count + addrHi + addrLo + type;
  p += 8;
  for (unsigned i = 0; i < count; ++i, p += 2) {
    std::uint8_t b;
    if (!DecodeHexByte(p, b)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p));
    record.data[i] = b;
    sum += b;
  }
  std::uint8_t checksum;
  if (!DecodeHexByte(p, checksum)) return Refuse(reason, rc::kInvalidHexFile, NotHex(token, p));
  // More text here is a lost line break: the next record is stuck to this
  // one, and taking only the first would drop the second without a word.
  if (p + 2 != token.data() + token.size()) {
    return Refuse(reason, rc::kInvalidHexFile, kTextAfterChecksum);
  }
  record.count = count;
  record.address = static_cast<std::uint16_t>((addrHi << 8) | addrLo);
  record.type = type;
  record.checksum = checksum;
  if (((sum + checksum) & 0xFF) != 0) {
    return Refuse(reason, rc::kErrorInHexFile,
                  "checksum " + Hex2(checksum) + ", expected " + Hex2(0x100u - (sum & 0xFFu)));
  }
  return rc::kFileOk;
}

std::string FileFailureText(const std::string& path, const std::string& words, const FileFailure& failure) {
  std::string text = path + ":";
  if (failure.line != 0) text += std::to_string(failure.line) + ":";
  text += " " + words;
  if (!failure.reason.empty()) text += " (" + failure.reason + ")";
  return text;
}

}  // namespace tarnvale
