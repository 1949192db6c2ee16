// The simulated box's answers packet by packet, without a link in between.
#include <gtest/gtest.h>

#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"
#include "sim/BoxDevice.h"

namespace tarnvale::sim {
namespace {

std::vector<SimOutput> Feed(BoxDevice& box, const Packet& packet) {
  std::vector<SimOutput> out;
  box.Feed(packet.data(), packet.size(), out);
  return out;
}

std::vector<std::uint8_t> Bytes(const std::vector<SimOutput>& out) {
  std::vector<std::uint8_t> all;
  for (const auto& o : out) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
  return all;
}

// (The replies the workflows read, the version, the JTAG IDs, the blank
// check and the line tests, are checked through them.)
TEST(BoxDeviceModel, RepliesToWhatNoWorkflowSends) {
  BoxDevice box(BoxOptions{});
  const struct {
    const char* what;
    Packet request;
    std::uint8_t reply;
  } cases[] = {
      {"select 7", BuildPacket(0, 7, 0x19), 'B'},
      {"unknown type", BuildPacket(0, 0, 0x30), 'E'},
      {"bad checksum", Packet{':', 0, 0, 0, 0x23, 0x00}, '2'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Bytes(Feed(box, c.request)), std::vector<std::uint8_t>{c.reply}) << c.what;
  }
}

// With the JTAG cable off the box still answers for the PIC socket, but an
// erase on a JTAG target reaches nothing; the log names every packet that
// came in. (The board commands and the version with the cable off are run
// through the CPU board dialog's model.)
TEST(BoxDeviceModel, CableOffLeavesTheJtagTargetsSilent) {
  BoxOptions o;
  o.noJtag = true;
  o.bootImage.assign(16384, 0x5A);
  BoxDevice box(o);
  std::vector<std::string> log;
  box.SetLog([&log](const std::string& line) { log.push_back(line); });
  const struct {
    const char* what;
    Packet request;
    bool answered;
  } cases[] = {
      {"select 4", SelectTargetPacket(Target::CpuBoard386), true},
      {"erase", BuildPacket(0, 0, box_type::kErase), false},
      {"select 2", SelectTargetPacket(Target::Pic18F252), true},
      {"PIC18F252 ID", ReadIdPacket(), true},
  };
  for (const auto& c : cases) EXPECT_EQ(!Feed(box, c.request).empty(), c.answered) << c.what;
  ASSERT_EQ(log.size(), std::size(cases));
  EXPECT_EQ(log[1], "packet 2 target 4 type 0x06 address 0x0000 count 0");
  EXPECT_FALSE(box.Boot().Blank()) << "the erase never reached the flash";
}

TEST(BoxDeviceModel, BoardInfoWordsFollowTheChipAndTheAlgorithm) {
  struct Case {
    char stored;
    bool amd;
    std::uint8_t algorithm;
    std::array<std::uint16_t, 6> words;
  };
  const Case cases[] = {
      {'B', false, 0, {0x3131, 0xBDBD, 0x3131, 0xBDBD, 0x3131, 0xBDBD}},
      {'C', false, 'C', {0x2020, 0xADAD, 0x2020, 0xADAD, 0x2020, 0xADAD}},
      {'C', true, 'C', {0x0101, 0xADAD, 0x0101, 0xADAD, 0x0101, 0xADAD}},
      {'E', false, 'D', {0x0001, 0x007E, 0x0001, 0x0002, 0x0001, 0x0001}},
      {'B', false, 'D', {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
  };
  for (const Case& c : cases) {
    BoxOptions o;
    o.cpuRevision = c.stored;
    o.amdFlash = c.amd;
    BoxDevice box(o);
    const auto reply = Bytes(Feed(box, BoardInfoPacket(c.algorithm, 0)));
    ASSERT_EQ(reply.size(), kBoardInfoReplyLength);
    BoardInfoRecord r;
    std::copy(reply.begin() + 5, reply.begin() + 67, r.bytes.begin());
    EXPECT_EQ(r.CpuRevision(), c.stored);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(r.FlashIdWord(i), c.words[i]) << c.stored << c.algorithm << i;
  }
}

TEST(BoxDeviceModel, FaultsCountPackets) {
  auto fault = [](Fault::Kind kind, std::uint32_t n, std::uint8_t v = 0) {
    BoxOptions o;
    o.faults.push_back(Fault{kind, n, v});
    return o;
  };
  {
    BoxDevice box(fault(Fault::Kind::Stray, 2, 0x7E));
    EXPECT_EQ(Bytes(Feed(box, SelectTargetPacket(Target::CpuBoard386))), std::vector<std::uint8_t>{'0'});
    EXPECT_EQ(Bytes(Feed(box, SelectTargetPacket(Target::CpuBoard386))), (std::vector<std::uint8_t>{'0', 0x7E}));
  }
  {
    BoxDevice box(fault(Fault::Kind::CloseAfter, 1));
    EXPECT_EQ(Feed(box, SelectTargetPacket(Target::CpuBoard386)).size(), 1u);
    const auto out = Feed(box, SelectTargetPacket(Target::CpuBoard386));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].close);
    EXPECT_TRUE(Feed(box, SelectTargetPacket(Target::CpuBoard386)).empty());
  }
  {
    BoxDevice box(fault(Fault::Kind::SilentAfter, 1));
    EXPECT_EQ(Bytes(Feed(box, VersionPacket())).size(), 6u + std::string(kDefaultBoxVersion).size());
    EXPECT_TRUE(Feed(box, VersionPacket()).empty());
  }
}

TEST(BoxDeviceModel, OptionParsing) {
  std::string error;
  std::pair<int, bool> stuck;
  EXPECT_TRUE(ParseStuck("CS1=1", stuck, error));
  EXPECT_EQ(stuck, (std::pair<int, bool>{PinByName("CS1"), true}));
  for (const char* bad : {"CS1", "CS9=1", "A7=2"}) EXPECT_FALSE(ParseStuck(bad, stuck, error)) << bad;
  std::pair<int, int> pins;
  EXPECT_TRUE(ParseShort("D3,D4", pins, error));
  for (const char* bad : {"D3", "D3,D3", "D3,X"}) EXPECT_FALSE(ParseShort(bad, pins, error)) << bad;
  BoxOptions o;
  EXPECT_TRUE(ParseRamFail("1A0010=55AA,54AA", o, error));
  EXPECT_EQ(o.ramFailAddress, 0x1A0010u);
  EXPECT_EQ(o.ramFailData2, 0x54AA);
  for (const char* bad : {"10=1", "10=1,", "10=10000,1", "x=1,2"}) EXPECT_FALSE(ParseRamFail(bad, o, error)) << bad;
}

}  // namespace
}  // namespace tarnvale::sim
