#pragma once
// Writes flash memory files for demonstrations and measurements: a complete
// RQ700 flash image (ROM start to the top of the address space) with the
// application start address, an application header, an application body and
// a boot area holding the boot identity block and the revision letter.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnvale::sim {

struct ImageSpec {
  int generation = 4;                 // 3, 4 or 5
  std::string version = "5.01.00";
  std::string model = "RQ700";
  std::string serial = "DEMO0001";
  char revision = 'C';
  std::uint32_t appSize = 64 * 1024;  // bytes of application body after the header
  std::uint32_t seed = 1;
};

// The ROM start address of a generation (0 for an unknown one).
std::uint32_t RomStartFor(int generation);
// Where the application start address is stored for a generation.
std::uint32_t StartLandmarkFor(int generation);

// The image from the ROM start to 0x03FFFFFF (0xFF where nothing is).
std::vector<std::uint8_t> BuildImage(const ImageSpec& recipe);

// Writes `image` (based at `base`) as Intel HEX: extended linear address
// records for each 64 KB page that has data (always for the first page),
// 32-byte data records with blank ones left out, and an end record.
bool WriteFlashMemoryFile(const std::string& path, std::uint32_t base,
                          const std::vector<std::uint8_t>& image, std::string& error);

}  // namespace tarnvale::sim
