// What a verify reads back: the data packets of a stream at their pages,
// joined where they touch, blank stretches (never sent) left out, and
// nothing at or above the limit the device does not write.
#include <gtest/gtest.h>

#include "core/flash/Verify.h"

namespace tarnvale {
namespace {

Packet Data(std::uint16_t offset, std::vector<std::uint8_t> bytes) {
  return BuildPacket(static_cast<std::uint8_t>(bytes.size()), offset, packet_type::kData, bytes);
}
Packet Page(std::uint16_t page) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page)};
  return BuildPacket(2, 0, packet_type::kSetPage, b);
}

TEST(Verify, ProgrammedRangesFollowPagesJoinNeighboursAndStopAtTheLimit) {
  struct Case {
    const char* name;
    std::vector<Packet> stream;
    std::uint64_t below;
    std::vector<std::pair<std::uint32_t, std::size_t>> ranges;  // start, length
  };
  const std::vector<Case> cases{
      {"two touching packets are one range", {Page(0x03C0), Data(0, {1, 2}), Data(2, {3})}, UINT64_MAX,
       {{0x03C00000, 3}}},
      {"a gap (a blank packet not sent) splits", {Page(0x03C0), Data(0, {1}), Data(0x20, {2})}, UINT64_MAX,
       {{0x03C00000, 1}, {0x03C00020, 1}}},
      {"a page change carries on across 64 KB",
       {Page(0x03C0), Data(0xFFFF, {1}), Page(0x03C1), Data(0, {2})}, UINT64_MAX, {{0x03C0FFFF, 2}}},
      {"framing packets carry nothing",
       {Page(1), BuildPacket(0, 0, packet_type::kEndOfFile), BuildPacket(0, 0, packet_type::kErase)}, UINT64_MAX, {}},
      {"the limit cuts a packet and drops what lies above",
       {Page(0x03FF), Data(0xBFFE, {1, 2, 3, 4}), Data(0xC010, {5})}, 0x03FFC000, {{0x03FFBFFE, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ranges = ProgrammedRanges(c.stream, c.below);
    ASSERT_EQ(ranges.size(), c.ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i].start, c.ranges[i].first);
      EXPECT_EQ(ranges[i].bytes.size(), c.ranges[i].second);
    }
  }
  const auto joined = ProgrammedRanges({Page(0), Data(0, {1, 2}), Data(2, {3})});
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_EQ(joined[0].bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace tarnvale
