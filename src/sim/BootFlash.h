#pragma once
// The 16 KB boot flash of the simulated 80386EX CPU board, under the rules of
// a NOR flash: erasing sets every byte to FF, programming can only clear
// bits (the new byte is the AND of old and written), and the area is blank
// only when every byte is FF.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvale::sim {

class BootFlash {
 public:
  static constexpr std::uint32_t kBase = 0x3FFC000;
  static constexpr std::uint32_t kSize = 16384;

  BootFlash() { Erase(); }

  void Erase() { bytes_.fill(0xFF); }
  bool Blank() const;
  // Programs `n` bytes at absolute address `address`; bytes outside the
  // area are ignored. Returns false when a byte would need a bit set (the
  // chip cannot do it; the AND is stored anyway, as a real part would).
  bool Program(std::uint32_t address, const std::uint8_t* data, std::size_t n);
  // Loads a whole image as if erased and programmed.
  void Load(const std::vector<std::uint8_t>& image);
  std::uint8_t At(std::uint32_t offset) const { return bytes_[offset]; }
  const std::array<std::uint8_t, kSize>& Bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

// Reads the 16 KB boot image out of a flash memory file (Intel HEX records
// at 0x3FFC000...); false with a reason.
bool LoadBootImageFile(const std::string& path, std::vector<std::uint8_t>& image, std::string& error);

}  // namespace tarnvale::sim
