// The stored parity, byte size and stop-bit codes and the line settings
// they give: the mapping itself, and what an opened pseudo-terminal reports
// back through tcgetattr (it keeps the odd, mark/space and stop-bit flags,
// though it forces 8-bit bytes without parity).
#include <gtest/gtest.h>
#include <termios.h>

#include "core/link/CommPort.h"
#include "core/platform/SerialDevice.h"
#include "support/Pty.h"

namespace tarnvale {
namespace {

using platform::SerialParams;

struct ParityCase {
  std::uint8_t code;
  const char* name;
  tcflag_t flags;  // of PARENB, PARODD, CMSPAR
};
const ParityCase kParities[] = {
    {0, "none", 0},
    {1, "odd", PARENB | PARODD},
    {2, "even", PARENB},
    {3, "mark", PARENB | PARODD | CMSPAR},
    {4, "space", PARENB | CMSPAR},
    // A code no dialog writes falls back to the plain setting.
    {5, "unknown code 5", 0},
    {255, "unknown code 255", 0},
};
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

struct StopCase {
  std::uint8_t code;
  const char* name;
  bool twoStopBits;
};
const StopCase kStops[] = {{0, "one", false}, {1, "one and a half", true}, {2, "two", true}, {3, "unknown", false}};

struct SizeCase {
  std::uint8_t code;
  tcflag_t csize;
};
const SizeCase kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

TEST(SerialLineSettings, EveryCodeMapsToItsFlags) {
  for (const ParityCase& p : kParities) {
    for (const StopCase& s : kStops) {
      for (const SizeCase& z : kSizes) {
        // Start from the opposite of what is wanted, so stale flags would show.
        termios tio{};
        tio.c_cflag = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CLOCAL | CREAD;
        tio.c_iflag = IGNPAR;
        platform::ApplyLineSettings(tio, platform::SerialParams{9600, ParityFromCode(p.code), z.code, StopBitsFromCode(s.code)});
        const std::string what = std::string(p.name) + " parity, " + s.name + " stop bit(s), " +
                                 std::to_string(z.code) + " bits";
        EXPECT_EQ(tio.c_cflag & kParityBits, p.flags) << what;
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, s.twoStopBits) << what;
        EXPECT_EQ(tio.c_cflag & CSIZE, z.csize) << what;
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD) << what << ": other flags stay";
        EXPECT_EQ(tio.c_iflag, static_cast<tcflag_t>(IGNPAR)) << what << ": other flags stay";
      }
    }
  }
}

// The mapping above reaches the device: mark parity and two stop bits, the
// flags a pseudo-terminal keeps (it clears PARENB), at the chosen speed.
TEST(SerialLineSettings, OpenedDeviceReportsParityAndStopBits) {
  test::PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 19200, Parity::Mark, 8, StopBits::Two)) << port.LastError();
  termios tio{};
  ASSERT_EQ(::tcgetattr(port.Descriptor(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B19200));
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u) << "no XON/XOFF";
}

}  // namespace
}  // namespace tarnvale
