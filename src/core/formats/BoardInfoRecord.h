#pragma once
// The 62-byte identification of an RQ700 CPU board, as stored on the board
// and as typed by the operator. It is copied whole between dialogs, into the
// boot image and over the programmer link, so it is a plain byte record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnvale {

struct BoardInfoRecord {
  static constexpr std::size_t kSize = 62;
  static constexpr std::size_t kSerialMax = 15;

  // Byte offsets.
  static constexpr std::size_t kCpuRevision = 0;        // 'A'..'Z' when set
  static constexpr std::size_t kIoRevision = 1;         // 'A'..'Z' when set
  static constexpr std::size_t kControllerSerial = 2;   // length byte, 15 characters
  static constexpr std::size_t kCpuSerial = 18;         // length byte, 15 characters
  static constexpr std::size_t kIoSerial = 34;          // length byte, 15 characters
  static constexpr std::size_t kFlashId = 50;           // six 16-bit words, LSB first
  static constexpr std::size_t kFlashIdWords = 6;

  std::array<std::uint8_t, kSize> bytes{};

  std::uint8_t CpuRevision() const { return bytes[kCpuRevision]; }
  std::uint8_t IoRevision() const { return bytes[kIoRevision]; }
  void SetCpuRevision(char letter) { bytes[kCpuRevision] = static_cast<std::uint8_t>(letter); }
  void SetIoRevision(char letter) { bytes[kIoRevision] = static_cast<std::uint8_t>(letter); }

  // A serial number field (kControllerSerial, kCpuSerial or kIoSerial): its
  // characters, the length capped at 15 whatever the record holds.
  std::string Serial(std::size_t field) const {
    std::size_t n = bytes[field];
    if (n > kSerialMax) n = kSerialMax;
    return std::string(reinterpret_cast<const char*>(bytes.data() + field + 1), n);
  }
  // Stores a serial number, cut to 15 characters; unused characters are 0.
  void SetSerial(std::size_t field, const std::string& text) {
    const std::size_t n = text.size() > kSerialMax ? kSerialMax : text.size();
    bytes[field] = static_cast<std::uint8_t>(n);
    for (std::size_t i = 0; i < kSerialMax; ++i) {
      bytes[field + 1 + i] = i < n ? static_cast<std::uint8_t>(text[i]) : 0;
    }
  }

  std::uint16_t FlashIdWord(std::size_t i) const {
    return static_cast<std::uint16_t>(bytes[kFlashId + 2 * i] | (bytes[kFlashId + 2 * i + 1] << 8));
  }
  void SetFlashIdWord(std::size_t i, std::uint16_t w) {
    bytes[kFlashId + 2 * i] = static_cast<std::uint8_t>(w);
    bytes[kFlashId + 2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
  }

  friend bool operator==(const BoardInfoRecord&, const BoardInfoRecord&) = default;
};

static_assert(sizeof(BoardInfoRecord) == BoardInfoRecord::kSize);

}  // namespace tarnvale
