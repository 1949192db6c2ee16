// Flash memory files: software generation, application start address and the
// landmarks read from the image.
#include <gtest/gtest.h>

#include "FormatsTestUtil.h"
#include "core/formats/FlashMemoryFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::FmfSpec;
using test::HexText;

// The flash workflow's order: scan, open, find the start, allocate, load.
std::unique_ptr<IntelHexFile> OpenFmf(const std::filesystem::path& path, std::uint32_t& appStart) {
  HexScan scan;
  EXPECT_EQ(ScanHexFile(path, scan), 0);
  EXPECT_EQ(scan.mode, 2);
  auto file = std::make_unique<IntelHexFile>(path, scan.lowest, fmf::kTopAddress, 1, fmf::kLanes);
  EXPECT_EQ(file->OpenFile(), 0);
  EXPECT_EQ(FindApplicationStart(*file, SoftwareGeneration(scan.lowest), appStart), 0);
  EXPECT_EQ(file->AllocateImage(), 0);
  EXPECT_EQ(file->LoadFile(), 0);
  return file;
}

// Generations 3 to 5 are found from their files below; a plain HEX file
// (lowest 0xFFFFFFFF) is generation 0 in the CLI's hex scan test.
TEST(SoftwareGeneration, GenerationTwoAndLowestAddressesOffTheTable) {
  EXPECT_EQ(SoftwareGeneration(0x00000100), 2);
  EXPECT_EQ(SoftwareGeneration(0x03C10000), 0) << "a lowest segment of no generation";
}

// The boot block's serial and revision, where no generation moves them: the
// CLI's hex scan test.
TEST(FlashMemoryFile, GenerationsThreeFourFiveRoundTripTheirLandmarks) {
  for (int generation : {3, 4, 5}) {
    const std::string g = std::to_string(generation);
    FmfSpec recipe;
    recipe.generation = generation;
    recipe.applicationStart = test::FmfRomStart(generation) + 0x4000;
    recipe.version = "4.5" + g + ".01";
    recipe.identity = {0xDE, 0xAD, static_cast<std::uint8_t>(generation)};
    recipe.model = "RQ7" + g + "0";
    recipe.codeBytes = 20000;
    const auto path = test::MakeTempDir() / "app.FMF";
    const auto image = test::WriteFmf(path, recipe);

    std::uint32_t start = 0;
    const auto f = OpenFmf(path, start);
    EXPECT_EQ(start, recipe.applicationStart) << generation;
    EXPECT_EQ(f->ImageBytes(), image);
    EXPECT_EQ(ReadHeaderVersion(*f, start), recipe.version);
    EXPECT_EQ(ReadHeaderIdentity(*f, start), recipe.identity);
    EXPECT_EQ(ReadHeaderModel(*f, start), recipe.model);
  }
}

TEST(FlashMemoryFile, FindApplicationStartReadsTheLandmarkOfTheGeneration) {
  const std::string gen4 = HexText().ExtendedLinear(0x03C0).Data(0, {0x00})
                               .ExtendedLinear(0x03FD).Data(0xFFF0, {0x00, 0x00, 0xFE, 0x03}).EndOfFile().Text();
  struct Case {
    const char* why;
    std::string text;
    int generation;
    ResultCode expected;
    std::uint32_t start;
  } cases[] = {
      {"00 00 FE 03", gen4, 4, 0, 0x03FE0000},
      {"generation 3 landmark absent", gen4, 3, rc::kDataNotFound, 0},
      {"old generations shift the stored value",
       HexText().ExtendedLinear(0x000F).Data(0xBFF0, {0x00, 0x00, 0x34, 0x12}).Text(), 2, 0, 0x12340000u >> 12},
      {"split over two records is joined",
       HexText().ExtendedLinear(0x03FD).Data(0xFFEE, {0xAA, 0xBB, 0x00, 0x00}).Data(0xFFF2, {0xFE, 0x03}).Text(),
       5, 0, 0x03FE0000},
      {"type 05 record", HexText().ExtendedLinear(0x03C0).StartLinear(0, 0, 0, 0).Text() + gen4, 4,
       rc::kErrorInHexFile, 0},
      {"not a record", HexText().ExtendedLinear(0x03C0).Raw("not-a-record").Text(), 4, rc::kInvalidHexFile, 0},
  };
  for (const Case& c : cases) {
    IntelHexFile f(test::WriteTemp("a.FMF", c.text), 0x03C00000, fmf::kTopAddress, 1, 2);
    ASSERT_EQ(f.OpenFile(), 0);
    std::uint32_t start = 0;
    EXPECT_EQ(FindApplicationStart(f, c.generation, start), c.expected) << c.why;
    if (c.expected == 0) {
      EXPECT_EQ(start, c.start) << c.why;
    }
  }
}

TEST(FlashMemoryFile, HeaderEdgeCases) {
  FmfSpec recipe;
  recipe.generation = 3;
  recipe.model = "ABCDEFGHIJKLMNOPQRST";  // 20 characters
  recipe.version = "0123456789ABCDEFGHIJ";
  const auto path = test::MakeTempDir() / "h.FMF";
  test::WriteFmf(path, recipe);
  std::uint32_t start = 0;
  auto f = OpenFmf(path, start);
  EXPECT_EQ(ReadHeaderModel(*f, start), "ABCDEFGHIJKLMNO") << "cut at 15";
  EXPECT_EQ(ReadHeaderVersion(*f, start), "0123456789ABCDEF") << "cut at 16";

  // A start address near the top: the header runs off the image and reads as blank flash.
  f = OpenFmf(test::WriteTemp("top.FMF", HexText().ExtendedLinear(0x03E8).Data(0, {1})
                                             .ExtendedLinear(0x03FF).Data(0xBFF0, {0xF8, 0xFF, 0xFF, 0x03}).EndOfFile().Text()),
              start);
  EXPECT_EQ(start, 0x03FFFFF8u);
  EXPECT_EQ(ReadHeaderVersion(*f, start), std::string(16, '\xFF'));
  EXPECT_EQ(ReadHeaderIdentity(*f, start).size(), 255u);
  EXPECT_EQ(ReadHeaderModel(*f, start).size(), 15u);
  std::uint8_t bytes[4];
  CopyFromImage(*f, bytes, 0x03000000, 4);  // below the image
  EXPECT_EQ(bytes[0], 0xFF);
}

}  // namespace
}  // namespace tarnvale
