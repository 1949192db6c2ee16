#include "sim/PicDevices.h"

#include <algorithm>

namespace tarnvale::sim {

std::vector<std::uint8_t> EepromPattern(std::uint16_t seed, std::size_t size) {
  // A 16-bit linear congruential sequence; the high byte of each step is
  // the cell's value, so neighbouring cells differ.
  std::vector<std::uint8_t> out(size);
  std::uint16_t x = seed;
  for (auto& b : out) {
    x = static_cast<std::uint16_t>(x * 25173u + 13849u);
    b = static_cast<std::uint8_t>(x >> 8);
  }
  return out;
}

PicChip::PicChip(std::size_t programSize, std::size_t eepromSize)
    : program_(programSize, 0xFF), eeprom_(eepromSize, 0xFF) {
  config_.fill(0xFF);
}

void PicChip::Erase() {
  std::fill(program_.begin(), program_.end(), 0xFF);
  config_.fill(0xFF);
}

bool PicChip::Blank() const {
  return std::all_of(program_.begin(), program_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

void PicChip::WriteEeprom(std::uint32_t offset, std::uint8_t value) {
  if (offset >= eeprom_.size()) return;
  eeprom_[offset] = badCell && *badCell == offset ? 0x00 : value;
}

std::uint8_t PicChip::Packet(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                             std::size_t count) {
  switch (type) {
    case 0x04:
      if (count != 2) return 'A';
      linearBase_ = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
      return '0';
    case 0x00:
      for (std::size_t i = 0; i < count; ++i) {
        if (!Store(linearBase_ + address + static_cast<std::uint32_t>(i), data[i])) return 'B';
      }
      return '0';
    case 0x15:
      return PanelPacket(address, data, count) ? '0' : 'B';
    case 0x01:
    case 0x05:
      return '0';
    default:
      return 'E';
  }
}

Pic18Chip::Pic18Chip() : PicChip(kProgramSize, kEepromSize) {
  id = kDefaultId;
}

bool Pic18Chip::Store(std::uint32_t a, std::uint8_t value) {
  if (a >= 0x300000 && a < 0x300000 + config_.size()) {
    config_[a - 0x300000] = value;
    return true;
  }
  if (a >= program_.size()) return false;
  program_[a] = value;
  return true;
}

bool Pic18Chip::PanelPacket(std::uint16_t offset, const std::uint8_t* data, std::size_t count) {
  constexpr std::uint32_t kPanel = 0x2000;
  if (count != 32 || offset % 8 != 0 || offset >= kPanel) return false;
  for (std::uint32_t panel = 0; panel < 4; ++panel) {
    std::copy(data + 8 * panel, data + 8 * panel + 8, program_.begin() + panel * kPanel + offset);
  }
  return true;
}

Pic30Chip::Pic30Chip() : PicChip(kProgramSize, kEepromSize) {
  SetIdentity(kDefaultDeviceId, kDefaultRevision);
}

void Pic30Chip::SetIdentity(std::uint16_t device, std::uint16_t revision) {
  id = {static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(device >> 8),
        static_cast<std::uint8_t>(revision), static_cast<std::uint8_t>(revision >> 8)};
}

bool Pic30Chip::Store(std::uint32_t a, std::uint8_t value) {
  if (a >= 0x1F00000 && a < 0x1F00000 + 2 * config_.size()) {
    // Configuration words: the low byte of each word is kept, as the file
    // class sends them (index = word number).
    const std::uint32_t index = (a - 0x1F00000);
    if (index < config_.size()) config_[index] = value;
    return true;
  }
  if (a >= program_.size()) return false;
  program_[a] = value;
  return true;
}

}  // namespace tarnvale::sim
