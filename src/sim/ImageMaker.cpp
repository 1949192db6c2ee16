#include "sim/ImageMaker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/Rq700Memory.h"

namespace tarnvale::sim {

// The simulator's own copy of the flash layouts, not the readers' constants:
// a controller image it makes is an independent check of what they read.
std::uint32_t RomStartFor(int generation) {
  switch (generation) {
    case 5: return 0x03800000;
    case 4: return 0x03C00000;
    case 3: return 0x03E80000;
    default: return 0;
  }
}

std::uint32_t StartLandmarkFor(int generation) {
  return generation == 3 ? 0x03FFBFF0u : 0x03FDFFF0u;
}

std::vector<std::uint8_t> BuildImage(const ImageSpec& recipe) {
  const std::uint32_t base = RomStartFor(recipe.generation);
  if (base == 0) return {};
  std::vector<std::uint8_t> image(static_cast<std::size_t>(kTopAddress - base) + 1, 0xFF);
  auto put = [&](std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (address + i >= base && address + i <= kTopAddress) image[address + i - base] = bytes[i];
    }
  };

  // The application sits at the ROM start; its header leads.
  const std::uint32_t appStart = base;
  std::vector<std::uint8_t> header(16, 0);
  std::memcpy(header.data(), "QUORAPPLHDR1", 12);
  std::vector<std::uint8_t> field1{static_cast<std::uint8_t>(recipe.version.size())};
  field1.insert(field1.end(), recipe.version.begin(), recipe.version.end());
  std::vector<std::uint8_t> field2(16);
  for (std::size_t i = 0; i < field2.size(); ++i) {
    field2[i] = static_cast<std::uint8_t>(0xA0 + i + recipe.seed);
  }
  std::vector<std::uint8_t> field3{static_cast<std::uint8_t>(recipe.model.size())};
  field3.insert(field3.end(), recipe.model.begin(), recipe.model.end());
  header[12] = static_cast<std::uint8_t>(field1.size());
  header[13] = static_cast<std::uint8_t>(field2.size());
  header[14] = static_cast<std::uint8_t>(field3.size());
  header.insert(header.end(), field1.begin(), field1.end());
  header.insert(header.end(), field2.begin(), field2.end());
  header.insert(header.end(), field3.begin(), field3.end());
  put(appStart, header.data(), header.size());

  // Application body: pseudo-random code with a few blank stretches, so the
  // stream has both packets and skipped blank runs.
  std::uint32_t x = recipe.seed * 2654435761u + 12345u;
  const std::uint32_t bodyStart = appStart + static_cast<std::uint32_t>(header.size());
  const std::uint32_t bodyEnd =
      std::min<std::uint32_t>(bodyStart + recipe.appSize, StartLandmarkFor(recipe.generation) - 0x100);
  for (std::uint32_t a = bodyStart; a < bodyEnd; ++a) {
    x = x * 1664525u + 1013904223u;
    const bool blankStretch = ((a - bodyStart) / 4096) % 7 == 3;
    const std::uint8_t b = blankStretch ? 0xFF : static_cast<std::uint8_t>(x >> 24);
    put(a, &b, 1);
  }

  const std::uint8_t start[4] = {
      static_cast<std::uint8_t>(appStart), static_cast<std::uint8_t>(appStart >> 8),
      static_cast<std::uint8_t>(appStart >> 16), static_cast<std::uint8_t>(appStart >> 24)};
  put(StartLandmarkFor(recipe.generation), start, 4);

  // Boot area: some boot code, the identity block and the revision letter.
  for (std::uint32_t a = kBootAreaBase; a < kBootAreaBase + 0x400; ++a) {
    const auto b = static_cast<std::uint8_t>((a * 7) ^ 0x5A);
    put(a, &b, 1);
  }
  std::uint8_t block[16];
  std::fill(std::begin(block), std::end(block), 0xFF);
  const std::size_t n = std::min<std::size_t>(recipe.serial.size(), 15);
  block[0] = static_cast<std::uint8_t>(n);
  std::memcpy(block + 1, recipe.serial.data(), n);
  put(kBootBlockAddress, block, sizeof block);
  const auto letter = static_cast<std::uint8_t>(recipe.revision);
  put(kRevisionAddress, &letter, 1);
  return image;
}

bool WriteFlashMemoryFile(const std::string& path, std::uint32_t base,
                          const std::vector<std::uint8_t>& image, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  auto record = [f](std::uint8_t count, std::uint16_t address, std::uint8_t type,
                    const std::uint8_t* data) {
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    std::fprintf(f, ":%02X%04X%02X", count, address, type);
    for (std::size_t i = 0; i < count; ++i) {
      std::fprintf(f, "%02X", data[i]);
      sum += data[i];
    }
    std::fprintf(f, "%02X\n", static_cast<unsigned>(-sum) & 0xFF);
  };
  std::int64_t announcedPage = -1;
  auto announce = [&](std::uint32_t page) {
    const std::uint8_t d[2] = {static_cast<std::uint8_t>(page >> 8),
                               static_cast<std::uint8_t>(page)};
    record(2, 0, 0x04, d);
    announcedPage = page;
  };
  announce(base >> 16);
  for (std::size_t off = 0; off < image.size(); off += 32) {
    const std::size_t n = std::min<std::size_t>(32, image.size() - off);
    const std::uint8_t* p = image.data() + off;
    if (std::all_of(p, p + n, [](std::uint8_t b) { return b == 0xFF; })) continue;
    const std::uint32_t address = base + static_cast<std::uint32_t>(off);
    if (static_cast<std::int64_t>(address >> 16) != announcedPage) announce(address >> 16);
    record(static_cast<std::uint8_t>(n), static_cast<std::uint16_t>(address & 0xFFFF), 0x00, p);
  }
  record(0, 0, 0x01, nullptr);
  const bool ok = std::ferror(f) == 0;
  if (std::fclose(f) != 0 || !ok) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace tarnvale::sim
