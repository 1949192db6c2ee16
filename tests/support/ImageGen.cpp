#include "support/ImageGen.h"

#include <algorithm>

#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void PutByte(std::string& s, std::uint8_t b) {
  s.push_back(kDigits[b >> 4]);
  s.push_back(kDigits[b & 0xF]);
}

std::uint8_t High(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t Low(std::uint16_t v) { return static_cast<std::uint8_t>(v); }

constexpr std::uint32_t kFmfBootBlock = 0x03FFFFB0;
constexpr std::uint32_t kFmfRevision = 0x03FFFFEE;

// Where the application start address is stored for a generation.
std::uint32_t FmfAppStartLandmark(int generation) {
  switch (generation) {
    case 5:
    case 4: return 0x03FDFFF0;
    case 3: return 0x03FFBFF0;
    default: return 0x000FBFF0;
  }
}

}  // namespace

std::string HexLine(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data) {
  std::string s = ":";
  unsigned sum = 0;
  const auto put = [&](std::uint8_t b) {
    PutByte(s, b);
    sum += b;
  };
  for (std::uint8_t b : {static_cast<std::uint8_t>(data.size()), High(address), Low(address), type}) put(b);
  for (std::uint8_t b : data) put(b);
  PutByte(s, static_cast<std::uint8_t>(-sum));
  return s;
}

HexText& HexText::Record(std::uint8_t type, std::uint16_t address,
                         std::span<const std::uint8_t> data) {
  text_ += HexLine(type, address, data) + eol_;
  return *this;
}

HexText& HexText::ExtendedLinear(std::uint16_t value) { return Record(0x04, 0, {{High(value), Low(value)}}); }

HexText& HexText::ExtendedSegment(std::uint16_t value) { return Record(0x02, 0, {{High(value), Low(value)}}); }

HexText& HexText::StartSegment(std::uint16_t cs, std::uint16_t ip) {
  return Record(0x03, 0, {{High(cs), Low(cs), High(ip), Low(ip)}});
}

HexText& HexText::StartLinear(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  return Record(0x05, 0, {{b0, b1, b2, b3}});
}

HexText& HexText::Raw(const std::string& line) {
  text_ += line + eol_;
  return *this;
}

void HexText::WriteTo(const std::filesystem::path& path) const { WriteFileBytes(path, text_); }

void WriteHexImage(const std::filesystem::path& path, std::uint32_t base,
                   std::span<const std::uint8_t> image, const HexImageOptions& options) {
  WriteFileBytes(path, HexImageText(base, image, options));
}

std::string HexImageText(std::uint32_t base, std::span<const std::uint8_t> image,
                         const HexImageOptions& options) {
  std::string text;
  long long segment = -1;
  for (std::size_t offset = 0; offset < image.size();) {
    const std::uint64_t address = std::uint64_t{base} + offset;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
        {options.recordSize, image.size() - offset, 0x10000 - (address & 0xFFFF)}));
    if (static_cast<long long>(address >> 16) != segment) {
      segment = static_cast<long long>(address >> 16);
      const auto value = static_cast<std::uint16_t>(segment);
      text += HexLine(0x04, 0, {{High(value), Low(value)}}) + options.eol;
    }
    const auto chunk = image.subspan(offset, n);
    if (!options.skipBlank || std::any_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b != 0xFF; })) {
      text += HexLine(0x00, static_cast<std::uint16_t>(address), chunk) + options.eol;
    }
    offset += n;
  }
  if (options.endRecord) text += ":00000001FF" + options.eol;
  return text;
}

std::uint32_t FmfRomStart(int generation) {
  switch (generation) {
    case 5: return 0x03800000;
    case 4: return 0x03C00000;
    case 3: return 0x03E80000;
    default: return 0x00000100;  // generation 2
  }
}

std::vector<std::uint8_t> PseudoRandomBytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 11);
  }
  return out;
}

std::vector<std::uint8_t> MakeFmfImage(const FmfSpec& recipe) {
  const std::uint32_t rom = FmfRomStart(recipe.generation);
  std::vector<std::uint8_t> image(std::size_t{kFmfTop} - rom + 1, 0xFF);
  const auto put = [&](std::uint32_t address, std::uint8_t b) { image[address - rom] = b; };
  const std::uint32_t app = recipe.applicationStart != 0 ? recipe.applicationStart : rom;

  // Code after the header, with blank chunks now and then.
  const std::vector<std::uint8_t> code = PseudoRandomBytes(recipe.codeBytes, recipe.seed);
  const std::uint32_t codeStart = app + 0x100;
  for (std::uint32_t i = 0; i < recipe.codeBytes; ++i) {
    const std::uint32_t chunk = i / 32;
    if (recipe.gapEvery != 0 && chunk % recipe.gapEvery == recipe.gapEvery - 1) continue;
    const std::uint32_t address = codeStart + i;
    if (address > kFmfTop) break;
    image[address - rom] = code[i];
  }

  // Application header: sizes L1, L2, L3, then the fields from offset 16.
  std::uint32_t at = app + 12;
  const auto putAll = [&](const auto& bytes) {
    for (auto b : bytes) put(at++, static_cast<std::uint8_t>(b));
  };
  putAll(std::vector<std::size_t>{1 + recipe.version.size(), recipe.identity.size(), 1 + recipe.model.size()});
  at = app + 16;
  put(at++, static_cast<std::uint8_t>(recipe.version.size()));
  putAll(recipe.version);
  putAll(recipe.identity);
  put(at++, static_cast<std::uint8_t>(recipe.model.size()));
  putAll(recipe.model);

  // Application start address, least significant byte first.
  const std::uint32_t stored = recipe.generation <= 2 ? app << 12 : app;
  at = FmfAppStartLandmark(recipe.generation);
  putAll(std::vector<std::uint32_t>{stored, stored >> 8, stored >> 16, stored >> 24});

  // Boot identity block (length byte, serial, zeros) and revision letter.
  at = kFmfBootBlock;
  put(at++, static_cast<std::uint8_t>(recipe.serial.size()));
  putAll(recipe.serial.substr(0, 15));
  while (at < kFmfBootBlock + 16) put(at++, 0);
  put(kFmfRevision, static_cast<std::uint8_t>(recipe.revision));
  return image;
}

std::vector<std::uint8_t> WriteFmf(const std::filesystem::path& path, const FmfSpec& recipe) {
  std::vector<std::uint8_t> image = MakeFmfImage(recipe);
  WriteHexImage(path, FmfRomStart(recipe.generation), image, recipe.hex);
  return image;
}

std::string SRecLine(unsigned type, std::uint32_t address, std::span<const std::uint8_t> data) {
  const unsigned addressBytes = type == 0 ? 0 : (type == 2 || type == 8) ? 3 : (type == 3 || type == 7) ? 4 : 2;
  const std::size_t count = addressBytes + data.size() + 1;
  std::string s = "S";
  s.push_back(kDigits[type & 0xF]);
  unsigned sum = 0;
  const auto put = [&](std::uint8_t b) {
    PutByte(s, b);
    sum += b;
  };
  put(static_cast<std::uint8_t>(count));
  for (unsigned i = addressBytes; i-- > 0;) put(static_cast<std::uint8_t>(address >> (8 * i)));
  for (std::uint8_t b : data) put(b);
  PutByte(s, static_cast<std::uint8_t>(~sum));
  return s;
}

SRecText& SRecText::Record(unsigned type, std::uint32_t address, std::span<const std::uint8_t> data) {
  text_ += SRecLine(type, address, data) + eol_;
  return *this;
}

SRecText& SRecText::Raw(const std::string& token) {
  text_ += token + eol_;
  return *this;
}

void SRecText::WriteTo(const std::filesystem::path& path) const { WriteFileBytes(path, text_); }

void AppendSRecWords(SRecText& text, std::uint64_t byteAddress, std::span<const std::uint8_t> bytes,
                     std::size_t bytesPerRecord, bool skipBlank) {
  for (std::size_t off = 0; off < bytes.size(); off += bytesPerRecord) {
    const auto chunk = bytes.subspan(off, std::min(bytesPerRecord, bytes.size() - off));
    if (skipBlank && std::all_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b == 0xFF; })) {
      continue;
    }
    text.Record(3, static_cast<std::uint32_t>((byteAddress + off) / 2), chunk);
  }
}

}  // namespace tarnvale::test
