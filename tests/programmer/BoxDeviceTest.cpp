// The simulator's fault options as the bench's command line spells them: a
// typo must be refused, not run as another fault. (What the simulated box
// answers is relied on, and so checked, by every workflow run against it.)
#include <gtest/gtest.h>

#include "sim/BoxDevice.h"

namespace tarnvale::sim {
namespace {

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
