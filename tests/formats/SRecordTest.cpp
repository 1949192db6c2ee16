// S-record loading, production flash memory files, their read-back and
// stream, and the build stamp.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include "FormatsTestUtil.h"
#include "formats/MotorolaSRecFile.h"
#include "formats/ProductionImage.h"
#include "formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::SRecText;

constexpr std::uint32_t kAppEnd = 0x21FFF;

// Loads S-record text as the application image (regions at 0 and 0x20000).
ResultCode LoadApp(const std::string& text, std::vector<std::uint8_t>* image = nullptr,
                   std::uint32_t* start = nullptr) {
  MotorolaSRecFile f(test::WriteTemp("in.S", text), 0, kAppEnd);
  ResultCode r = f.OpenFile();
  if (r == 0) r = f.AllocateImage();
  if (r == 0) r = f.LoadSRecords(0, 0x20000, 0);
  if (image != nullptr) *image = f.ImageBytes();
  if (start != nullptr) *start = f.StartAddress();
  return r;
}

const std::vector<std::uint8_t> kFour = {0x01, 0x02, 0x03, 0x04};

TEST(SRecordReader, HeaderRecordIsCheckedThenIgnored) {
  SRecText ok;
  ok.Raw("S00600004844521B").Record(1, 0x0010, kFour).Record(9, 0x0000);
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadApp(ok.Text(), &image), 0);
  EXPECT_EQ(image[0x20], 0x01);

  SRecText bad;
  bad.Raw("S00600004844521C").Record(1, 0x0010, kFour).Record(9, 0x0000);
  EXPECT_EQ(LoadApp(bad.Text()), rc::kErrorInHexFile);
}

TEST(SRecordReader, WordAddressesAndRegions) {
  SRecText t("\n");
  t.Record(1, 0x1000, kFour)                               // word 0x1000 -> byte 0x2000
      .Record(3, 0x2000000, std::vector<std::uint8_t>{0xA0, 0xA1})  // the region-two anchor
      .Record(3, 0x2000008, std::vector<std::uint8_t>{0xB0, 0xB1})  // 8 words higher
      .Record(2, 0x008000, std::vector<std::uint8_t>{0xC0, 0xC1})
      .Record(7, 0x00000200);
  std::vector<std::uint8_t> image;
  std::uint32_t start = 0;
  ASSERT_EQ(LoadApp(t.Text(), &image, &start), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 0x2000, image.begin() + 0x2004), kFour);
  EXPECT_EQ(image[0x20000], 0xA0);
  EXPECT_EQ(image[0x20001], 0xA1);
  EXPECT_EQ(image[0x20010], 0xB0);
  EXPECT_EQ(image[0x10000], 0xC0);
  EXPECT_EQ(start, 0x400u) << "end record address, in bytes";
  EXPECT_EQ(std::count_if(image.begin(), image.end(), [](auto b) { return b != 0xFF; }), 10);
}

TEST(SRecordReader, BootImageDisplacement) {
  SRecText t;
  t.Record(2, 0x20000 + 0x10, kFour).Record(8, 0x20000);  // byte 0x40020
  MotorolaSRecFile f(test::WriteTemp("boot.S", t.Text()), 0x40000, 0x41FFF);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  ASSERT_EQ(f.LoadSRecords(0, 0, 0x40000), 0);
  EXPECT_EQ(f.ImageBytesAt(0x20)[0], 0x01);
  EXPECT_EQ(f.ImageBytesAt(0x20).size(), 0x2000u - 0x20);
  EXPECT_TRUE(f.ImageBytesAt(0x2000).empty());
}

TEST(SRecordReader, RejectedFiles) {
  const std::string data1 = test::SRecLine(1, 0x10, kFour);
  const std::string end = test::SRecLine(9, 0);
  struct Case {
    std::string text;
    ResultCode expected;
    const char* why;
  } cases[] = {
      {test::SRecLine(2, 0x10, std::vector<std::uint8_t>{1, 2, 3}) + "\n" + end, 9, "odd data count"},
      {data1 + "\n" + test::SRecLine(5, 1) + "\n" + end, 9, "S5 count record"},
      {data1 + "\n" + test::SRecLine(4, 1) + "\n" + end, 9, "S4"},
      {data1 + "\n", 9, "no end record"},
      {test::SRecLine(3, 0x2000000, kFour) + "\n" + end, 9, "region two only"},
      {test::SRecLine(3, 0x1001000, kFour) + "\n" + end, 9, "beyond region one"},
      {"X1070010010203046E\n" + end, 8, "not an S-record"},
      {"S102AABB\n" + end, 8, "count below 3"},
      {"S3030000FC\n" + end, 8, "count smaller than the address"},
      {"S1FF0010" + std::string(8, '0') + "\n" + end, 8, "count beyond the token"},
      {"S10700100G0203046E\n" + end, 8, "not hex"},
      {"S" + std::string(3000, '1') + "\n" + end, 8, "overlong token"},
      {data1.substr(0, data1.size() - 2) + "00\n" + end, 9, "checksum"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadApp(c.text), c.expected) << c.why;
}

TEST(SRecordReader, LowerCaseAndTrailingLineEnds) {
  std::string line = test::SRecLine(1, 0x10, std::vector<std::uint8_t>{0xAB, 0xCD});
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  line[0] = 'S';
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadApp(line + "\r\n" + test::SRecLine(9, 0) + "\r\n\r\n\r\n", &image), 0);
  EXPECT_EQ(image[0x20], 0xAB);
}

TEST(SRecordImageEdits, StampSumAndBounds) {
  SRecText t;
  t.Record(1, 0, kFour).Record(9, 0);
  MotorolaSRecFile f(test::WriteTemp("e.S", t.Text()), 0x100, 0x10F);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  BuildStamp stamp{3, 4, 5, 7, 14, 2023};
  ASSERT_TRUE(f.WriteBuildStamp(stamp, 0));
  EXPECT_EQ(test::ToHex(Packet(f.ImageBytesAt(0).begin(), f.ImageBytesAt(0).begin() + 7)), "030405070EE707");
  ASSERT_TRUE(f.WriteImageSum(8));
  const std::uint32_t expected = 3 + 4 + 5 + 7 + 14 + 0xE7 + 0x07 + 0xFF + 4 * 0xFF;
  const auto bytes = f.ImageBytesAt(8);
  EXPECT_EQ(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24), static_cast<int>(expected));
  // Edits that reach past the image write what fits and say so.
  EXPECT_FALSE(f.WriteImageSum(14));
  EXPECT_FALSE(f.WriteBuildStamp(stamp, 0x20));
  const std::uint8_t two[2] = {0x11, 0x22};
  EXPECT_FALSE(f.WriteImageBytes(two, 2, 15));
  EXPECT_EQ(f.ImageBytesAt(15)[0], 0x11);
}

// ---- flash memory files written from images ------------------------------------------

std::filesystem::path WriteAppFmf(const std::string& srec, const std::filesystem::path& out,
                                  std::vector<std::uint8_t>* image = nullptr) {
  MotorolaSRecFile f(test::WriteTemp("app.S", srec), 0, kAppEnd);
  EXPECT_EQ(f.OpenFile(), 0);
  EXPECT_EQ(f.AllocateImage(), 0);
  EXPECT_EQ(f.LoadSRecords(0, 0x20000, 0), 0);
  if (image != nullptr) *image = f.ImageBytes();
  std::filesystem::path written;
  EXPECT_EQ(f.WriteFlashMemoryFile(out, 0, true, &written), 0);
  return written;
}

std::string AppSRecords(std::uint32_t seed, std::vector<std::uint8_t>* regionOne = nullptr,
                        std::vector<std::uint8_t>* regionTwo = nullptr) {
  auto one = test::PseudoRandomBytes(0x1A000, seed);
  auto two = test::PseudoRandomBytes(0x1800, seed + 1);
  for (std::size_t i = 0x4000; i < 0x5000; ++i) one[i] = 0xFF;  // a gap
  SRecText t;
  t.Raw("S00600004844521B");
  test::AppendSRecWords(t, 0, one);
  test::AppendSRecWords(t, 0x4000000 + 0x100000, two);  // region two, anchored at its first record
  t.Record(7, 0);
  if (regionOne != nullptr) *regionOne = one;
  if (regionTwo != nullptr) *regionTwo = two;
  return t.Text();
}

TEST(FlashMemoryFileWriter, AllBlankImageHoldsOnlySegmentLines) {
  SRecText t;
  t.Record(1, 0, std::vector<std::uint8_t>{0xFF, 0xFF}).Record(9, 0);
  const auto dir = test::MakeTempDir();
  const auto written = WriteAppFmf(t.Text(), dir / "blank.FMF");
  EXPECT_EQ(test::ReadFileBytes(written),
            ":020000040000FA\n:020000040001F9\n:020000040200F8\n:00000001FF\n");
}

TEST(FlashMemoryFileWriter, RelocatedApplicationRoundTripsThroughTheReader) {
  const auto dir = test::MakeTempDir();
  std::vector<std::uint8_t> image;
  const auto written = WriteAppFmf(AppSRecords(5), dir / "TN835 Appl.FMF", &image);
  EXPECT_EQ(written, dir / "TN835 Appl.FMF");

  const std::string text = test::ReadFileBytes(written);
  EXPECT_NE(text.find(":020000040200F8\n:20100000"), std::string::npos)
      << "region two in segment 0x0200 from offset 0x1000";

  TN820HexFile back(written, 0, kAppEnd, 2);
  ASSERT_EQ(back.OpenFile(), 0);
  ASSERT_EQ(back.AllocateImage(), 0);
  ASSERT_EQ(back.LoadFile(), 0);
  EXPECT_EQ(back.ImageBytes(), image);
}

TEST(FlashMemoryFileWriter, OutputNameUsesTheFirstDotOfTheFileNameOnly) {
  const auto root = test::MakeTempDir();
  const auto dotted = root / "j.doe" / "tmp";
  std::filesystem::create_directories(dotted);
  SRecText t;
  t.Record(1, 0, kFour).Record(9, 0);
  EXPECT_EQ(WriteAppFmf(t.Text(), dotted / "image.v2.hex"), dotted / "image.FMF");
  EXPECT_EQ(WriteAppFmf(t.Text(), dotted / "noext"), dotted / "noext.FMF");
  EXPECT_FALSE(std::filesystem::exists(root / "j.FMF"));
  // Only the finished file is left in the folder.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dotted)) ++entries;
  EXPECT_EQ(entries, 2u);
  // An existing file of the same name is replaced.
  test::WriteFileBytes(dotted / "old.FMF", "stale");
  const auto again = WriteAppFmf(t.Text(), dotted / "old.FMF");
  EXPECT_NE(test::ReadFileBytes(again), "stale");
}

TEST(FlashMemoryFileWriter, CannotCreateGives5) {
  SRecText t;
  t.Record(1, 0, kFour).Record(9, 0);
  MotorolaSRecFile f(test::WriteTemp("a.S", t.Text()), 0, kAppEnd);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  ASSERT_EQ(f.LoadSRecords(0, 0x20000, 0), 0);
  EXPECT_EQ(f.WriteFlashMemoryFile(test::MakeTempDir() / "missing" / "x.FMF", 0, true),
            rc::kCantOpenOutput);
}

TEST(FlashMemoryFileWriter, FailedWriteGives6AndLeavesNoFile) {
  // A child process with a file size limit: writes beyond it fail (EFBIG).
  const auto dir = test::MakeTempDir();
  const auto srec = test::WriteTemp("big.S", AppSRecords(8));
  const auto target = dir / "out.FMF";
  test::WriteFileBytes(target, "previous");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    MotorolaSRecFile f(srec, 0, kAppEnd);
    if (f.OpenFile() != 0 || f.AllocateImage() != 0 || f.LoadSRecords(0, 0x20000, 0) != 0) _exit(100);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    _exit(f.WriteFlashMemoryFile(target, 0, true));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), rc::kCantWriteOutput);
  EXPECT_EQ(test::ReadFileBytes(target), "previous") << "the old file is untouched";
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file left behind";
}

// ---- production stream ----------------------------------------------------------------

TEST(TN820Stream, LayoutTwoSendsRegionTwoUnderSegment0200) {
  SRecText t;
  t.Record(1, 0, kFour)
      .Record(3, 0x2000000, std::vector<std::uint8_t>(16, 0xEE))
      .Record(3, 0x2000008, std::vector<std::uint8_t>{0x5A, 0x5B})  // lands at 0x20010
      .Record(9, 0);
  const auto fmf = WriteAppFmf(t.Text(), test::MakeTempDir() / "s.FMF");
  TN820HexFile f(fmf, 0, kAppEnd, 2);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  ASSERT_EQ(f.LoadFile(), 0);
  const auto packets = test::NonEmpty(test::DrainStream(f));
  EXPECT_EQ(f.GetRecordCount(), packets.size());
  std::vector<std::string> hex;
  for (const auto& p : packets) hex.push_back(test::ToHex(p).substr(0, 14));
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

TEST(TN820Stream, LayoutOneAnnouncesSegmentFourAndReadsBootFmf) {
  SRecText t;
  auto bytes = test::PseudoRandomBytes(0x2000, 11);
  test::AppendSRecWords(t, 0x40000, bytes);
  t.Record(8, 0x20000);
  MotorolaSRecFile s(test::WriteTemp("b.S", t.Text()), 0x40000, 0x41FFF);
  ASSERT_EQ(s.OpenFile(), 0);
  ASSERT_EQ(s.AllocateImage(), 0);
  ASSERT_EQ(s.LoadSRecords(0, 0, 0x40000), 0);
  std::filesystem::path written;
  ASSERT_EQ(s.WriteFlashMemoryFile(test::MakeTempDir() / "TN835 Boot.FMF", 0x40000, false, &written), 0);
  EXPECT_EQ(test::ReadFileBytes(written).substr(0, 16), ":020000040004F6\n");

  TN820HexFile f(written, 0x40000, 0x41FFF, 1);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  ASSERT_EQ(f.LoadFile(), 0);
  EXPECT_EQ(f.ImageBytes(), bytes);
  const auto packets = test::NonEmpty(test::DrainStream(f));
  EXPECT_EQ(test::ToHex(packets[0]), "3A020000040004F6");
  EXPECT_EQ(packets.size(), 1 + 0x2000 / 32 + 1u);
  EXPECT_EQ(packets[1][2], 0x00);
  EXPECT_EQ(packets[2][3], 0x20);
}

TEST(TN820Stream, RecordTypesAboveFourAndBadRecordsFail) {
  TN820HexFile f(test::WriteTemp("x.FMF", test::HexLine(5, 0, kFour) + "\n"), 0, kAppEnd, 2);
  ASSERT_EQ(f.OpenFile(), 0);
  ASSERT_EQ(f.AllocateImage(), 0);
  EXPECT_EQ(f.LoadFile(), rc::kErrorInHexFile);
  TN820HexFile g(test::WriteTemp("y.FMF", "junk\n"), 0, kAppEnd, 2);
  ASSERT_EQ(g.OpenFile(), 0);
  EXPECT_EQ(g.LoadFile(), rc::kInvalidHexFile);
}

// ---- build stamp and production conversion ------------------------------------------------

void SetLocalMTime(const std::filesystem::path& path, int year, int month, int day, int hour,
                   int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  const auto sys = std::chrono::system_clock::from_time_t(t);
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(sys));
}

TEST(BuildStampTest, LocalTimeOnATwelveHourClock) {
  const auto path = test::WriteTemp("f.S", "x");
  struct Case {
    int hour, expected;
  } cases[] = {{15, 3}, {0, 0}, {12, 12}, {23, 11}, {9, 9}};
  for (const Case& c : cases) {
    SetLocalMTime(path, 2023, 7, 14, c.hour, 4, 5);
    BuildStamp stamp;
    ASSERT_TRUE(ReadBuildStamp(path, stamp));
    EXPECT_EQ(stamp, (BuildStamp{c.expected, 4, 5, 7, 14, 2023})) << c.hour;
  }
  BuildStamp missing{1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(ReadBuildStamp(test::MakeTempDir() / "none", missing));
  EXPECT_EQ(missing, BuildStamp{});
}

TEST(ProductionConversion, ApplicationImageStampsModelAndSum) {
  std::vector<std::uint8_t> one;
  std::string text = AppSRecords(21, &one);
  // Version text at 0x210: "5.02" ("a length byte above 15 counts as 15" is checked below).
  const auto srec = test::WriteTemp("TN835.elf.S", text);
  SetLocalMTime(srec, 2024, 2, 29, 13, 30, 59);
  ProductionImageOptions options;
  options.kind = ProductionImageKind::Application;
  options.modelCode = "PR";
  std::string version;
  std::filesystem::path written;
  const auto dir = test::MakeTempDir();
  ASSERT_EQ(ConvertProductionImage(srec, dir / "TN835 Appl.FMF", options, version, &written), 0);
  EXPECT_EQ(version.size(), std::min<std::size_t>(one[0x210], 15));

  TN820HexFile back(written, 0, kAppEnd, 2);
  ASSERT_EQ(back.OpenFile(), 0);
  ASSERT_EQ(back.LoadFile(), 0);
  const auto image = back.ImageBytes();
  EXPECT_EQ(image[0x220], 'P');
  EXPECT_EQ(image[0x221], 'R');
  EXPECT_TRUE(std::all_of(image.begin() + 0x222, image.begin() + 0x230, [](auto b) { return b == 0; }));
  EXPECT_EQ(test::ToHex(Packet(image.begin() + 0x1FFD4, image.begin() + 0x1FFDB)), "011E3B021DE807");
  std::uint32_t sum = 0;
  for (std::size_t o = 0; o < image.size(); ++o) {
    if (o < 0x1FFDC || o >= 0x1FFE0) sum += image[o];
  }
  EXPECT_EQ(image[0x1FFDC] | (image[0x1FFDD] << 8) | (image[0x1FFDE] << 16) |
                (std::uint32_t{image[0x1FFDF]} << 24),
            sum);
}

TEST(ProductionConversion, BootImageSerialRevisionAndVersion) {
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
                                   options, version, &written),
            0);
  EXPECT_EQ(version, "B1.7");
  TN820HexFile back(written, 0x40000, 0x41FFF, 1);
  ASSERT_EQ(back.OpenFile(), 0);
  ASSERT_EQ(back.LoadFile(), 0);
  const auto image = back.ImageBytes();
  EXPECT_EQ(image[0x1FD0], 15);
  EXPECT_EQ(std::string(image.begin() + 0x1FD1, image.begin() + 0x1FE0), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(image[0x1FEF], 'D');
  std::uint32_t sum = 0;
  for (std::size_t o = 0; o < 0x1FFC; ++o) sum += image[o];
  EXPECT_EQ(image[0x1FFC] | (image[0x1FFD] << 8) | (image[0x1FFE] << 16) | (std::uint32_t{image[0x1FFF]} << 24),
            sum);
}

TEST(ProductionConversion, FailuresPassTheirCodes) {
  ProductionImageOptions options;
  std::string version;
  EXPECT_EQ(ConvertProductionImage(test::MakeTempDir() / "none.S", test::MakeTempDir() / "o.FMF", options, version),
            rc::kCantOpenInput);
  EXPECT_EQ(ConvertProductionImage(test::WriteTemp("bad.S", "S9"), test::MakeTempDir() / "o.FMF", options, version),
            rc::kInvalidHexFile);
}

}  // namespace
}  // namespace tarnvale
