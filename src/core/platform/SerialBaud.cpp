// Arbitrary baud rates (28800, 14400, 7200, ...) through the kernel's termios2
// interface. Kept in its own file: <asm/termbits.h> clashes with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace tarnvale::platform {

bool SetCustomBaud(int fd, std::uint32_t baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;
  // Read back: a driver that cannot do the rate rounds it or refuses it.
  struct termios2 check {};
  if (ioctl(fd, TCGETS2, &check) != 0) return false;
  const std::uint32_t got = check.c_ospeed;
  // Accept the usual 2% UART tolerance.
  const std::uint32_t diff = got > baud ? got - baud : baud - got;
  return diff * 50 <= baud;
}

}  // namespace tarnvale::platform
