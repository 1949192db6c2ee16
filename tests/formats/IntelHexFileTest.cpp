// Intel HEX reading, ScanHexFile and the programming stream of the base class.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "FormatsTestUtil.h"
#include "core/formats/IntelHexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using Bytes = std::vector<std::uint8_t>;

ResultCode LoadText(const std::string& text, std::uint32_t base, std::uint32_t end,
                    std::uint8_t lanes = 1, Bytes* image = nullptr) {
  IntelHexFile f(test::WriteTemp("in.hex", text), base, end, 1, lanes);
  const ResultCode r = test::Load(f);
  if (image != nullptr) *image = f.ImageBytes();
  return r;
}

// ---- record reading ------------------------------------------------------------

// Line ends, record lengths and lanes for any bytes: RoundTripPropertiesTest;
// the start address packet of a load and its absence in a flash: the CLI's
// hex stream tests.
TEST(IntelHexRecords, AcceptedFilesLoadTheirBytes) {
  const std::string crlf = HexText("\r\n").ExtendedLinear(0x0001).Data(0x0010, {1, 2, 3, 4}).EndOfFile().Text();
  std::string lower = test::HexLine(0, 2, Bytes{0xAB, 0xCD}) + "\n:00000001ff";
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string segmentThenLinear = HexText()
      .ExtendedSegment(0x1000).Data(0x0010, {0x01})       // 0x10010
      .ExtendedLinear(0x0002).Data(0x0003, {0x02})        // 0x20003
      .StartSegment(0x1234, 0x5678).EndOfFile().Text();
  struct Case {
    const char* why;
    std::string text;
    std::uint32_t base, end;
    std::size_t at;
    Bytes expected;
  } cases[] = {
      {"blank lines", "\r\n\r\n  " + crlf + "\n\n\t \r\n", 0x10000, 0x1001F, 0x10, {1, 2, 3, 4, 0xFF}},
      {"after the end record", HexText().ExtendedLinear(0).EndOfFile().Data(4, {0x42}).Text(), 0, 0xF, 4, {0x42}},
      {"lower case", lower + "\n", 0, 7, 2, {0xAB, 0xCD}},
      {"segment base", segmentThenLinear, 0x10000, 0x2FFFF, 0x10, {0x01}},
      {"linear base", segmentThenLinear, 0x10000, 0x2FFFF, 0x10003, {0x02}},
  };
  for (const Case& c : cases) {
    Bytes image;
    ASSERT_EQ(LoadText(c.text, c.base, c.end, 1, &image), 0) << c.why;
    EXPECT_EQ(test::Slice(image, c.at, c.expected.size()), c.expected) << c.why;
  }
}

TEST(IntelHexRecords, AGoodFileLeavesNoFailureAndReopeningClearsOne) {
  const auto path = test::WriteTemp("in.hex", test::HexLine(0, 0, Bytes{1}) + "\n:zz\n");
  IntelHexFile f(path, 0, 0xFF, 1, 1);
  EXPECT_EQ(test::Load(f), rc::kInvalidHexFile);
  EXPECT_EQ(f.Failure().line, 2u);
  test::WriteFileBytes(path, test::HexLine(0, 0, Bytes{1}) + "\n:00000001FF\n");
  EXPECT_EQ(test::Load(f), rc::kFileOk);
  EXPECT_EQ(f.Failure().line, 0u);
  EXPECT_TRUE(f.Failure().reason.empty());
}

// ---- allocation and file handling ------------------------------------------------

TEST(IntelHexFileBasics, AllocationLimits) {
  const auto path = test::WriteTemp("a.hex", ":00000001FF\n");
  EXPECT_EQ(IntelHexFile(path, 0, 0xFF, 1, 3).AllocateImage(), rc::kLanesInvalid);
  EXPECT_EQ(IntelHexFile(path, 0, 0xFF, 1, 0).AllocateImage(), rc::kLanesInvalid);
  EXPECT_EQ(IntelHexFile(path, 0x03800000, 0x03FFFFFF, 1, 2).AllocateImage(), 0);
  EXPECT_EQ(IntelHexFile(path, 0x037FFFFF, 0x03FFFFFF, 1, 2).AllocateImage(), rc::kImageTooLarge);
  EXPECT_EQ(IntelHexFile(path, 0x100, 0xFF, 1, 1).AllocateImage(), rc::kImageTooLarge);
  EXPECT_EQ(IntelHexFile(path, 0, 0xFFFFFFFF, 1, 1).AllocateImage(), rc::kImageTooLarge);
}

// ---- ScanHexFile ------------------------------------------------------------------

// Modes 0 and 2 with and without a start address: the CLI's hex scan test.
TEST(ScanHexFile, SegmentAddressesGiveModeOne) {
  const std::string text = HexText().ExtendedSegment(0x2000).Data(0, {1})
                               .ExtendedSegment(0x1000).Data(0x10, {1, 2}).EndOfFile().Text();
  HexScan s;
  ASSERT_EQ(ScanHexFile(test::WriteTemp("m.hex", text), s), 0);
  EXPECT_EQ(s.mode, 1);
  EXPECT_EQ(s.lowest, 0x10000u);
  EXPECT_EQ(s.highest, 0x20000u + 0x12 - 1) << "base + end of the last data record - 1";
  EXPECT_EQ(s.start, std::nullopt);
}

// Damaged files and files without data: DamagedFilesTest. Data at the very
// top of the address space never wraps to a highest address below the
// lowest (a file that cannot be opened: the CLI's hex scan refusals).
TEST(ScanHexFile, WrappingDataIsAnErrorAndTheTopIsTaken) {
  HexScan s;
  s.lowest = 7;
  const auto text = [](std::uint16_t at) {
    return HexText().ExtendedLinear(0xFFFF).Data(at, Bytes(32, 1)).EndOfFile().Text();
  };
  EXPECT_EQ(ScanHexFile(test::WriteTemp("wrap.hex", text(0xFFF0)), s), rc::kErrorInHexFile);
  EXPECT_EQ(s.lowest, 7u);
  EXPECT_FALSE(s.failure.reason.empty());
  ASSERT_EQ(ScanHexFile(test::WriteTemp("top.hex", text(0xFFE0)), s), rc::kFileOk);
  EXPECT_EQ(s.lowest, 0xFFFF0000u);
  EXPECT_EQ(s.highest, 0xFFFFFFFFu);
}

// ---- the programming stream ----------------------------------------------------------

// A gen-3 sized image with data scattered over several segments, 1, 2 and 4
// lanes: the packets rebuild it, never cross a segment and are never empty
// or all blank (blank steps are walked past); the count the progress is
// given is the count sent. (The packets' bytes: the CLI's hex stream tests.)
TEST(IntelHexStream, RecordCountMatchesPacketsAndPacketsNeverCrossSegments) {
  for (std::uint8_t lanes : {1, 2, 4}) {
    Bytes image(0x30000, 0xFF);
    const auto noise = test::PseudoRandomBytes(image.size(), lanes);
    for (std::size_t i = 0; i < image.size(); ++i) {
      if ((i / 700) % 3 == 0 || (i >= 0xFFE0 && i < 0x10030)) image[i] = noise[i];
    }
    const auto path = test::MakeTempDir() / "cnt.hex";
    test::WriteHexImage(path, 0x00050000, image, {.recordSize = 16, .eol = "\n"});
    IntelHexFile f(path, 0x00050000, 0x0007FFFF, 1, lanes);
    ASSERT_EQ(test::Load(f), 0);
    const auto packets = test::DrainStream(f, true);
    EXPECT_EQ(f.GetRecordCount(), packets.size()) << "lanes " << int{lanes};
    // Rebuild the image from the packets: proves addresses and lane order.
    Bytes rebuilt(image.size(), 0xFF);
    std::uint32_t segment = 0;
    for (const auto& p : packets) {
      ASSERT_GE(p.size(), 6u);
      ASSERT_EQ(p.size(), p[1] + 6u);
      ASSERT_EQ(PacketChecksum(p.data() + 1, p.size() - 2), p.back());
      if (p[4] == 0x04) {
        segment = (p[5] << 24) | (p[6] << 16);
      } else if (p[4] == 0x00) {
        const std::uint32_t address = segment | (p[2] << 8) | p[3];
        ASSERT_LE((address & 0xFFFF) + p[1], 0x10000u) << "packet crosses a segment";
        ASSERT_TRUE(std::any_of(p.begin() + 5, p.end() - 1, [](std::uint8_t b) { return b != 0xFF; }));
        std::copy_n(p.begin() + 5, p[1], rebuilt.begin() + (address - 0x50000));
      }
    }
    EXPECT_EQ(rebuilt, image) << "lanes " << int{lanes};
  }
}

TEST(IntelHexStream, OddSizeWithTwoLanesKeepsTheLastByte) {
  IntelHexFile f(test::WriteTemp("odd.hex", HexText().ExtendedLinear(0).Data(0x0004, {0x77}).EndOfFile().Text()), 0, 4, 1, 2);
  ASSERT_EQ(test::Load(f), 0);
  const auto packets = test::DrainStream(f);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[1], BuildPacket(6, 0, 0, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x77, 0xFF}));
}

}  // namespace
}  // namespace tarnvale
