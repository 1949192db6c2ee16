#pragma once
// The simulated RQ700's 26-bit memory: RAM at the bottom for "Load", flash at
// the top with real flash rules, and the boot area in the top 16 KB.

#include <cstdint>
#include <vector>

namespace tarnvale::sim {

// The simulator's own numbers, not the device table's: it models the wire
// independently, so a run against it checks the program's facts.
inline constexpr std::uint32_t kTopAddress = 0x03FFFFFF;
inline constexpr std::uint32_t kDefaultFlashBase = 0x03800000;
inline constexpr std::uint32_t kRamEnd = 0x003FFFFF;
inline constexpr std::uint32_t kBootAreaBase = 0x03FFC000;
inline constexpr std::uint32_t kBootBlockAddress = 0x03FFFFB0;
inline constexpr std::uint32_t kRevisionAddress = 0x03FFFFEE;

class Rq700Memory {
 public:
  // Status of a program request, as the controller answers it.
  static constexpr std::uint8_t kOk = '0';
  static constexpr std::uint8_t kWouldSetBit = '4';
  static constexpr std::uint8_t kOutOfRange = 'B';

  explicit Rq700Memory(std::uint32_t flashBase = kDefaultFlashBase);

  std::uint32_t FlashBase() const { return flashBase_; }
  bool InRam(std::uint64_t a) const { return a <= kRamEnd; }
  bool InFlash(std::uint64_t a) const { return a >= flashBase_ && a <= kTopAddress; }
  static bool InBootArea(std::uint64_t a) { return a >= kBootAreaBase && a <= kTopAddress; }

  // Unmapped addresses read as 0xFF (an open bus).
  std::uint8_t Read(std::uint64_t address) const;

  // Programs bytes from `address`. Flash can only clear bits ('4' when a byte
  // would set a cleared bit; nothing of that packet is written); the boot
  // area accepts the packet without writing it; 'B' when any byte lies
  // outside flash and RAM. RAM takes every byte.
  std::uint8_t Program(std::uint32_t address, const std::uint8_t* bytes, std::size_t n);

  // Sets flash to 0xFF, the boot area excepted.
  void EraseFlash();

  // Writes bytes directly (preloading an image, setting the boot block):
  // flash and RAM alike, boot area included; unmapped parts are dropped.
  void Poke(std::uint64_t address, const std::uint8_t* bytes, std::size_t n);

  // Flash contents from the flash base to the top.
  const std::vector<std::uint8_t>& Flash() const { return flash_; }

 private:
  std::uint32_t flashBase_;
  std::vector<std::uint8_t> flash_;
  std::vector<std::uint8_t> ram_;
};

}  // namespace tarnvale::sim
