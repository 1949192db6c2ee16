// Boot flash and PIC images sent through the programmer box.
#include <gtest/gtest.h>

#include <functional>

#include "FormatsTestUtil.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using Bytes = std::vector<std::uint8_t>;

TEST(Boot386Image, LoadsStampsAndChecksums) {
  Bytes image = test::PseudoRandomBytes(16384, 7);
  image[16352] = 5;  // boot version "V1.23"
  std::copy_n("V1.23", 5, image.begin() + 16353);
  const auto path = test::MakeTempDir("boot") / "boot.hex";
  test::WriteHexImage(path, Boot386IntelHexFile::kImageBase, image, {.eol = "\n"});
  Boot386IntelHexFile f(path, test::GoodBoardRecord());
  ASSERT_EQ(test::Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 514u);
  EXPECT_EQ(f.BootVersion(), "V1.23");

  const auto loaded = f.ImageBytes();
  EXPECT_EQ(loaded[16304], 6);  // "CTRL01"
  // The 15-character CPU board serial fills its 16-byte slot completely;
  // shorter serials are zero-filled, over whatever the file had there.
  EXPECT_EQ(std::string(loaded.begin() + 16320, loaded.begin() + 16336), "\x0F" "CPU123456789ABC");
  EXPECT_EQ(std::string(loaded.begin() + 16336, loaded.begin() + 16352), "\x03IO7" + std::string(12, '\0'));
  // Revisions, then bytes of the area that nothing stamps keep the file's value.
  EXPECT_EQ(test::Slice(loaded, 16366, 2), (Bytes{'C', 'B'}));
  EXPECT_EQ(test::Slice(loaded, 16368, 12), test::Slice(image, 16368, 12));
  // Word sum over 0..16379, least significant byte first.
  std::uint32_t sum = 0;
  for (std::size_t o = 0; o < 16380; o += 2) sum += loaded[o] | (loaded[o + 1] << 8);
  EXPECT_EQ(test::Le32(loaded, 16380), sum);

  const auto packets = test::DrainStream(f, true);
  ASSERT_EQ(packets.size(), 514u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A0200000403FFF8");
  EXPECT_EQ(test::ToHex(packets.back()), "3A00000001FF");
  EXPECT_EQ(test::ToHex(packets[1], 5), "3A20C00000");
  EXPECT_EQ(test::ToHex(packets[512], 5), "3A20FFE000");
  // Every packet's bytes reach the chip: BootFlashTest's programming against the box.
  EXPECT_EQ(packets[2], BuildPacket(32, 0xC020, 0, test::Slice(loaded, 32, 32)));
}

TEST(Boot386Image, BlankPacketsAreSentAndBoardRecordChecksInOrder) {
  const auto path = test::WriteTemp("b.hex", HexText().ExtendedLinear(0x03FF).Data(0xC000, {1}).EndOfFile().Text());
  Boot386IntelHexFile good(path, test::GoodBoardRecord());
  ASSERT_EQ(test::Load(good), 0);
  EXPECT_EQ(test::DrainStream(good).size(), 514u) << "the record count is fixed: blank packets are sent";
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
    BoardInfoRecord record = test::GoodBoardRecord();
    c.spoil(record);
    Boot386IntelHexFile f(path, record);
    EXPECT_EQ(test::Load(f), c.expected);
  }
}

TEST(ProgrammerImages, RecordErrorsGive9AndOnlyTheBootImageSaysWhich) {
  const std::string good = test::HexLine(0, 0, Bytes{1});
  struct Case {
    std::string line;
    std::string message;
  } cases[] = {
      {"0100000001FE", "Error in Hex Record #1"},
      {good.substr(0, good.size() - 2) + "00", "Error in Hex Record #2"},
      {test::HexLine(5, 0, Bytes{0, 0, 0, 0}), "Error in Hex Record #3"},
  };
  for (const Case& c : cases) {
    const auto path = test::WriteTemp("e.hex", c.line + "\n");
    test::RecordingOperator op;
    Boot386IntelHexFile boot(path, test::GoodBoardRecord());
    boot.SetOperator(&op);
    EXPECT_EQ(test::Load(boot), rc::kErrorInHexFile) << c.line;
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.message});
    test::RecordingOperator quiet;
    PIC18FIntelHexFile pic(path, 0, 0x7FFF);
    pic.SetOperator(&quiet);
    EXPECT_EQ(test::Load(pic), rc::kErrorInHexFile) << c.line;
    EXPECT_TRUE(quiet.messages.empty());
  }
}

TEST(PIC18FImage, PanelsConfigurationAndCounts) {
  Bytes image = test::PseudoRandomBytes(0x8000, 3);
  HexText t("\n");
  t.Raw(test::HexImageText(0, image, {.recordSize = 16, .eol = "\n", .endRecord = false}));
  t.ExtendedLinear(0x0030).Data(0x0001, {0x22}).Data(0x0003, {0x0E}).StartSegment(0, 0).EndOfFile();
  PIC18FIntelHexFile f(test::WriteTemp("p18.hex", t.Text()), 0, 0x7FFF);
  ASSERT_EQ(test::Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 1029u) << "1028 and one for the type 03 record";
  const std::array<std::uint8_t, 14> config = {0xFF, 0x22, 0xFF, 0x0E, 0xFF, 0xFF, 0xFF,
                                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(f.Config(), config);

  const auto packets = test::DrainStream(f, true);
  ASSERT_EQ(packets.size(), 1028u);
  EXPECT_EQ(test::ToHex(packets[0]), "3A020000040000FA");
  // Packet n: 8 bytes of each of the four 0x2000-byte panels (the whole
  // memory as the chip gets it: PicCommandsTest's programming).
  Bytes panels;
  for (std::uint32_t panel = 0; panel < 4; ++panel) {
    const auto part = test::Slice(image, 5 * 8 + panel * 0x2000, 8);
    panels.insert(panels.end(), part.begin(), part.end());
  }
  EXPECT_EQ(packets[1 + 5], BuildPacket(32, 5 * 8, 0x15, panels));
  EXPECT_EQ(test::ToHex(packets[1025]), "3A020000040030CA");
  EXPECT_EQ(packets[1026], BuildPacket(14, 0, 0, config));
  EXPECT_EQ(test::ToHex(packets[1027]), "3A00000001FF");

  // A smaller image reads blank beyond its end.
  PIC18FIntelHexFile small(test::WriteTemp("small.hex", HexText().Data(0x0000, {0x01}).EndOfFile().Text()), 0, 0x0FFF);
  ASSERT_EQ(test::Load(small), 0);
  const auto smallPackets = test::DrainStream(small, true);
  ASSERT_EQ(smallPackets.size(), 1028u);
  EXPECT_EQ(test::ToHex(smallPackets[1], 14), "3A2000001501FFFFFFFFFFFFFFFF") << "panel 2 lies beyond a 4 KB image";
}

TEST(PIC30FImage, ChunksAndTheConfigurationRecord) {
  Bytes image = test::PseudoRandomBytes(0x8000, 9);
  Bytes config24(24);
  for (unsigned i = 0; i < 24; ++i) config24[i] = static_cast<std::uint8_t>(0xC0 + i);
  HexText t;
  t.Raw(test::HexImageText(0, image, {.recordSize = 32, .eol = "\r\n", .endRecord = false}));
  t.ExtendedLinear(0x01F0).Data(0x0000, config24).EndOfFile();
  PIC30FIntelHexFile f(test::WriteTemp("p30.hex", t.Text()), 0, 0x7FFF);
  ASSERT_EQ(test::Load(f), 0);
  EXPECT_EQ(f.GetRecordCount(), 260u);
  const std::array<std::uint8_t, 14> config = {0xC0, 0xC1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(f.Config(), config) << "only the first word of the 24-byte record";

  const auto packets = test::DrainStream(f, true);
  ASSERT_EQ(packets.size(), 260u);
  EXPECT_EQ(packets[1 + 5], BuildPacket(128, 5 * 128, 0, test::Slice(image, 5 * 128, 128)));  // 134 bytes
  EXPECT_EQ(test::ToHex(packets[257]), "3A0200000401F009");
  EXPECT_EQ(packets[258], BuildPacket(14, 0, 0, config));

  // A configuration word inside a record ends it: two bytes before the area, then words 2 and 3.
  PIC30FIntelHexFile w(test::WriteTemp("w.hex", HexText().ExtendedLinear(0x01EF)
                                                    .Data(0xFFFE, {0x11, 0x22, 0xA4, 0xA5, 0xA6, 0xA7}).EndOfFile().Text()), 0, 0x7FFF);
  ASSERT_EQ(test::Load(w), 0);
  EXPECT_EQ(test::Slice(w.Config(), 0, 3), (Bytes{0xA4, 0xA5, 0xFF}));
}

}  // namespace
}  // namespace tarnvale
