// Our readers and writer against two independent converters, objcopy
// (binutils) and srec_cat (srecord), on generated files.
#include <gtest/gtest.h>

#include "FormatsTestUtil.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using test::SRecText;
using Bytes = std::vector<std::uint8_t>;

class ExternalTools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::RunCommand("command -v objcopy && command -v srec_cat") != 0) {
      GTEST_SKIP() << "objcopy (binutils) and srec_cat (srecord) are needed on PATH for these checks";
    }
    dir_ = test::MakeTempDir("tools");
  }

  // Runs `before` OUT `after`, a command that writes the file OUT; returns its bytes.
  Bytes Tool(const std::string& before, const std::string& after = "") {
    const auto out = dir_ / "tool.bin";
    const std::string command = before + " " + test::Quote(out) + after;
    std::string log;
    EXPECT_EQ(test::RunCommand(command + " 2>&1", &log), 0) << command << "\n" << log;
    const std::string s = test::ReadFileBytes(out);
    return {s.begin(), s.end()};
  }

  // objcopy's binary image: from the lowest data address to the end of the
  // highest, gaps 0xFF.
  Bytes Objcopy(const std::filesystem::path& hex) {
    return Tool("objcopy -I ihex -O binary --gap-fill 0xFF " + test::Quote(hex));
  }

  // srec_cat's bytes of [first, first + size), gaps 0xFF. `input` is the
  // input format with its options, such as "-Intel" or "-Motorola 2".
  Bytes SrecCat(const std::filesystem::path& file, const std::string& input, std::uint64_t first,
                std::uint64_t size) {
    const std::string range = std::to_string(first) + " " + std::to_string(first + size);
    return Tool("srec_cat " + test::Quote(file) + " " + input + " -crop " + range + " -fill 0xFF " + range +
                " -offset -" + std::to_string(first) + " -o", " -Binary");
  }

  // What TN820HexFile reads from an FMF.
  static Bytes ReadFmf(const std::filesystem::path& fmf, std::uint32_t base, std::uint32_t end, std::uint32_t layout) {
    TN820HexFile f(fmf, base, end, layout);
    EXPECT_EQ(test::Load(f), 0);
    return f.ImageBytes();
  }

  std::filesystem::path dir_;
};

TEST_F(ExternalTools, IntelHexWithGapsAndEveryAcceptedRecordType) {
  // Segment and linear addressing go in separate files: tools disagree on
  // how the two bases combine when a file mixes them.
  Bytes big(255);
  for (unsigned i = 0; i < 255; ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  const auto noise = test::PseudoRandomBytes(600, 2);
  const auto part = [&](std::size_t at, std::size_t n) { return std::span(noise).subspan(at, n); };
  HexText segment("\r\n");
  segment.ExtendedSegment(0x1000).Data(0x0000, part(0, 16))    // base 0x10000
      .Data(0x0100, big)                                        // 255 bytes after a gap
      .StartSegment(0x1000, 0x0000)
      .ExtendedSegment(0x2000).Data(0x0010, part(16, 32))       // 0x20010
      .EndOfFile();
  HexText linear("\n");
  linear.ExtendedLinear(0x0001).Data(0x8000, part(100, 200))   // 0x18000
      .Data(0x8400, big)
      .ExtendedLinear(0x0002).Data(0x0000, part(300, 32))       // 0x20000
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
    ASSERT_EQ(test::Load(f), 0);
    EXPECT_EQ(Objcopy(path), f.ImageBytes());
    EXPECT_EQ(SrecCat(path, "-Intel", c.lo, c.hi - c.lo + 1), f.ImageBytes());
  }
}

TEST_F(ExternalTools, SRecordRegionsWithWordAddressing) {
  auto one = test::PseudoRandomBytes(0x1C000, 31);
  std::fill(one.begin() + 0x9000, one.begin() + 0xA800, 0xFF);
  SRecText t("\n");
  t.Raw("S00600004844521B");
  test::AppendSRecWords(t, 0, one, 64);
  constexpr std::uint64_t kRegionTwoAt = 0x4000000 + 0x80000;
  test::AppendSRecWords(t, kRegionTwoAt, test::PseudoRandomBytes(0x2000, 32), 32);
  const auto path = dir_ / "app.S";
  t.Record(7, 0).WriteTo(path);

  MotorolaSRecFile s(path, 0, 0x21FFF);
  ASSERT_EQ(test::LoadSRec(s, 0, 0x20000, 0), 0);
  const auto image = s.ImageBytes();
  const Bytes regionOne = test::Slice(image, 0, 0x20000), regionTwo = test::Slice(image, 0x20000, 0x2000);
  EXPECT_EQ(SrecCat(path, "-Motorola 2", 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(path, "-Motorola 2", kRegionTwoAt, 0x2000), regionTwo);

  // The FMF written from it: both tools and TN820HexFile see the same image.
  std::filesystem::path fmf;
  ASSERT_EQ(s.WriteFlashMemoryFile(dir_ / "app.FMF", 0, true, &fmf), 0);
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(fmf, "-Intel", 0x2001000, 0x2000), regionTwo);
  EXPECT_EQ(ReadFmf(fmf, 0, 0x21FFF, 2), image);
}

}  // namespace
}  // namespace tarnvale
