#include "core/platform/SerialDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "core/platform/Clock.h"

namespace tarnvale::platform {

bool SetCustomBaud(int fd, std::uint32_t baud);  // SerialBaud.cpp

namespace {


speed_t StandardSpeed(std::uint32_t baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

class SerialStream final : public Stream {
 public:
  SerialStream(int fd, std::uint32_t baud) : fd_(fd), baud_(baud == 0 ? 9600 : baud) {}
  ~SerialStream() override { Close(); }

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    if (fd_ < 0 || max == 0) return 0;
    // An empty input queue returns at once without a system read.
    if (BytesWaiting() == 0) return 0;
    const ssize_t n = ::read(fd_, buffer, max);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

  std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
    if (fd_ < 0) return 0;
    // No flow control, so a real UART always drains; the bound only guards
    // against a peer that stops reading (a pseudo-terminal nobody drains).
    const std::uint64_t wireMs = static_cast<std::uint64_t>(count) * 10000u / baud_;
    const std::uint32_t limitMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(wireMs * 2 + 2000, 600000));
    const Clock& clock = SystemClock();
    const std::uint32_t start = clock.TickMs();
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, buffer + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;
      const std::uint32_t elapsed = clock.TickMs() - start;
      if (elapsed >= limitMs) break;
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(limitMs - elapsed, 100)));
    }
    return done;
  }

  std::size_t BytesWaiting() override {
    if (fd_ < 0) return 0;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
  }

  bool Purge() override { return fd_ >= 0 && ::tcflush(fd_, TCIOFLUSH) == 0; }

  bool PurgeInput() override { return fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) == 0; }

  void DrainOutput() override {
    if (fd_ < 0) return;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    // Twice the wire time of what is queued, plus a little: a peer that
    // never reads (a pseudo-terminal nobody drains) cannot hold us up.
    const std::uint64_t wireMs = static_cast<std::uint64_t>(queued) * 10000u / baud_;
    const std::uint32_t limitMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(wireMs * 2 + 20, 2000));
    const Clock& clock = SystemClock();
    const std::uint32_t start = clock.TickMs();
    while (clock.TickMs() - start < limitMs) {
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
      clock.SleepMs(1);
    }
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    if (fd_ < 0) return false;
    if (BytesWaiting() > 0) return true;
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
    if (r > 0 && (p.revents & POLLIN) && BytesWaiting() > 0) return true;
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN))) {
      // The other end is gone (a pseudo-terminal whose master closed): nothing
      // will arrive. Say so, and pause a little so a caller that does not ask
      // does not spin on the hang-up.
      hungUp_ = true;
      SystemClock().SleepMs(std::min<std::uint32_t>(timeoutMs, kLostPauseMs));
    }
    return false;
  }

  bool LinkLost() const override { return hungUp_; }

  bool Close() override {
    if (fd_ < 0) return false;
    ::flock(fd_, LOCK_UN);
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

  int Descriptor() const override { return fd_; }
  bool IsTcp() const override { return false; }

 private:
  static constexpr std::uint32_t kLostPauseMs = 20;
  bool hungUp_ = false;
  int fd_;
  std::uint32_t baud_;
};

}  // namespace

void ApplyLineSettings(termios& tio, const SerialParams& params) {
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CMSPAR);
  switch (params.byteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  switch (params.parity) {
    case Parity::Odd: tio.c_cflag |= PARENB | PARODD; break;
    case Parity::Even: tio.c_cflag |= PARENB; break;
    case Parity::Mark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case Parity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    case Parity::None: break;
  }
  // 1.5 stop bits do not exist in termios; two is the nearest safe choice.
  if (params.stopBits != StopBits::One) tio.c_cflag |= CSTOPB;
}

namespace {

bool Configure(int fd, const SerialParams& params, std::string& error) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  ApplyLineSettings(tio, params);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  const speed_t speed = StandardSpeed(params.baud);
  if (speed != B0) ::cfsetspeed(&tio, speed);
  // Not checked: a driver that cannot do every setting (a pseudo-terminal
  // has neither parity nor 7-bit bytes) still carries the link.
  ::tcsetattr(fd, TCSANOW, &tio);
  if (speed == B0 && !SetCustomBaud(fd, params.baud)) {
    error = "baud rate " + std::to_string(params.baud) + " not supported by the driver";
    return false;
  }
  // The controller link uses neither modem line: drop both. Pseudo-terminals
  // have no modem lines and refuse this, which is harmless.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIC, &lines);
  return true;
}

}  // namespace


bool SetSerialBaud(int fd, std::uint32_t baud) {
  const speed_t speed = StandardSpeed(baud);
  if (speed == B0) return SetCustomBaud(fd, baud);
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfsetspeed(&tio, speed);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::unique_ptr<Stream> OpenSerialDevice(const std::string& path, const SerialParams& params,
                                         std::string& error) {
  error.clear();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + ::strerror(errno);
    return nullptr;
  }
  // Exclusive use: an advisory lock that every instance of this program
  // honours (root ignores TIOCEXCL), plus TIOCEXCL for other programs.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = path + ": port is busy (in use by another program)";
    ::close(fd);
    return nullptr;
  }
  if (!::isatty(fd)) {
    error = path + ": not a serial device";
    ::close(fd);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  if (!Configure(fd, params, error)) {
    if (error.empty()) error = path + ": cannot configure: " + ::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<SerialStream>(fd, params.baud);
}

std::optional<SerialParams> ReadLineSettings(int fd) {
  static const std::pair<speed_t, std::uint32_t> kRates[] = {
      {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
      {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
      {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return std::nullopt;
  SerialParams p;
  p.baud = 0;
  for (const auto& [speed, baud] : kRates) {
    if (speed == ::cfgetospeed(&tio)) p.baud = baud;
  }
  if (p.baud == 0) return std::nullopt;
  switch (tio.c_cflag & CSIZE) {
    case CS5: p.byteSize = 5; break;
    case CS6: p.byteSize = 6; break;
    case CS7: p.byteSize = 7; break;
    default: p.byteSize = 8; break;
  }
  if ((tio.c_cflag & PARENB) != 0) {
    const bool odd = (tio.c_cflag & PARODD) != 0;
    const bool stick = (tio.c_cflag & CMSPAR) != 0;
    p.parity = stick ? (odd ? Parity::Mark : Parity::Space) : (odd ? Parity::Odd : Parity::Even);
  }
  p.stopBits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
  return p;
}

}  // namespace tarnvale::platform
