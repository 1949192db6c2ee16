// Intel HEX reading, ScanHexFile and the programming stream of the base class.
#include <gtest/gtest.h>

#include <numeric>

#include "FormatsTestUtil.h"
#include "formats/IntelHexFile.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;

// Opens, allocates and loads; returns the first nonzero code.
ResultCode Load(IntelHexFile& f) {
  ResultCode r = f.OpenFile();
  if (r == 0) r = f.AllocateImage();
  if (r == 0) r = f.LoadFile();
  return r;
}

ResultCode LoadText(const std::string& text, std::uint32_t base, std::uint32_t end,
                    std::uint8_t lanes = 1, std::vector<std::uint8_t>* image = nullptr) {
  IntelHexFile f(test::WriteTemp("in.hex", text), base, end, 1, lanes);
  const ResultCode r = Load(f);
  if (image != nullptr) *image = f.ImageBytes();
  return r;
}

// ---- record reading ------------------------------------------------------------

TEST(IntelHexRecords, LineEndsAndBlankLinesDoNotMatter) {
  const std::uint8_t data[] = {1, 2, 3, 4};
  HexText lf("\n"), crlf("\r\n");
  for (HexText* t : {&lf, &crlf}) t->ExtendedLinear(0x0001).Data(0x0010, data).EndOfFile();
  const std::string spaced = "\r\n\r\n  " + crlf.Text() + "\n\n\t \r\n";
  std::vector<std::uint8_t> a, b, c;
  ASSERT_EQ(LoadText(lf.Text(), 0x10000, 0x1001F, 1, &a), 0);
  ASSERT_EQ(LoadText(crlf.Text(), 0x10000, 0x1001F, 1, &b), 0);
  ASSERT_EQ(LoadText(spaced, 0x10000, 0x1001F, 1, &c), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_EQ(a[0x10], 1);
  EXPECT_EQ(a[0x13], 4);
  EXPECT_EQ(a[0x14], 0xFF);
}

TEST(IntelHexRecords, TrailingLineEndNeitherFailsNorRepeatsTheLastRecord) {
  HexText t("\r\n");
  t.ExtendedLinear(0).Data(0x0000, {0xAA}).EndOfFile();
  for (const std::string tail : {"", "\r\n", "\r\n\r\n", "\n\n\n   "}) {
    IntelHexFile f(test::WriteTemp("t.hex", t.Text() + tail), 0, 0x1F, 1, 1);
    ASSERT_EQ(Load(f), 0) << "tail of " << tail.size();
    EXPECT_TRUE(f.AtEndOfFile());
    EXPECT_EQ(f.ReadRecord(), rc::kInvalidHexFile) << "nothing left to read";
  }
}

TEST(IntelHexRecords, RecordAfterEndOfFileRecordIsStillRead) {
  HexText t;
  t.ExtendedLinear(0).EndOfFile().Data(0x0004, {0x42});
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadText(t.Text(), 0, 0xF, 1, &image), 0);
  EXPECT_EQ(image[4], 0x42);
}

TEST(IntelHexRecords, RecordsOf255BytesAreAccepted) {
  std::vector<std::uint8_t> data(255);
  std::iota(data.begin(), data.end(), std::uint8_t{0});
  HexText t;
  t.ExtendedLinear(0).Data(0x0100, data).EndOfFile();
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadText(t.Text(), 0, 0x2FF, 1, &image), 0);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 0x100));
}

TEST(IntelHexRecords, LowerCaseDigitsRead) {
  std::string line = test::HexLine(0, 2, std::vector<std::uint8_t>{0xAB, 0xCD});
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadText(line + "\n", 0, 7, 1, &image), 0);
  EXPECT_EQ(image[2], 0xAB);
  EXPECT_EQ(image[3], 0xCD);
}

TEST(IntelHexRecords, MalformedRecordsGive8AndBadSumsOrTypesGive9) {
  const std::string good = test::HexLine(0, 0, std::vector<std::uint8_t>{1, 2, 3, 4});
  struct Case {
    std::string text;
    ResultCode expected;
  } cases[] = {
      {"1004000000\n", rc::kInvalidHexFile},                    // no ':'
      {":\n", rc::kInvalidHexFile},                             // nothing after ':'
      {":0400000001\n", rc::kInvalidHexFile},                   // count says 4, none there
      {good.substr(0, good.size() - 2) + "\n", rc::kInvalidHexFile},  // checksum missing
      {":FF000000" + std::string(20, '0') + "\n", rc::kInvalidHexFile},  // count far beyond the line
      {":02000000ZZ0000\n", rc::kInvalidHexFile},               // not hex
      {":" + std::string(5000, 'A') + "\n", rc::kInvalidHexFile},  // longer than any record
      {":" + std::string(600000, '0') + "\n", rc::kInvalidHexFile},  // longer than a read block
      {good.substr(0, good.size() - 2) + "00\n", rc::kErrorInHexFile},  // wrong checksum
      {test::HexLine(6, 0) + "\n", rc::kErrorInHexFile},         // unknown type
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadText(c.text, 0, 0xFF), c.expected) << c.text.substr(0, 40);
  }
}

TEST(IntelHexRecords, CountLargerThanATokenNeverReadsTheNextLine) {
  // The count claims 8 bytes; the line holds 2. The next line would supply
  // enough characters if the reader ran on into it.
  const std::string text = ":0800000001020B\n" + test::HexLine(0, 0, std::vector<std::uint8_t>(8, 0x11)) + "\n";
  EXPECT_EQ(LoadText(text, 0, 0xFF), rc::kInvalidHexFile);
}

TEST(IntelHexRecords, ExtendedSegmentAndLinearBases) {
  HexText t;
  t.ExtendedSegment(0x1000).Data(0x0010, {0x01})     // 0x10010
      .ExtendedLinear(0x0002).Data(0x0003, {0x02})     // 0x20003
      .StartSegment(0x1234, 0x5678);
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadText(t.Text(), 0x10000, 0x2FFFF, 1, &image), 0);
  EXPECT_EQ(image[0x10], 0x01);
  EXPECT_EQ(image[0x10003], 0x02);
}

TEST(IntelHexRecords, DataOutsideTheImageIsDroppedAtBothEnds) {
  HexText t;
  const std::vector<std::uint8_t> bytes(8, 0x5A);
  t.ExtendedLinear(0).Data(0x00FC, bytes).Data(0x01FC, bytes).ExtendedLinear(0xFFFF).Data(0xFFFC, bytes);
  std::vector<std::uint8_t> image;
  ASSERT_EQ(LoadText(t.Text(), 0x100, 0x1FF, 1, &image), 0);
  ASSERT_EQ(image.size(), 0x100u);
  for (std::size_t i = 0; i < 0x100; ++i) {
    const bool written = i < 4 || i >= 0xFC;
    EXPECT_EQ(image[i], written ? 0x5A : 0xFF) << i;
  }
}

TEST(IntelHexRecords, LoadedLanesInterleave) {
  HexText t;
  t.ExtendedLinear(0).Data(0, {0, 1, 2, 3, 4, 5, 6, 7});
  for (std::uint8_t lanes : {1, 2, 4}) {
    IntelHexFile f(test::WriteTemp("l.hex", t.Text()), 0, 15, 1, lanes);
    ASSERT_EQ(Load(f), 0);
    const auto image = f.ImageBytes();
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(image[i], i) << "lanes " << int{lanes};
  }
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

TEST(IntelHexFileBasics, OpenCloseAndMessages) {
  test::RecordingOperator op;
  IntelHexFile missing(test::MakeTempDir() / "absent.hex", 0, 0xFF, 1, 1);
  EXPECT_EQ(missing.OpenFile(), rc::kCantOpenInput);
  EXPECT_EQ(missing.CloseFile(), rc::kFileNotOpen);

  IntelHexFile f(test::WriteTemp("c.hex", ":00000001FF\n"), 0, 0xFF, 1, 1);
  f.SetOperator(&op);
  EXPECT_EQ(f.LoadFile(), rc::kFileNotOpen) << "loading before opening";
  ASSERT_EQ(f.OpenFile(), 0);
  EXPECT_EQ(f.CloseFile(), 0);
  EXPECT_EQ(f.CloseFile(), rc::kFileNotOpen);
  EXPECT_TRUE(op.messages.empty());
}

// ---- ScanHexFile ------------------------------------------------------------------

TEST(ScanHexFile, ModesLowestHighestAndStart) {
  {
    HexText t;
    t.Data(0x0100, {1, 2, 3, 4}).Data(0x0200, {5, 6}).EndOfFile();
    HexScan s;
    ASSERT_EQ(ScanHexFile(test::WriteTemp("m0.hex", t.Text()), s), 0);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.lowest, 0xFFFFFFFFu);
    EXPECT_EQ(s.highest, 0x201u);  // base 0 + end of the last data record - 1
    EXPECT_FALSE(s.start);
  }
  {
    HexText t;
    t.ExtendedSegment(0x2000).Data(0, {1}).ExtendedSegment(0x1000).Data(0x10, {1, 2});
    HexScan s;
    ASSERT_EQ(ScanHexFile(test::WriteTemp("m1.hex", t.Text()), s), 0);
    EXPECT_EQ(s.mode, 1);
    EXPECT_EQ(s.lowest, 0x10000u);
    EXPECT_EQ(s.highest, 0x20000u + 0x12 - 1);
  }
  {
    HexText t;
    t.ExtendedLinear(0x0380).Data(0, {1}).ExtendedLinear(0x03FF).Data(0xFFE0, std::vector<std::uint8_t>(32, 0))
        .StartLinear(0x78, 0x56, 0x34, 0x12).EndOfFile();
    HexScan s;
    ASSERT_EQ(ScanHexFile(test::WriteTemp("m2.hex", t.Text()), s), 0);
    EXPECT_EQ(s.mode, 2);
    EXPECT_EQ(s.lowest, 0x03800000u);
    EXPECT_EQ(s.highest, 0x03FFFFFFu);
    ASSERT_TRUE(s.start);
    EXPECT_EQ(*s.start, 0x12345678u);
  }
}

TEST(ScanHexFile, FailuresLeaveRangeUnwritten) {
  HexScan s;
  EXPECT_EQ(ScanHexFile(test::MakeTempDir() / "none.hex", s), rc::kCantOpenInput);
  EXPECT_EQ(s.lowest, 0xFFFFFFFFu);
  EXPECT_EQ(s.highest, 0xFFFFFFFFu);

  HexText t;
  t.ExtendedLinear(1).Raw("garbage");
  HexScan s2;
  s2.lowest = 7;
  s2.highest = 9;
  EXPECT_EQ(ScanHexFile(test::WriteTemp("g.hex", t.Text()), s2), rc::kInvalidHexFile);
  EXPECT_EQ(s2.lowest, 7u);
  EXPECT_EQ(s2.highest, 9u);
  HexText t2;
  t2.Record(0x07, 0, {});
  EXPECT_EQ(ScanHexFile(test::WriteTemp("t.hex", t2.Text()), s2), rc::kErrorInHexFile);
}

// ---- the programming stream ----------------------------------------------------------

TEST(IntelHexStream, BoundaryThenBlankPacketsThenData) {
  HexText t;
  t.ExtendedLinear(0x0001).Data(0x0040, {0x12}).EndOfFile();
  IntelHexFile f(test::WriteTemp("s.hex", t.Text()), 0x00010000, 0x000100FF, 1, 1);
  ASSERT_EQ(Load(f), 0);
  const auto packets = test::DrainStream(f);
  ASSERT_GE(packets.size(), 4u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A020000040001F9");
  EXPECT_TRUE(packets[1].empty());
  EXPECT_TRUE(packets[2].empty());
  ASSERT_EQ(packets[3].size(), 38u);
  EXPECT_EQ(test::ToHex(Packet(packets[3].begin(), packets[3].begin() + 6)), "3A2000400012");
  EXPECT_TRUE(std::all_of(packets[3].begin() + 6, packets[3].end() - 1, [](auto b) { return b == 0xFF; }));
  EXPECT_EQ(PacketChecksum(packets[3].data() + 1, 36), packets[3].back());
  // Then nothing but the end packet: endWithoutStart is set.
  const auto rest = test::NonEmpty(std::vector<Packet>(packets.begin() + 4, packets.end()));
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(test::ToHex(rest[0]), "3A00000001FF");
  EXPECT_EQ(f.GetRecordCount(), 3u);
}

TEST(IntelHexStream, TwoLanesAdvanceAddressByTwoAndAlternate) {
  // Even bytes 0x00.., odd bytes 0x80..: lane 0 and lane 1.
  std::vector<std::uint8_t> data(64);
  for (unsigned i = 0; i < 64; ++i) data[i] = static_cast<std::uint8_t>(i % 2 ? 0x80 + i / 2 : i / 2);
  HexText t;
  t.ExtendedLinear(0x03C0).Data(0x0000, data).EndOfFile();
  IntelHexFile f(test::WriteTemp("l2.hex", t.Text()), 0x03C00000, 0x03C0007F, 1, 2);
  ASSERT_EQ(Load(f), 0);
  const auto packets = test::NonEmpty(test::DrainStream(f));
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A0200000403C037");
  EXPECT_EQ(packets[1][2], 0x00);
  EXPECT_EQ(packets[1][3], 0x00);
  EXPECT_EQ(packets[2][3], 0x20) << "second packet 32 bytes (16 lane steps) later";
  for (unsigned i = 0; i < 32; ++i) {
    EXPECT_EQ(packets[1][5 + i], data[i]);
    EXPECT_EQ(packets[2][5 + i], data[32 + i]);
  }
}

TEST(IntelHexStream, StartAddressPacketUnlessEndWithoutStart) {
  HexText t;
  t.ExtendedLinear(0).Data(0, {0x01}).StartLinear(0x00, 0x10, 0x00, 0x00).EndOfFile();
  const auto path = test::WriteTemp("st.hex", t.Text());
  IntelHexFile load(path, 0, 0x1F, 0, 1);
  ASSERT_EQ(Load(load), 0);
  auto packets = test::NonEmpty(test::DrainStream(load));
  ASSERT_GE(packets.size(), 2u);
  const Packet expectedStart = BuildPacket(4, 0, 0x05, std::vector<std::uint8_t>{0x00, 0x10, 0x00, 0x00});
  EXPECT_EQ(packets[packets.size() - 2], expectedStart);
  EXPECT_EQ(test::ToHex(packets.back()), "3A00000001FF");
  EXPECT_EQ(load.GetRecordCount(), packets.size());

  IntelHexFile flash(path, 0, 0x1F, 1, 1);
  ASSERT_EQ(Load(flash), 0);
  packets = test::NonEmpty(test::DrainStream(flash));
  for (const auto& p : packets) EXPECT_NE(p[4], 0x05);

  // Without a type 05 record the start is the base address, bytes in memory order.
  IntelHexFile plain(test::WriteTemp("ns.hex", ":0100000001FE\n"), 0x00012340, 0x0001235F, 0, 1);
  ASSERT_EQ(Load(plain), 0);
  packets = test::NonEmpty(test::DrainStream(plain));
  EXPECT_EQ(packets[packets.size() - 2], BuildPacket(4, 0, 0x05, std::vector<std::uint8_t>{0x40, 0x23, 0x01, 0x00}));
}

TEST(IntelHexStream, RecordCountMatchesPacketsAndPacketsNeverCrossSegments) {
  // A gen-3 sized image with data scattered over several segments, 2 and 4 lanes.
  for (std::uint8_t lanes : {1, 2, 4}) {
    std::vector<std::uint8_t> image(0x30000, 0xFF);
    const auto noise = test::PseudoRandomBytes(image.size(), lanes);
    for (std::size_t i = 0; i < image.size(); ++i) {
      if ((i / 700) % 3 == 0 || (i >= 0xFFE0 && i < 0x10030)) image[i] = noise[i];
    }
    const auto path = test::MakeTempDir() / "cnt.hex";
    test::WriteHexImage(path, 0x00050000, image, {.recordSize = 16, .eol = "\n"});
    IntelHexFile f(path, 0x00050000, 0x0007FFFF, 1, lanes);
    ASSERT_EQ(Load(f), 0);
    const auto all = test::DrainStream(f);
    const auto packets = test::NonEmpty(all);
    EXPECT_EQ(f.GetRecordCount(), packets.size()) << "lanes " << int{lanes};
    // Rebuild the image from the packets: proves addresses and lane order.
    std::vector<std::uint8_t> rebuilt(image.size(), 0xFF);
    std::uint32_t segment = 0;
    for (const auto& p : packets) {
      ASSERT_EQ(p.size(), p[1] + 6u);
      ASSERT_EQ(PacketChecksum(p.data() + 1, p.size() - 2), p.back());
      if (p[4] == 0x04) {
        segment = (p[5] << 24) | (p[6] << 16);
      } else if (p[4] == 0x00) {
        const std::uint32_t address = segment | (p[2] << 8) | p[3];
        ASSERT_LE((address & 0xFFFF) + p[1], 0x10000u) << "packet crosses a segment";
        for (unsigned i = 0; i < p[1]; ++i) rebuilt[address - 0x50000 + i] = p[5 + i];
      }
    }
    EXPECT_EQ(rebuilt, image) << "lanes " << int{lanes};
  }
}

TEST(IntelHexStream, FullEightMegabyteImageOffsetsDoNotWrap) {
  // A byte near the top of an 8 MB, 2-lane image must come out at its own
  // address: stream positions beyond 16 bits must not wrap.
  HexText t;
  t.ExtendedLinear(0x03FF).Data(0xFF00, {0xAB, 0xCD});
  IntelHexFile f(test::WriteTemp("big.hex", t.Text()), 0x03800000, 0x03FFFFFF, 1, 2);
  ASSERT_EQ(Load(f), 0);
  const auto packets = test::NonEmpty(test::DrainStream(f));
  // Every one of the 128 segments is announced as the walk reaches it, then
  // one data packet and the end packet.
  ASSERT_EQ(packets.size(), 130u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A02000004038077");
  EXPECT_EQ(test::ToHex(packets[127]), "3A0200000403FFF8");
  const Packet& data = packets[128];
  EXPECT_EQ(data[2], 0xFF);
  EXPECT_EQ(data[3], 0x00);
  EXPECT_EQ(data[5], 0xAB);
  EXPECT_EQ(data[6], 0xCD);
  EXPECT_EQ(f.GetRecordCount(), 130u);
}

TEST(IntelHexStream, OddSizeWithTwoLanesKeepsTheLastByte) {
  HexText t;
  t.ExtendedLinear(0).Data(0x0004, {0x77});
  IntelHexFile f(test::WriteTemp("odd.hex", t.Text()), 0, 4, 1, 2);
  ASSERT_EQ(Load(f), 0);
  const auto packets = test::NonEmpty(test::DrainStream(f));
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[1][1], 6u);
  EXPECT_EQ(packets[1][5 + 4], 0x77);
}

}  // namespace
}  // namespace tarnvale
