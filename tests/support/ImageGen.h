#pragma once
// Generators of image files for tests and benchmarks: Intel HEX text record
// by record or from a whole image, flash memory files (FMF) of generations 3,
// 4 and 5 with their landmarks, and Motorola S-records.
//
// Everything is computed here from first principles (record layout and
// checksums), never by the code under test, so a reader is checked against
// an independent writer.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tarnvale::test {

// ---- Intel HEX ---------------------------------------------------------------

// One record line without its line end: ':' count address type data checksum.
std::string HexLine(std::uint8_t type, std::uint16_t address,
                    std::span<const std::uint8_t> data = {});

// Builds HEX text record by record.
class HexText {
 public:
  explicit HexText(std::string eol = "\r\n") : eol_(std::move(eol)) {}
  HexText& Record(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);
  HexText& Data(std::uint16_t address, std::span<const std::uint8_t> data) {
    return Record(0x00, address, data);
  }
  HexText& Data(std::uint16_t address, std::initializer_list<std::uint8_t> data) {
    return Record(0x00, address, std::span<const std::uint8_t>(data.begin(), data.size()));
  }
  HexText& ExtendedLinear(std::uint16_t value);
  HexText& ExtendedSegment(std::uint16_t value);
  HexText& StartSegment(std::uint16_t cs, std::uint16_t ip);
  // Type 05 with its four data bytes as given, in file order.
  HexText& StartLinear(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3);
  HexText& EndOfFile() { return Record(0x01, 0, {}); }
  HexText& Raw(const std::string& line);  // any text, followed by the line end
  const std::string& Text() const { return text_; }
  void WriteTo(const std::filesystem::path& path) const;

 private:
  std::string eol_;
  std::string text_;
};

struct HexImageOptions {
  std::size_t recordSize = 32;  // data bytes per record, 1 to 255
  std::string eol = "\r\n";
  bool skipBlank = true;        // leave out records whose bytes are all 0xFF
  bool endRecord = true;        // finish with ":00000001FF"
};

// Writes `image` (byte i at address base + i) as Intel HEX with an extended
// linear address record at the start and at every 64 KB boundary. Records
// never cross a 64 KB boundary.
void WriteHexImage(const std::filesystem::path& path, std::uint32_t base,
                   std::span<const std::uint8_t> image, const HexImageOptions& options = {});
std::string HexImageText(std::uint32_t base, std::span<const std::uint8_t> image,
                         const HexImageOptions& options = {});

// ---- flash memory files ---------------------------------------------------------

// ROM start address of generations 3, 4, 5 (and 2).
std::uint32_t FmfRomStart(int generation);
inline constexpr std::uint32_t kFmfTop = 0x03FFFFFF;

struct FmfSpec {
  int generation = 4;
  std::uint32_t applicationStart = 0;   // 0: the ROM start address
  std::string version = "4.57.05";
  std::vector<std::uint8_t> identity = {0x12, 0x34, 0x56, 0x78};
  std::string model = "RQ700";
  std::string serial = "SN0042";
  char revision = 'C';
  std::uint32_t codeBytes = 4096;       // pseudo-random bytes after the header
  std::uint32_t gapEvery = 16;          // every Nth 32-byte chunk of code left blank (0: none)
  std::uint32_t seed = 1;
  HexImageOptions hex;                  // CR LF, 32-byte records, blank records left out
};

// The whole image from the ROM start address to 0x03FFFFFF, landmarks set.
// Application header at applicationStart: sizes L1, L2, L3 at 12, 13, 14;
// field 1 (length byte + version) at 16, then the identity bytes, then the
// model (length byte + text). Boot identity block at 0x03FFFFB0 (length byte
// + serial), revision letter at 0x03FFFFEE.
std::vector<std::uint8_t> MakeFmfImage(const FmfSpec& recipe);
// Writes the FMF; returns its image.
std::vector<std::uint8_t> WriteFmf(const std::filesystem::path& path, const FmfSpec& recipe);

// ---- Motorola S-records -------------------------------------------------------------

// One S-record token: 'S', type, count, address (2, 3 or 4 bytes by type; none
// for type 0, whose bytes all go in `data`), data, checksum.
std::string SRecLine(unsigned type, std::uint32_t address,
                     std::span<const std::uint8_t> data = {});

class SRecText {
 public:
  explicit SRecText(std::string eol = "\r\n") : eol_(std::move(eol)) {}
  SRecText& Record(unsigned type, std::uint32_t address, std::span<const std::uint8_t> data = {});
  SRecText& Raw(const std::string& token);
  const std::string& Text() const { return text_; }
  void WriteTo(const std::filesystem::path& path) const;

 private:
  std::string eol_;
  std::string text_;
};

// S3 records of `bytesPerRecord` bytes for `bytes` placed at byte address
// `byteAddress` (written at word address byteAddress / 2, the tool chain's
// addressing); blank (all 0xFF) records left out when skipBlank.
void AppendSRecWords(SRecText& text, std::uint64_t byteAddress,
                     std::span<const std::uint8_t> bytes, std::size_t bytesPerRecord = 32,
                     bool skipBlank = true);

// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> PseudoRandomBytes(std::size_t n, std::uint32_t seed);

}  // namespace tarnvale::test
