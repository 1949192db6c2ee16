// S-record loading, production flash memory files, their read-back and
// stream, and the build stamp.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <ctime>
#include <numeric>

#include "FormatsTestUtil.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/ProductionImage.h"
#include "core/formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::SRecText;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kAppEnd = 0x21FFF;
const Bytes kFour = {0x01, 0x02, 0x03, 0x04};
const std::string kSmallApp = SRecText().Record(1, 0, kFour).Record(9, 0).Text();

// S-record text loaded as the application image (regions at 0 and 0x20000).
std::unique_ptr<MotorolaSRecFile> App(const std::string& text, ResultCode expected = 0) {
  auto f = std::make_unique<MotorolaSRecFile>(test::WriteTemp("in.S", text), 0, kAppEnd);
  EXPECT_EQ(test::LoadSRec(*f, 0, 0x20000, 0), expected);
  return f;
}

TEST(SRecordReader, WordAddressesRegionsAndTheEndRecord) {
  std::string lower = test::SRecLine(1, 0x10, Bytes{0xAB, 0xCD});
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  lower[0] = 'S';
  SRecText t("\r\n");
  t.Raw("S00600004844521B")                                 // header: checked, then ignored
      .Record(1, 0x1000, kFour)                             // word 0x1000 -> byte 0x2000
      .Raw(lower)                                           // lower-case digits
      .Record(3, 0x2000000, Bytes{0xA0, 0xA1})              // the region-two anchor
      .Record(2, 0x008000, Bytes{0xC0, 0xC1})
      .Record(7, 0x00000200);
  const auto f = App(t.Text() + "\r\n\r\n");                // trailing line ends
  const auto image = f->ImageBytes();
  EXPECT_EQ(test::Slice(image, 0x2000, 4), kFour);
  EXPECT_EQ(test::Slice(image, 0x20, 2), (Bytes{0xAB, 0xCD}));
  EXPECT_EQ(test::Slice(image, 0x20000, 2), (Bytes{0xA0, 0xA1}));
  EXPECT_EQ(image[0x10000], 0xC0);
  EXPECT_EQ(f->StartAddress(), 0x400u) << "end record address, in bytes";
  EXPECT_EQ(std::count_if(image.begin(), image.end(), [](auto b) { return b != 0xFF; }), 10);
}

// Refused files: DamagedFilesTest. The build stamp and the sum as the
// conversion writes them: ProductionConversion below.
// ---- flash memory files written from images ------------------------------------------

std::filesystem::path WriteAppFmf(const std::string& srec, const std::filesystem::path& out, Bytes* image = nullptr) {
  const auto f = App(srec);
  if (image != nullptr) *image = f->ImageBytes();
  std::filesystem::path written;
  EXPECT_EQ(f->WriteFlashMemoryFile(out, 0, true, &written), 0);
  return written;
}

std::string AppSRecords(std::uint32_t seed, Bytes* regionOne = nullptr) {
  auto one = test::PseudoRandomBytes(0x1A000, seed);
  std::fill(one.begin() + 0x4000, one.begin() + 0x5000, 0xFF);  // a gap
  SRecText t;
  t.Raw("S00600004844521B");
  test::AppendSRecWords(t, 0, one);
  // Region two, anchored at its first record.
  test::AppendSRecWords(t, 0x4000000 + 0x100000, test::PseudoRandomBytes(0x1800, seed + 1));
  t.Record(7, 0);
  if (regionOne != nullptr) *regionOne = one;
  return t.Text();
}

Bytes ReadBack(const std::filesystem::path& fmf, std::uint32_t base, std::uint32_t end, std::uint32_t layout,
               std::vector<Packet>* stream = nullptr) {
  TN820HexFile back(fmf, base, end, layout);
  EXPECT_EQ(test::Load(back), 0);
  if (stream != nullptr) *stream = test::DrainStream(back);
  EXPECT_TRUE(stream == nullptr || back.GetRecordCount() == stream->size());
  return back.ImageBytes();
}

TEST(FlashMemoryFileWriter, AllBlankImageHoldsOnlySegmentLines) {
  const auto written = WriteAppFmf(SRecText().Record(1, 0, Bytes{0xFF, 0xFF}).Record(9, 0).Text(),
                                   test::MakeTempDir() / "blank.FMF");
  EXPECT_EQ(test::ReadFileBytes(written), ":020000040000FA\n:020000040001F9\n:020000040200F8\n:00000001FF\n");
}

// Any region-one words at any word address, with or without region two:
// the S-record reader places them where they were written, and the flash
// memory file written from the image reads back as the same image.
RC_GTEST_PROP(FlashMemoryFileWriter, AnyImageRoundTripsThroughTheReader, ()) {
  const auto words = [](std::size_t max) {
    Bytes b = *test::ImageBytesWithBlanks(max);
    if (b.size() % 2 != 0) b.push_back(0x5A);  // whole words
    return b;
  };
  const Bytes one = words(600);
  const auto at = *::rc::gen::inRange<std::uint32_t>(0, 0x1000) * 2;
  SRecText t;
  test::AppendSRecWords(t, at, one, *::rc::gen::element<std::size_t>(2, 16, 32), false);
  if (*::rc::gen::arbitrary<bool>()) test::AppendSRecWords(t, 0x4000000 + 0x100000, words(300));
  t.Record(7, 0);
  Bytes image;
  const auto written = WriteAppFmf(t.Text(), test::MakeTempDir() / "p.FMF", &image);
  RC_ASSERT(test::Slice(image, at, one.size()) == one);
  RC_ASSERT(ReadBack(written, 0, kAppEnd, 2) == image);
}

TEST(FlashMemoryFileWriter, OutputNameUsesTheFirstDotOfTheFileNameOnly) {
  const auto root = test::MakeTempDir();
  const auto dotted = root / "j.doe" / "tmp";
  std::filesystem::create_directories(dotted);
  EXPECT_EQ(WriteAppFmf(kSmallApp, dotted / "image.v2.hex"), dotted / "image.FMF");
  // Only the finished file is left in the folder (replacing one, through a link: FileAccessTest).
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dotted), {}), 1);
  // A folder that does not exist: 5.
  EXPECT_EQ(App(kSmallApp)->WriteFlashMemoryFile(root / "missing" / "x.FMF", 0, true), rc::kCantOpenOutput);
}

// ---- production stream ----------------------------------------------------------------

TEST(TN820Stream, LayoutTwoSendsRegionTwoUnderSegment0200) {
  SRecText t;
  t.Record(1, 0, kFour)
      .Record(3, 0x2000000, Bytes(16, 0xEE))
      .Record(3, 0x2000008, Bytes{0x5A, 0x5B})  // lands at 0x20010
      .Record(9, 0);
  std::vector<Packet> packets;
  ReadBack(WriteAppFmf(t.Text(), test::MakeTempDir() / "s.FMF"), 0, kAppEnd, 2, &packets);
  std::vector<std::string> hex;
  for (const auto& p : packets) hex.push_back(test::ToHex(p, 7));
  const std::vector<std::string> expected = {
      "3A020000040000",  // segment 0
      "3A200000000102",  // image 0: 01 02 03 04 ...
      "3A020000040001",  // segment 1, announced though blank
      "3A020000040200",  // image 0x20000 under 02 00
      "3A20200000EEEE",  // 0x20000 -> 0x2000
      "3A00000001FF"};
  ASSERT_EQ(hex, expected);
  // 0x20010 is inside the packet at 0x2000: its 17th data byte.
  EXPECT_EQ(packets[4][5 + 16], 0x5A);
}

// ---- build stamp and production conversion ------------------------------------------------

void SetLocalMTime(const std::filesystem::path& path, int year, int month, int day, int hour, int minute,
                   int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const auto sys = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(sys));
}

// The byte sum of an image without the four bytes of its sum at `slot`.
std::uint32_t ByteSumAround(const Bytes& image, std::size_t slot) {
  return std::accumulate(image.begin(), image.end(), 0u) -
         std::accumulate(image.begin() + slot, image.begin() + slot + 4, 0u);
}

TEST(BuildStampTest, LocalTimeOnATwelveHourClock) {
  const auto path = test::WriteTemp("f.S", "x");
  struct Case {
    int hour, expected;
  } cases[] = {{15, 3}, {0, 0}, {12, 12}};
  for (const Case& c : cases) {
    SetLocalMTime(path, 2023, 7, 14, c.hour, 4, 5);
    BuildStamp stamp;
    ASSERT_TRUE(ReadBuildStamp(path, stamp));
    EXPECT_EQ(stamp, (BuildStamp{c.expected, 4, 5, 7, 14, 2023})) << c.hour;
  }
}

TEST(ProductionConversion, ApplicationImageStampsModelAndSum) {
  Bytes one;
  const auto srec = test::WriteTemp("TN835.elf.S", AppSRecords(21, &one));
  SetLocalMTime(srec, 2024, 2, 29, 13, 30, 59);
  ProductionImageOptions options;
  options.kind = ProductionImageKind::Application;
  options.modelCode = "PR";
  std::string version;
  std::filesystem::path written;
  ASSERT_EQ(ConvertProductionImage(srec, test::MakeTempDir() / "TN835 Appl.FMF", options, version, &written), 0);
  // The version text at 0x210 is random here: a length byte above 15 counts as 15.
  EXPECT_EQ(version.size(), std::min<std::size_t>(one[0x210], 15));

  const auto image = ReadBack(written, 0, kAppEnd, 2);
  EXPECT_EQ(test::Slice(image, 0x220, 16), (Bytes{'P', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(test::ToHex(test::Slice(image, 0x1FFD4, 7)), "011E3B021DE807");
  EXPECT_EQ(test::Le32(image, 0x1FFDC), ByteSumAround(image, 0x1FFDC));
}

TEST(ProductionConversion, BootImageSerialRevisionVersionAndLayoutOneStream) {
  auto bytes = test::PseudoRandomBytes(0x2000, 4);
  bytes[0x1FE0] = 4;
  std::copy_n("B1.7", 4, bytes.begin() + 0x1FE1);
  SRecText t;
  test::AppendSRecWords(t, 0x40000, bytes);
  t.Record(8, 0x20000);
  ProductionImageOptions options;
  options.kind = ProductionImageKind::Boot;
  options.serialNumber = "ABCDEFGHIJKLMNO";  // 15 characters
  options.hardwareRevision = 'D';
  std::string version;
  std::filesystem::path written;
  ASSERT_EQ(ConvertProductionImage(test::WriteTemp("boot.S", t.Text()), test::MakeTempDir() / "TN835 Boot.FMF",
                                   options, version, &written), 0);
  EXPECT_EQ(version, "B1.7");
  std::vector<Packet> packets;
  const auto image = ReadBack(written, 0x40000, 0x41FFF, 1, &packets);
  EXPECT_EQ(std::string(image.begin() + 0x1FD0, image.begin() + 0x1FE0), "\x0F" "ABCDEFGHIJKLMNO");
  EXPECT_EQ(image[0x1FEF], 'D');
  EXPECT_EQ(test::Slice(image, 0, 0x1FD0), test::Slice(bytes, 0, 0x1FD0)) << "the rest as loaded";
  EXPECT_EQ(test::Le32(image, 0x1FFC), ByteSumAround(image, 0x1FFC)) << "the sum slot ends the boot image";
  // Layout 1: segment 4 announced once, then every 32 bytes from offset 0.
  ASSERT_EQ(packets.size(), 1 + 0x2000 / 32 + 1u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A020000040004F6");
  EXPECT_EQ(test::ToHex(packets[1], 4), "3A200000");
  EXPECT_EQ(test::ToHex(packets[2], 4), "3A200020");
}

// Files the conversion refuses: DamagedFilesTest.
TEST(ProductionConversion, TestImageHasNoModelCode) {
  ProductionImageOptions options;
  options.kind = ProductionImageKind::Test;
  std::string version;
  const auto out = test::MakeTempDir() / "o.FMF";
  std::filesystem::path written;
  ASSERT_EQ(ConvertProductionImage(test::WriteTemp("t.S", kSmallApp), out, options, version, &written), 0);
  const auto image = ReadBack(written, 0, kAppEnd, 2);
  EXPECT_EQ(test::Slice(image, 0, 4), kFour);
  EXPECT_EQ(test::Slice(image, 0x220, 16), Bytes(16, 0xFF)) << "the model code area is left as loaded";
  EXPECT_EQ(test::Le32(image, 0x1FFDC), ByteSumAround(image, 0x1FFDC)) << "but the sum is written";
}

}  // namespace
}  // namespace tarnvale
