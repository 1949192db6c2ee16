#include "sim/BootFlash.h"

#include <algorithm>

#include "core/formats/IntelHexFile.h"

namespace tarnvale::sim {

bool BootFlash::Blank() const {
  return std::all_of(bytes_.begin(), bytes_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

bool BootFlash::Program(std::uint32_t address, const std::uint8_t* data, std::size_t n) {
  bool clean = true;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t a = std::uint64_t{address} + i;
    if (a < kBase || a >= std::uint64_t{kBase} + kSize) continue;
    std::uint8_t& cell = bytes_[static_cast<std::size_t>(a - kBase)];
    if ((cell & data[i]) != data[i]) clean = false;
    cell &= data[i];
  }
  return clean;
}

void BootFlash::Load(const std::vector<std::uint8_t>& image) {
  Erase();
  Program(kBase, image.data(), std::min<std::size_t>(image.size(), kSize));
}

bool LoadBootImageFile(const std::string& path, std::vector<std::uint8_t>& image, std::string& error) {
  IntelHexFile file(path, BootFlash::kBase, BootFlash::kBase + BootFlash::kSize - 1, 1, 1);
  if (file.OpenFile() != rc::kFileOk || file.AllocateImage() != rc::kFileOk ||
      file.LoadFile() != rc::kFileOk) {
    error = "cannot load the boot image " + path;
    return false;
  }
  image = file.ImageBytes();
  image.resize(BootFlash::kSize, 0xFF);
  return true;
}

}  // namespace tarnvale::sim
