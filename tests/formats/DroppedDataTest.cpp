// Data outside the image: every reader keeps loading (the command succeeds)
// but tallies what it left out, so the person can be told.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "FormatsTestUtil.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using test::SRecText;
using Bytes = std::vector<std::uint8_t>;

Bytes Ramp(std::size_t n, std::uint8_t first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

struct Expect {
  std::uint64_t bytes, records, lowest, highest;
};

struct ReaderCase {
  const char* name;
  std::function<std::unique_ptr<IntelHexFile>(const std::filesystem::path&)> make;
  std::string text;
  Expect dropped;
  // Image offset and bytes that must have arrived despite the drop.
  std::uint32_t keptOffset;
  Bytes kept;
};

std::unique_ptr<IntelHexFile> Plain(const std::filesystem::path& p, std::uint32_t base, std::uint32_t end,
                                    std::uint8_t lanes = 1) {
  return std::make_unique<IntelHexFile>(p, base, end, 1, lanes);
}

TEST(DroppedData, EachReaderTalliesWhatFallsOutsideItsImage) {
  const ReaderCase cases[] = {
      // The case from the field: an extended address of 0xFFFF puts a record
      // at the very top of the address space, far outside a flash image.
      {"extended address FFFF",
       [](const auto& p) { return Plain(p, 0x03C00000, 0x03C000FF, 2); },
       HexText().ExtendedLinear(0x03C0).Data(0x0010, {9, 8}).ExtendedLinear(0xFFFF)
           .Data(0xFFF0, Ramp(16, 0x40)).EndOfFile().Text(),
       {16, 1, 0xFFFFFFF0, 0xFFFFFFFF}, 0x10, {9, 8}},
      // Records straddling an end or wider than the image, at any address:
      // RoundTripPropertiesTest (StoredBytesNeverWrap).
      // PIC18F252 configuration bytes live outside program memory but are
      // taken, not lost; the byte after them is lost.
      {"pic18 configuration is kept",
       [](const auto& p) { return std::make_unique<PIC18FIntelHexFile>(p, 0, 0x7FFF); },
       HexText().Data(0x0000, {0x11}).ExtendedLinear(0x0030).Data(0x0000, Ramp(15, 0xA0)).EndOfFile().Text(),
       {1, 1, 0x30000E, 0x30000E}, 0, {0x11}},
      {"pic30 program bytes past the image, not the configuration",
       [](const auto& p) { return std::make_unique<PIC30FIntelHexFile>(p, 0, 0x7FFF); },
       HexText().Data(0x7FFE, Ramp(4, 0x50)).ExtendedLinear(0x01F0).Data(0x0000, {1, 2}).EndOfFile().Text(),
       {2, 1, 0x8000, 0x8001}, 0x7FFE, {0x50, 0x51}},
      // A TN835 application FMF: a segment the layout does not know lands
      // beyond the image.
      {"tn835 unknown segment",
       [](const auto& p) { return std::make_unique<TN820HexFile>(p, 0, 0x21FFF, 2, 1); },
       HexText().ExtendedLinear(0x0000).Data(0x0000, {7}).ExtendedLinear(0x0300).Data(0x0000, Ramp(32, 0))
           .EndOfFile().Text(),
       {32, 1, 0x3000000, 0x300001F}, 0, {7}},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = c.make(test::WriteTemp("in.hex", c.text));
    ASSERT_EQ(test::Load(*file), rc::kFileOk) << file->Failure().reason;
    const DroppedData& d = file->Dropped();
    EXPECT_EQ(d.bytes, c.dropped.bytes);
    EXPECT_EQ(d.records, c.dropped.records);
    EXPECT_TRUE(d.Any());
    EXPECT_EQ(d.lowest, c.dropped.lowest);
    EXPECT_EQ(d.highest, c.dropped.highest);
    const Bytes image = file->ImageBytes();
    ASSERT_GE(image.size(), c.keptOffset + c.kept.size());
    EXPECT_EQ(test::Slice(image, c.keptOffset, c.kept.size()), c.kept);
  }
}

// Region two is placed from its first address and holds 8 KB: a record 8 KB
// above the anchor has no room left (region one past the image: the CLI's
// srec convert warning).
TEST(DroppedData, SRecordsPastRegionTwo) {
  const Bytes four = {1, 2, 3, 4};
  const std::string text = SRecText().Record(1, 0, four).Record(3, 0x2000000, four)
                               .Record(3, 0x2001000, Ramp(32, 0)).Record(9, 0).Text();
  MotorolaSRecFile f(test::WriteTemp("in.S", text), 0, 0x21FFF);
  ASSERT_EQ(test::LoadSRec(f, 0, 0x20000, 0), rc::kFileOk);
  EXPECT_EQ(f.Dropped().bytes, 32u);
  EXPECT_EQ(f.Dropped().records, 1u);
  EXPECT_EQ(f.Dropped().lowest, 0x4002000u) << "in bytes: the word address x 2";
  EXPECT_EQ(f.Dropped().highest, 0x400201Fu);
}

TEST(DroppedData, TextNamesCountRecordsAndBothRanges) {
  struct Case {
    DroppedData d;
    std::uint32_t base, end;
    std::string text;
  } cases[] = {
      {{}, 0, 0xFF, ""},
      {{1, 1, 0x100, 0x100}, 0, 0xFF, "ignored 1 byte in 1 record at 0x00000100-0x00000100 (outside the image 0x00000000-0x000000FF)"},
      {{3, 2, 0xFFFFFFFE, 0x100000000}, 0x03C00000, 0x03FFFFFF,
       "ignored 3 bytes in 2 records at 0xFFFFFFFE-0x100000000 (outside the image 0x03C00000-0x03FFFFFF)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DroppedDataText(c.d, c.base, c.end), c.text);
}

}  // namespace
}  // namespace tarnvale
