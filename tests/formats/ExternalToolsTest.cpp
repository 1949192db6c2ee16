// Our S-record reader and flash memory file writer against an independent
// converter, srec_cat (srecord), on generated files. (Intel HEX placement by
// segment and linear bases and any record length: IntelHexFileTest and
// RoundTripPropertiesTest.)
#include <gtest/gtest.h>

#include "FormatsTestUtil.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::SRecText;
using Bytes = std::vector<std::uint8_t>;

class ExternalTools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::RunCommand("command -v srec_cat") != 0) {
      GTEST_SKIP() << "srec_cat (srecord) is needed on PATH for these checks";
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
