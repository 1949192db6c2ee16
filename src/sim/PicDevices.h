#pragma once
// The PIC chips on the simulated box's programming socket: a PIC18F252 and a
// dsPIC30F. Each keeps its program memory, configuration bytes, EEPROM and
// identification, and understands the packets the box passes on while a
// chip is selected.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnvale::sim {

// The EEPROM pattern of a fill with `seed`: the same generator fills and
// tests, so a test finds every byte it expects unless a cell is bad.
std::vector<std::uint8_t> EepromPattern(std::uint16_t seed, std::size_t size);

// What both chips share: program memory, 14 configuration bytes, EEPROM,
// the four ID bytes of the read-ID reply and a bad EEPROM cell.
class PicChip {
 public:
  PicChip(std::size_t programSize, std::size_t eepromSize);
  virtual ~PicChip() = default;

  void Erase();
  bool Blank() const;
  const std::vector<std::uint8_t>& Program() const { return program_; }
  const std::array<std::uint8_t, 14>& Config() const { return config_; }
  std::vector<std::uint8_t>& Eeprom() { return eeprom_; }
  const std::vector<std::uint8_t>& Eeprom() const { return eeprom_; }
  std::array<std::uint8_t, 4> id{};
  // A cell that keeps 0x00 whatever is written to it.
  std::optional<std::uint32_t> badCell;

  void WriteEeprom(std::uint32_t offset, std::uint8_t value);

  // The programming stream: extended linear address records, data records
  // (and the PIC18F's panel records), the end record. The status byte to
  // answer with.
  std::uint8_t Packet(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                      std::size_t count);

 protected:
  // A data byte at absolute address `a`; false when it has no place.
  virtual bool Store(std::uint32_t a, std::uint8_t value) = 0;
  virtual bool PanelPacket(std::uint16_t, const std::uint8_t*, std::size_t) { return false; }

  std::vector<std::uint8_t> program_;
  std::array<std::uint8_t, 14> config_{};
  std::vector<std::uint8_t> eeprom_;
  std::uint32_t linearBase_ = 0;
};

// PIC18F252: 32 KB of program memory written as four 8 KB panels at a time,
// configuration bytes at 0x300000, a 256-byte EEPROM.
class Pic18Chip : public PicChip {
 public:
  static constexpr std::size_t kProgramSize = 0x8000;
  static constexpr std::size_t kEepromSize = 256;
  // Device ID bytes of a PIC18F252, revision 4.
  static constexpr std::array<std::uint8_t, 4> kDefaultId = {0x84, 0x00, 0x04, 0x00};
  Pic18Chip();

 protected:
  bool Store(std::uint32_t a, std::uint8_t value) override;
  bool PanelPacket(std::uint16_t offset, const std::uint8_t* data, std::size_t count) override;
};

// (The simulator's own numbers, independent of the device table.)
// dsPIC30F: program memory in bytes as the HEX file numbers them,
// configuration words at 0x1F00000, a 1024-byte EEPROM at 0x7FFC00.
class Pic30Chip : public PicChip {
 public:
  static constexpr std::size_t kProgramSize = 0x8000;
  static constexpr std::size_t kEepromSize = 1024;
  static constexpr std::uint32_t kEepromAddress = 0x7FFC00;
  static constexpr std::uint16_t kDefaultDeviceId = 0x01C0;
  static constexpr std::uint16_t kDefaultRevision = 0x1001;
  Pic30Chip();
  void SetIdentity(std::uint16_t device, std::uint16_t revision);

 protected:
  bool Store(std::uint32_t a, std::uint8_t value) override;
};

}  // namespace tarnvale::sim
