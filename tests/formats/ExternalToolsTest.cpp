// Our readers and the flash memory file writer against two independent
// converters, objcopy (binutils) and srec_cat (srecord): the hand-written
// bytes of the other format tests share their author's reading of the
// formats; these tools do not.
#include <gtest/gtest.h>

#include <algorithm>

#include "FormatsTestUtil.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/TN820HexFile.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ExternalTools : public ::testing::Test {
 protected:
  // Runs the tool with `argv` (OUT standing for its output file); OUT's bytes.
  Bytes Tool(std::vector<std::string> argv) {
    const auto out = dir_ / "tool.bin";
    std::replace(argv.begin(), argv.end(), std::string("OUT"), out.string());
    const test::RunResult r = test::RunCommand(argv, dir_);
    EXPECT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    const std::string s = test::ReadFileBytes(out);
    return {s.begin(), s.end()};
  }
  // objcopy's binary: from the lowest data address to the end of the highest, gaps 0xFF.
  Bytes Objcopy(const std::filesystem::path& hex) {
    return Tool({"/usr/bin/objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", hex.string(), "OUT"});
  }
  // srec_cat's bytes of [first, first + size), gaps 0xFF; `input` names the format.
  Bytes SrecCat(const std::filesystem::path& file, std::vector<std::string> input, std::uint64_t first,
                std::uint64_t size) {
    const std::string from = std::to_string(first), to = std::to_string(first + size);
    std::vector<std::string> argv{"/usr/bin/srec_cat", file.string()};
    argv.insert(argv.end(), input.begin(), input.end());
    const std::vector<std::string> rest{"-crop",   from,      to,   "-fill", "0xFF",   from,
                                        to,        "-offset", "-" + from, "-o", "OUT", "-Binary"};
    argv.insert(argv.end(), rest.begin(), rest.end());
    return Tool(argv);
  }
  std::filesystem::path dir_ = test::MakeTempDir("tools");
};

TEST_F(ExternalTools, IntelHexWithGapsSegmentAndLinearBases) {
  // The two kinds of base go in separate files: tools disagree on how they
  // combine when a file mixes them.
  const auto noise = test::PseudoRandomBytes(600, 2);
  const auto part = [&](std::size_t at, std::size_t n) { return std::span(noise).subspan(at, n); };
  test::HexText segment("\r\n");
  segment.ExtendedSegment(0x1000).Data(0x0000, part(0, 16)).Data(0x0100, part(16, 255));
  segment.StartSegment(0x1000, 0).ExtendedSegment(0x2000).Data(0x0010, part(300, 32)).EndOfFile();
  test::HexText linear("\n");
  linear.ExtendedLinear(0x0001).Data(0x8000, part(100, 200)).Data(0x8400, part(0, 255));
  linear.ExtendedLinear(0x0002).Data(0x0000, part(300, 32)).StartLinear(0, 0, 1, 0).EndOfFile();
  const struct {
    const test::HexText& text;
    std::uint32_t lo, hi;
  } cases[] = {{segment, 0x10000, 0x2002F}, {linear, 0x18000, 0x2001F}};
  for (const auto& c : cases) {
    const auto path = dir_ / "gaps.hex";
    c.text.WriteTo(path);
    IntelHexFile f(path, c.lo, c.hi, 1, 2);
    ASSERT_EQ(test::Load(f), 0);
    EXPECT_EQ(Objcopy(path), f.ImageBytes());
    EXPECT_EQ(SrecCat(path, {"-Intel"}, c.lo, c.hi - c.lo + 1), f.ImageBytes());
  }
}

TEST_F(ExternalTools, SRecordRegionsAndTheFlashMemoryFileWrittenFromThem) {
  auto one = test::PseudoRandomBytes(0x1C000, 31);
  std::fill(one.begin() + 0x9000, one.begin() + 0xA800, 0xFF);
  test::SRecText t("\n");
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
  EXPECT_EQ(SrecCat(path, {"-Motorola", "2"}, 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(path, {"-Motorola", "2"}, kRegionTwoAt, 0x2000), regionTwo);

  std::filesystem::path fmf;
  ASSERT_EQ(s.WriteFlashMemoryFile(dir_ / "app.FMF", 0, true, &fmf), 0);
  EXPECT_EQ(SrecCat(fmf, {"-Intel"}, 0, 0x20000), regionOne);
  EXPECT_EQ(SrecCat(fmf, {"-Intel"}, 0x2001000, 0x2000), regionTwo);
  TN820HexFile back(fmf, 0, 0x21FFF, 2);
  ASSERT_EQ(test::Load(back), 0);
  EXPECT_EQ(back.ImageBytes(), image);
}

}  // namespace
}  // namespace tarnvale
