// The box's requests byte by byte, its raw replies, and the judgement of a
// board's identification record.
#include <gtest/gtest.h>

#include "support/SimBox.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BoxCommands.h"
#include "core/programmer/PicCommands.h"
#include "core/programmer/PinImage.h"
#include "core/roles/PortRoles.h"
#include "support/Pty.h"

namespace tarnvale {
namespace {

using test::PtyPair;

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

class BoxOnPty : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)); }
  PtyPair pty;
  CommPort port;
  BoxLink box{port, test::FastBoxTimings()};
};

TEST_F(BoxOnPty, RequestsAreSentByteForByte) {
  struct Case {
    const char* what;
    std::function<void(BoxLink&)> send;
    std::string bytes;
  };
  const Case cases[] = {
      {"select target 4", [](BoxLink& b) { b.Send(SelectTargetPacket(Target::CpuBoard386)); },
       Bytes({':', 0x00, 0x00, 0x04, 0x19, 0xE3})},
      {"normalize E,A", [](BoxLink& b) { b.NormalizeFlashRevision(Target::CpuBoard386, 'E', 'A'); },
       Bytes({':', 0x00, 0x44, 0x44, 0x1D, 0x5B})},
      {"normalize C,D", [](BoxLink& b) { b.NormalizeFlashRevision(Target::CpuBoard386, 'C', 'D'); }, ""},
      {"normalize E,A for target 2", [](BoxLink& b) { b.NormalizeFlashRevision(Target::Pic18F252, 'E', 'A'); }, ""},
      {"load RAM bank 1", [](BoxLink& b) { b.Send(RamBankPacket(false, 1)); },
       Bytes({':', 0x09, 0x00, 0x00, 0x1E, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0xC9})},
      {"test RAM bank 3", [](BoxLink& b) { b.Send(RamBankPacket(true, 3)); },
       Bytes({':', 0x09, 0x00, 0x00, 0x1F, 0, 0, 0x20, 0, 0, 0, 0x10, 0, 0, 0xA8})},
      {"version", [](BoxLink& b) { b.Send(VersionPacket()); }, Bytes({':', 0, 0, 0, 0x23, 0xDD})},
      {"read ID", [](BoxLink& b) { b.Send(ReadIdPacket()); }, Bytes({':', 0, 0, 0, 0x18, 0xE8})},
      {"data line test on", [](BoxLink& b) { b.Send(LineTestPacket(true, 1, 0x12345678)); },
       Bytes({':', 0x04, 0x01, 0x01, 0x1C, 0x78, 0x56, 0x34, 0x12, 0xCA})},
      {"blank check", [](BoxLink& b) { b.Send(BuildPacket(0, 0, box_type::kBlankCheck)); },
       Bytes({':', 0, 0, 0, 0x17, 0xE9})},
      {"test EEPROM", [](BoxLink& b) { b.Send(BuildPacket(0, 0, box_type::kTestEeprom)); },
       Bytes({':', 0, 0, 0, 0x1B, 0xE5})},
      {"fill EEPROM", [](BoxLink& b) { b.Send(FillEepromPacket(0x1234)); },
       Bytes({':', 0x02, 0, 0, 0x1A, 0x34, 0x12, 0x9E})},
      {"read boot", [](BoxLink& b) { b.Send(BuildPacket(0, 0xC000, box_type::kReadMemory)); },
       Bytes({':', 0, 0xC0, 0, 0x16, 0x2A})},
  };
  for (const Case& c : cases) {
    c.send(box);
    EXPECT_EQ(pty.Receive(c.bytes.size(), c.bytes.empty() ? 150 : 1000), c.bytes) << c.what;
  }
}

TEST_F(BoxOnPty, JtagReplyMustBeExactlyTenBytes) {
  const std::string ten = Bytes({':', 4, 0, 0, 0x18, 0x28, 0x27, 0x00, 0x13, 0x00});
  struct Case {
    std::string reply;
    ResultCode code;
  };
  const Case cases[] = {{ten.substr(0, 9), 'A'}, {ten, '0'}, {ten + "X", 'A'}, {"", 'A'}};
  for (const Case& c : cases) {
    pty.Send(c.reply);
    std::uint32_t id = 0xDEAD;
    EXPECT_EQ(box.ReadJtagId(id, Target::CpuBoard386), c.code) << c.reply.size() << " bytes";
    EXPECT_EQ(id, c.code == '0' ? kCpu386JtagId : 0xDEADu);
    pty.Receive(6);
  }
}

// No whole ID reply: the text says what came instead. (The IDs' own
// texts, another TN835 ID and a box that sent nothing are shown through the
// menu commands and the board dialog.)
TEST_F(BoxOnPty, NoJtagIdTexts) {
  std::uint32_t id = 0;
  pty.Send(Bytes({':', 4, 0, 0}));
  EXPECT_EQ(box.CheckTn835Id(id), 'A');
  EXPECT_EQ(box.NoJtagIdText(), "Too few bytes sent (the box sent 4 bytes; a JTAG ID reply is 10 bytes)");
  EXPECT_EQ(box.NoJtagIdText("advice"), "advice") << "a box that is there but has no ID";
}

TEST_F(BoxOnPty, BoardInfoExchangeKeepsTheRecordUnlessWhole) {
  BoardInfoRecord record;
  record.SetCpuRevision('B');
  const BoardInfoRecord before = record;
  pty.Send(std::string(67, 'x'));
  EXPECT_EQ(box.ExchangeBoardInfo(record), 'A');
  EXPECT_EQ(record, before);
  EXPECT_EQ(pty.Receive(6), Bytes({':', 0, 'B', 0, 0x1D, 0xA1}));

  std::string reply = Bytes({':', 62, 0, 0, 0x1D});
  for (int i = 0; i < 62; ++i) reply.push_back(static_cast<char>(i + 1));
  reply.push_back(0);
  pty.Send(reply);
  EXPECT_EQ(box.ExchangeBoardInfo(record), '0');
  EXPECT_EQ(record.bytes[0], 1);
  EXPECT_EQ(record.bytes[61], 62);
}

BoardInfoRecord Board(char revision, std::array<std::uint16_t, 6> words) {
  BoardInfoRecord r;
  r.SetCpuRevision(revision);
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "S1");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "C1");
  r.SetSerial(BoardInfoRecord::kIoSerial, "I1");
  for (std::size_t i = 0; i < 6; ++i) r.SetFlashIdWord(i, words[i]);
  return r;
}

TEST(FlashId, LinesNamesAndValidityByRevision) {
  const std::array<std::uint16_t, 6> catalyst{0x3131, 0xBDBD, 0x3131, 0xBDBD, 0x3131, 0xBDBD};
  auto catalystW4 = catalyst;
  catalystW4[4] = 0x3130;
  const std::vector<std::string> unknownAdvice = {flash_text::kFlashModeAdvice,
                                                  flash_text::kRevisionAdvice};
  struct Case {
    char revision;
    std::array<std::uint16_t, 6> words;
    std::string first;
    bool valid;
  };
  const Case cases[] = {
      {'B', catalyst, "Device ID = 0xBDBD, Manufacture ID = 0x3131 -> CAT28F020 Catalyst", true},
      {'B', catalystW4, "Device ID = 0xBDBD, Manufacture ID = 0x3131 -> Unknown", false},
      {'C', {0x2020, 0xADAD, 0, 0, 0, 0}, "Device ID = 0xADAD, Manufacture ID = 0x2020 -> M29F016D ST-Micro", true},
      {'C', {0x0101, 0xADAD, 0, 0, 0, 0}, "Device ID = 0xADAD, Manufacture ID = 0x101 -> AM29F016D AMD", true},
      {'C', catalyst, "Device ID = 0xBDBD, Manufacture ID = 0x3131 -> Unknown", false},
      {'D', {0x0001, 0x007E, 0x0001, 0x0002, 0x0001, 0x0001},
       "Device ID = 0x7E0201, Manufacture ID = 0x01 -> S29JL064H Spansion", true},
      {'E', {0x1234, 0x5678, 0, 0, 0, 0}, "Device ID = 0x56780000, Manufacture ID = 0x1234 -> S29JL064H Spansion", true},
      {'E', catalyst, "Device ID = 0xBDBDBDBDBDBD, Manufacture ID = 0x3131 -> CAT28F020 Catalyst", true},
      {0, catalyst, "Device ID = 0xBDBD, Manufacture ID = 0x3131 -> Unknown", false},
  };
  for (const Case& c : cases) {
    const BoardInfoRecord r = Board(c.revision, c.words);
    const auto lines = FlashIdLines(r);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.first) << c.revision;
    EXPECT_EQ(IsFlashIdValid(r), c.valid) << c.first;
    EXPECT_EQ(IsBoardInfoComplete(r), c.valid && c.revision != 0) << c.first;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
              c.valid ? std::vector<std::string>{} : unknownAdvice);
  }
}

TEST(PinImageTest, InitialImageAndTheDataWord) {
  const PinImage initial = PinImage::Initial();
  const std::array<std::uint8_t, 26> expected = {
      0x38, 0xDF, 0xFF, 0xFF, 0x7F, 0x97, 0xA3, 0xE9, 0xEF, 0xF9, 0xEB, 0x00, 0x00,
      0xC0, 0x2F, 0x00, 0x00, 0x80, 0x18, 0x08, 0x56, 0x00, 0xF6, 0x67, 0x00, 0x00};
  EXPECT_EQ(initial.bytes, expected);
  // Which line is which pin the walking stages show; where the data word
  // sits in the image is the wire's.
  PinImage d = initial;
  d.SetDataLines(0x8001);
  EXPECT_EQ(d.bytes[24], 0x01);
  EXPECT_EQ(d.bytes[25], 0x80);
  EXPECT_EQ(d.bytes[11], 0xFF);
  EXPECT_EQ(d.bytes[12], 0x00);
  PinImage c = initial;
  c.bytes[0] ^= 0xFF;  // enables do not count
  EXPECT_TRUE(PinLevelsEqual(c, initial));
}

TEST(PinImageTest, ProberImagesToggleOnePinOfTheIdleImage) {
  const PinImage idle = IdleControlImage();
  EXPECT_TRUE(idle.Level(PinByName("RD")));
  EXPECT_FALSE(idle.Level(PinByName("TXD0")));
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0x1, "UCS"}, {0x2, "CS0"}, {0x400, "WRD"}, {0x800000, "ADS"}, {0x40000000, "TXD1"}};
  for (const auto& [mask, name] : cases) {
    const auto image = ControlToggleImage(mask);
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(MismatchedPins(idle, *image), std::vector<int>{PinByName(name)}) << name;
  }
  EXPECT_EQ(ControlToggleImage(0x8), idle);
  const auto cs1High = ControlToggleImage(0x10);
  ASSERT_TRUE(cs1High);
  EXPECT_EQ(MismatchedPins(idle, *cs1High),
            (std::vector<int>{PinByName("A21"), PinByName("CS1")}));
  EXPECT_FALSE(ControlToggleImage(0x80000000u));
}

}  // namespace
}  // namespace tarnvale
