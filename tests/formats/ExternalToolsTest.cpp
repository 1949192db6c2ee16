// Our readers and writer against two independent converters, objcopy
// (binutils) and srec_cat (srecord), on generated files.
#include <gtest/gtest.h>

#include "FormatsTestUtil.h"
#include "formats/FlashMemoryFile.h"
#include "formats/MotorolaSRecFile.h"
#include "formats/ProductionImage.h"
#include "formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using test::SRecText;

class ExternalTools : public ::testing::Test {
 protected:
  void SetUp() override {
    objcopy_ = test::FindOnPath("objcopy");
    srecCat_ = test::FindOnPath("srec_cat");
    if (objcopy_.empty() || srecCat_.empty()) {
      GTEST_SKIP() << "objcopy (binutils) and srec_cat (srecord) are needed on PATH for these checks";
    }
    dir_ = test::MakeTempDir("tools");
  }

  std::vector<std::uint8_t> ReadBinary(const std::filesystem::path& p) {
    const std::string s = test::ReadFileBytes(p);
    return {s.begin(), s.end()};
  }

  // objcopy's binary image: from the lowest data address to the end of the
  // highest, gaps 0xFF.
  std::vector<std::uint8_t> Objcopy(const std::filesystem::path& hex) {
    const auto out = dir_ / "objcopy.bin";
    const std::string cmd = test::Quote(objcopy_) + " -I ihex -O binary --gap-fill 0xFF " +
                            test::Quote(hex) + " " + test::Quote(out) + " 2>&1";
    std::string log;
    EXPECT_EQ(test::RunCommand(cmd, &log), 0) << log;
    return ReadBinary(out);
  }

  // srec_cat's bytes of [first, first + size), gaps 0xFF. `input` is the
  // input format with its options, such as "-Intel" or "-Motorola 2".
  std::vector<std::uint8_t> SrecCat(const std::filesystem::path& file, const std::string& input,
                                    std::uint64_t first, std::uint64_t size) {
    const auto out = dir_ / "srec_cat.bin";
    char range[128];
    std::snprintf(range, sizeof range, " -crop 0x%llX 0x%llX -fill 0xFF 0x%llX 0x%llX -offset -0x%llX",
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(first + size),
                  static_cast<unsigned long long>(first), static_cast<unsigned long long>(first + size),
                  static_cast<unsigned long long>(first));
    const std::string cmd = test::Quote(srecCat_) + " " + test::Quote(file) + " " + input + range +
                            " -o " + test::Quote(out) + " -Binary 2>&1";
    std::string log;
    EXPECT_EQ(test::RunCommand(cmd, &log), 0) << log;
    return ReadBinary(out);
  }

  std::string objcopy_, srecCat_;
  std::filesystem::path dir_;
};

TEST_F(ExternalTools, IntelHexWithGapsAndEveryAcceptedRecordType) {
  // Segment and linear addressing go in separate files: tools disagree on
  // how the two bases combine when a file mixes them.
  std::vector<std::uint8_t> big(255);
  for (unsigned i = 0; i < 255; ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const auto noise = test::PseudoRandomBytes(600, 2);
  HexText segment("\r\n");
  segment.ExtendedSegment(0x1000)                               // base 0x10000
      .Data(0x0000, std::span(noise).subspan(0, 16))
      .Data(0x0100, big)                                        // 255 bytes after a gap
      .StartSegment(0x1000, 0x0000)
      .ExtendedSegment(0x2000)
      .Data(0x0010, std::span(noise).subspan(16, 32))           // 0x20010
      .EndOfFile();
  HexText linear("\n");
  linear.ExtendedLinear(0x0001)
      .Data(0x8000, std::span(noise).subspan(100, 200))         // 0x18000
      .Data(0x8400, big)
      .ExtendedLinear(0x0002)
      .Data(0x0000, std::span(noise).subspan(300, 32))          // 0x20000
      .StartLinear(0x00, 0x00, 0x01, 0x00)
      .EndOfFile();
  struct Case {
    const HexText& text;
    std::uint32_t lo, hi;
  } cases[] = {{segment, 0x10000, 0x2002F}, {linear, 0x18000, 0x2001F}};
  for (const Case& c : cases) {
    const auto path = dir_ / "mixed.hex";
    c.text.WriteTo(path);
    IntelHexFile f(path, c.lo, c.hi, 1, 2);
    ASSERT_EQ(f.OpenFile(), 0);
    ASSERT_EQ(f.AllocateImage(), 0);
    ASSERT_EQ(f.LoadFile(), 0);
    const auto ours = f.ImageBytes();
    EXPECT_EQ(Objcopy(path), ours);
    EXPECT_EQ(SrecCat(path, "-Intel", c.lo, c.hi - c.lo + 1), ours);
  }
}

TEST_F(ExternalTools, FlashMemoryFilesOfEachGeneration) {
  for (int generation : {3, 4, 5}) {
    test::FmfSpec recipe;
    recipe.generation = generation;
    recipe.codeBytes = generation == 5 ? 300000 : 60000;
    recipe.seed = static_cast<std::uint32_t>(generation);
    recipe.hex.recordSize = generation == 4 ? 16 : 32;
    const auto path = dir_ / ("gen" + std::to_string(generation) + ".FMF");
    const auto image = test::WriteFmf(path, recipe);

    HexScan scan;
    ASSERT_EQ(ScanHexFile(path, scan), 0);
    IntelHexFile f(path, scan.lowest, fmf::kTopAddress, 1, fmf::kLanes);
    ASSERT_EQ(f.OpenFile(), 0);
    ASSERT_EQ(f.AllocateImage(), 0);
    ASSERT_EQ(f.LoadFile(), 0);
    const auto ours = f.ImageBytes();
    ASSERT_EQ(ours, image) << generation;
    // objcopy's output runs from the header at the ROM start to the last
    // record; after it the image is blank.
    const auto copied = Objcopy(path);
    ASSERT_LE(copied.size(), ours.size());
    EXPECT_GT(copied.size(), ours.size() - 32);
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), ours.begin())) << generation;
    EXPECT_TRUE(std::all_of(ours.begin() + static_cast<std::ptrdiff_t>(copied.size()), ours.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(SrecCat(path, "-Intel", scan.lowest, ours.size()), ours) << generation;
  }
}

TEST_F(ExternalTools, SRecordRegionsWithWordAddressing) {
  auto one = test::PseudoRandomBytes(0x1C000, 31);
  auto two = test::PseudoRandomBytes(0x2000, 32);
  for (std::size_t i = 0x9000; i < 0xA800; ++i) one[i] = 0xFF;
  SRecText t("\n");
  t.Raw("S00600004844521B");
  test::AppendSRecWords(t, 0, one, 64);
  constexpr std::uint64_t kRegionTwoAt = 0x4000000 + 0x80000;
  test::AppendSRecWords(t, kRegionTwoAt, two, 32);
  t.Record(7, 0);
  const auto path = dir_ / "app.S";
  t.WriteTo(path);

  MotorolaSRecFile s(path, 0, 0x21FFF);
  ASSERT_EQ(s.OpenFile(), 0);
  ASSERT_EQ(s.AllocateImage(), 0);
  ASSERT_EQ(s.LoadSRecords(0, 0x20000, 0), 0);
  const auto image = s.ImageBytes();
  const std::vector<std::uint8_t> regionOne(image.begin(), image.begin() + 0x20000);
  const std::vector<std::uint8_t> regionTwo(image.begin() + 0x20000, image.end());
  EXPECT_EQ(SrecCat(path, "-Motorola 2", 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(path, "-Motorola 2", kRegionTwoAt, 0x2000), regionTwo);

  // The FMF written from it: both tools and TN820HexFile see the same image.
  std::filesystem::path fmf;
  ASSERT_EQ(s.WriteFlashMemoryFile(dir_ / "app.FMF", 0, true, &fmf), 0);
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0x2001000, 0x2000), regionTwo);
  TN820HexFile back(fmf, 0, 0x21FFF, 2);
  ASSERT_EQ(back.OpenFile(), 0);
  ASSERT_EQ(back.LoadFile(), 0);
  EXPECT_EQ(back.ImageBytes(), image);
}

TEST_F(ExternalTools, ProductionFlashMemoryFilesReadAlike) {
  // Boot image: one segment, data from its first to its last byte.
  auto boot = test::PseudoRandomBytes(0x2000, 41);
  SRecText b;
  test::AppendSRecWords(b, 0x40000, boot);
  b.Record(8, 0x20000);
  const auto bootS = dir_ / "boot.S";
  b.WriteTo(bootS);
  ProductionImageOptions options;
  options.kind = ProductionImageKind::Boot;
  options.serialNumber = "A1";
  options.hardwareRevision = 'B';
  std::string version;
  std::filesystem::path fmf;
  ASSERT_EQ(ConvertProductionImage(bootS, dir_ / "TN835 Boot.FMF", options, version, &fmf), 0);
  TN820HexFile back(fmf, 0x40000, 0x41FFF, 1);
  ASSERT_EQ(back.OpenFile(), 0);
  ASSERT_EQ(back.LoadFile(), 0);
  const auto ours = back.ImageBytes();
  EXPECT_EQ(Objcopy(fmf), ours);
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0x40000, 0x2000), ours);

  // Test image: two regions, relocated.
  SRecText a;
  test::AppendSRecWords(a, 0, test::PseudoRandomBytes(0x8000, 42));
  test::AppendSRecWords(a, 0x4000000, test::PseudoRandomBytes(0x2000, 43));
  a.Record(7, 0);
  const auto appS = dir_ / "test.S";
  a.WriteTo(appS);
  options.kind = ProductionImageKind::Test;
  ASSERT_EQ(ConvertProductionImage(appS, dir_ / "TN835 Test.FMF", options, version, &fmf), 0);
  TN820HexFile app(fmf, 0, 0x21FFF, 2);
  ASSERT_EQ(app.OpenFile(), 0);
  ASSERT_EQ(app.LoadFile(), 0);
  const auto image = app.ImageBytes();
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0, 0x20000), std::vector<std::uint8_t>(image.begin(), image.begin() + 0x20000));
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0x2001000, 0x2000),
            std::vector<std::uint8_t>(image.begin() + 0x20000, image.end()));
}

}  // namespace
}  // namespace tarnvale
