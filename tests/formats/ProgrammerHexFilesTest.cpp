// Boot flash and PIC images sent through the programmer box.
#include <gtest/gtest.h>

#include <functional>

#include "FormatsTestUtil.h"
#include "formats/ProgrammerHexFiles.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;

BoardInfoRecord GoodRecord() {
  BoardInfoRecord r;
  r.SetCpuRevision('C');
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "CTRL01");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "CPU123456789ABC");  // 15 characters
  r.SetSerial(BoardInfoRecord::kIoSerial, "IO7");
  return r;
}

ResultCode Load(IntelHexFile& f) {
  ResultCode r = f.OpenFile();
  if (r == 0) r = f.AllocateImage();
  if (r == 0) r = f.LoadFile();
  return r;
}

std::filesystem::path BootFile(const std::vector<std::uint8_t>& image) {
  const auto path = test::MakeTempDir("boot") / "boot.hex";
  test::WriteHexImage(path, Boot386IntelHexFile::kImageBase, image, {.eol = "\n"});
  return path;
}

TEST(Boot386Image, LoadsStampsAndChecksums) {
  std::vector<std::uint8_t> image = test::PseudoRandomBytes(16384, 7);
  image[16352] = 5;  // boot version "V1.23"
  std::copy_n("V1.23", 5, image.begin() + 16353);
  Boot386IntelHexFile f(BootFile(image), GoodRecord());
  ASSERT_EQ(Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 514u);
  EXPECT_EQ(f.BootVersion(), "V1.23");

  const auto loaded = f.ImageBytes();
  EXPECT_EQ(loaded[16366], 'C');
  EXPECT_EQ(loaded[16367], 'B');
  // The 15-character CPU board serial fills its 16-byte slot completely.
  EXPECT_EQ(loaded[16320], 15);
  EXPECT_EQ(std::string(loaded.begin() + 16321, loaded.begin() + 16336), "CPU123456789ABC");
  // Shorter serials are zero-filled, over whatever the file had there.
  EXPECT_EQ(loaded[16336], 3);
  EXPECT_EQ(std::string(loaded.begin() + 16337, loaded.begin() + 16340), "IO7");
  EXPECT_TRUE(std::all_of(loaded.begin() + 16340, loaded.begin() + 16352, [](auto b) { return b == 0; }));
  EXPECT_EQ(loaded[16304], 6);
  // Bytes of the area that nothing stamps keep the file's value.
  EXPECT_EQ(loaded[16368], image[16368]);
  EXPECT_EQ(loaded[16379], image[16379]);
  // Word sum over 0..16379, least significant byte first.
  std::uint32_t sum = 0;
  for (std::size_t o = 0; o < 16380; o += 2) sum += loaded[o] | (loaded[o + 1] << 8);
  EXPECT_EQ(loaded[16380] | (loaded[16381] << 8) | (loaded[16382] << 16) |
                (std::uint32_t{loaded[16383]} << 24),
            sum);

  const auto packets = test::DrainStream(f);
  ASSERT_EQ(packets.size(), 514u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A0200000403FFF8");
  EXPECT_EQ(test::ToHex(packets.back()), "3A00000001FF");
  EXPECT_EQ(test::ToHex(Packet(packets[1].begin(), packets[1].begin() + 5)), "3A20C00000");
  EXPECT_EQ(test::ToHex(Packet(packets[512].begin(), packets[512].begin() + 5)), "3A20FFE000");
  for (std::size_t i = 1; i <= 512; ++i) {
    ASSERT_EQ(packets[i].size(), 38u);
    EXPECT_TRUE(std::equal(packets[i].begin() + 5, packets[i].end() - 1, loaded.begin() + (i - 1) * 32));
  }
}

TEST(Boot386Image, RecordCountIsFixedAndBlankPacketsAreSent) {
  HexText t;
  t.ExtendedLinear(0x03FF).Data(0xC000, {1});
  Boot386IntelHexFile f(test::WriteTemp("b.hex", t.Text()), GoodRecord());
  ASSERT_EQ(Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 514u);
  EXPECT_EQ(test::NonEmpty(test::DrainStream(f)).size(), 514u);
  EXPECT_EQ(f.BootVersion(), "") << "length byte 0xFF";
}

TEST(Boot386Image, BoardRecordChecksInOrder) {
  HexText t;
  t.ExtendedLinear(0x03FF).Data(0xC000, {1});
  const auto path = test::WriteTemp("b.hex", t.Text());
  struct Case {
    std::function<void(BoardInfoRecord&)> spoil;
    ResultCode expected;
  } cases[] = {
      {[](BoardInfoRecord& r) { r.SetCpuRevision('a'); }, rc::kBootCpuRevisionInvalid},
      {[](BoardInfoRecord& r) { r.SetIoRevision('['); }, rc::kBootIoRevisionInvalid},
      {[](BoardInfoRecord& r) { r.bytes[BoardInfoRecord::kCpuSerial] = 0; }, rc::kBootCpuSerialInvalid},
      {[](BoardInfoRecord& r) { r.bytes[BoardInfoRecord::kIoSerial] = 16; }, rc::kBootIoSerialInvalid},
      {[](BoardInfoRecord& r) { r.bytes[BoardInfoRecord::kControllerSerial] = 0; },
       rc::kBootControllerSerialInvalid},
      // Both revisions bad: the CPU board is reported first.
      {[](BoardInfoRecord& r) { r.SetCpuRevision(0); r.SetIoRevision(0); }, rc::kBootCpuRevisionInvalid},
  };
  for (const Case& c : cases) {
    BoardInfoRecord record = GoodRecord();
    c.spoil(record);
    Boot386IntelHexFile f(path, record);
    EXPECT_EQ(Load(f), c.expected);
  }
}

TEST(Boot386Image, RecordErrorsAreShownAndGive9) {
  const std::string good = test::HexLine(0, 0, std::vector<std::uint8_t>{1});
  struct Case {
    std::string line;
    std::string message;
  } cases[] = {
      {"0100000001FE", "Error in Hex Record #1"},
      {good.substr(0, good.size() - 2) + "00", "Error in Hex Record #2"},
      {test::HexLine(5, 0, std::vector<std::uint8_t>{0, 0, 0, 0}), "Error in Hex Record #3"},
  };
  for (const Case& c : cases) {
    test::RecordingOperator op;
    Boot386IntelHexFile f(test::WriteTemp("e.hex", c.line + "\n"), GoodRecord());
    f.SetOperator(&op);
    EXPECT_EQ(Load(f), rc::kErrorInHexFile);
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.message});
  }
}

TEST(PIC18FImage, PanelsConfigurationAndCounts) {
  std::vector<std::uint8_t> image = test::PseudoRandomBytes(0x8000, 3);
  HexText t("\n");
  t.Raw(test::HexImageText(0, image, {.recordSize = 16, .eol = "\n", .endRecord = false}));
  t.ExtendedLinear(0x0030).Data(0x0001, {0x22}).Data(0x0003, {0x0E}).StartSegment(0, 0).EndOfFile();
  PIC18FIntelHexFile f(test::WriteTemp("p18.hex", t.Text()), 0, 0x7FFF);
  ASSERT_EQ(Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 1029u) << "1028 and one for the type 03 record";

  std::array<std::uint8_t, 14> config;
  config.fill(0xFF);
  config[1] = 0x22;
  config[3] = 0x0E;
  EXPECT_EQ(f.Config(), config);

  const auto packets = test::DrainStream(f);
  ASSERT_EQ(packets.size(), 1028u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A020000040000FA");
  for (std::uint32_t n = 0; n < 1024; ++n) {
    const Packet& p = packets[1 + n];
    const std::uint32_t offset = n * 8;
    ASSERT_EQ(p.size(), 38u);
    EXPECT_EQ((p[2] << 8) | p[3], offset);
    EXPECT_EQ(p[4], 0x15);
    for (std::uint32_t panel = 0; panel < 4; ++panel) {
      for (std::uint32_t i = 0; i < 8; ++i) {
        ASSERT_EQ(p[5 + panel * 8 + i], image[offset + panel * 0x2000 + i]);
      }
    }
  }
  EXPECT_EQ(test::ToHex(packets[1025]), "3A020000040030CA");
  EXPECT_EQ(packets[1026], BuildPacket(14, 0, 0, config));
  EXPECT_EQ(test::ToHex(Packet(packets[1026].begin(), packets[1026].begin() + 5)), "3A0E000000");
  EXPECT_EQ(test::ToHex(packets[1027]), "3A00000001FF");
}

TEST(PIC18FImage, SmallerImageReadsBlankBeyondItsEnd) {
  HexText t;
  t.Data(0x0000, {0x01});
  PIC18FIntelHexFile f(test::WriteTemp("small.hex", t.Text()), 0, 0x0FFF);
  ASSERT_EQ(Load(f), 0);
  const auto packets = test::DrainStream(f);
  ASSERT_EQ(packets.size(), 1028u);
  EXPECT_EQ(packets[1][5], 0x01);
  EXPECT_EQ(packets[1][5 + 8], 0xFF) << "panel 2 lies beyond a 4 KB image";
}

TEST(PIC18FImage, RecordErrorsGive9WithoutMessage) {
  for (const std::string line : {"garbage", ":0100000001FF", ":00000006FA"}) {
    test::RecordingOperator op;
    PIC18FIntelHexFile f(test::WriteTemp("e.hex", line + "\n"), 0, 0x7FFF);
    f.SetOperator(&op);
    EXPECT_EQ(Load(f), rc::kErrorInHexFile) << line;
    EXPECT_TRUE(op.messages.empty());
  }
}

TEST(PIC30FImage, ChunksAndTheConfigurationRecord) {
  std::vector<std::uint8_t> image = test::PseudoRandomBytes(0x8000, 9);
  std::vector<std::uint8_t> config24(24);
  for (unsigned i = 0; i < 24; ++i) config24[i] = static_cast<std::uint8_t>(0xC0 + i);
  HexText t;
  t.Raw(test::HexImageText(0, image, {.recordSize = 32, .eol = "\r\n", .endRecord = false}));
  t.ExtendedLinear(0x01F0).Data(0x0000, config24).EndOfFile();
  PIC30FIntelHexFile f(test::WriteTemp("p30.hex", t.Text()), 0, 0x7FFF);
  ASSERT_EQ(Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 260u);
  std::array<std::uint8_t, 14> config;
  config.fill(0xFF);
  config[0] = 0xC0;
  config[1] = 0xC1;
  EXPECT_EQ(f.Config(), config) << "only the first word of the 24-byte record";

  const auto packets = test::DrainStream(f);
  ASSERT_EQ(packets.size(), 260u);
  for (std::uint32_t n = 0; n < 256; ++n) {
    const Packet& p = packets[1 + n];
    ASSERT_EQ(p.size(), 134u);
    EXPECT_EQ((p[2] << 8) | p[3], n * 128);
    EXPECT_TRUE(std::equal(p.begin() + 5, p.end() - 1, image.begin() + n * 128));
  }
  EXPECT_EQ(test::ToHex(packets[257]), "3A0200000401F009");
  EXPECT_EQ(packets[258], BuildPacket(14, 0, 0, config));
}

TEST(PIC30FImage, ConfigurationWordInsideARecordEndsIt) {
  HexText t;
  // Two bytes before the configuration area, then words 2 and 3.
  t.ExtendedLinear(0x01EF).Data(0xFFFE, {0x11, 0x22, 0xA4, 0xA5, 0xA6, 0xA7});
  PIC30FIntelHexFile f(test::WriteTemp("w.hex", t.Text()), 0, 0x7FFF);
  ASSERT_EQ(Load(f), 0);
  EXPECT_EQ(f.Config()[0], 0xA4);
  EXPECT_EQ(f.Config()[1], 0xA5);
  EXPECT_EQ(f.Config()[2], 0xFF);
}

}  // namespace
}  // namespace tarnvale
