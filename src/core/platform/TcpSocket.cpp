#include "core/platform/TcpSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "core/platform/Clock.h"

namespace tarnvale::platform {


namespace {

constexpr std::uint32_t kWriteStallMs = 5000;

class TcpStream final : public Stream {
 public:
  explicit TcpStream(int fd) : fd_(fd) {}
  ~TcpStream() override { Close(); }

  std::size_t Read(std::uint8_t* buffer, std::size_t max) override {
    if (fd_ < 0 || max == 0 || peerClosed_) return 0;
    const ssize_t n = ::recv(fd_, buffer, max, MSG_DONTWAIT);
    if (n == 0) peerClosed_ = true;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

  std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
    if (fd_ < 0) return 0;
    const Clock& clock = SystemClock();
    std::uint32_t lastProgress = clock.TickMs();
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::send(fd_, buffer + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        lastProgress = clock.TickMs();
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;
      const std::uint32_t stalled = clock.TickMs() - lastProgress;
      if (stalled >= kWriteStallMs) break;
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(kWriteStallMs - stalled, 100)));
    }
    return done;
  }

  std::size_t BytesWaiting() override {
    if (fd_ < 0 || peerClosed_) return 0;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
  }

  bool Purge() override {
    if (fd_ < 0) return false;
    std::uint8_t scratch[4096];
    while (BytesWaiting() > 0) {
      if (Read(scratch, sizeof scratch) == 0) break;
    }
    return true;
  }

  bool WaitReadable(std::uint32_t timeoutMs) override {
    if (fd_ < 0) return false;
    if (!peerClosed_) {
      if (BytesWaiting() > 0) return true;
      pollfd p{fd_, POLLIN | POLLRDHUP, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
      if (r <= 0) return false;
      if (BytesWaiting() > 0) return true;
      // Readable with nothing to read: the peer has closed.
      peerClosed_ = true;
    }
    // Nothing will arrive any more; a short pause keeps a caller that does
    // not ask LinkLost from spinning.
    SystemClock().SleepMs(std::min<std::uint32_t>(timeoutMs, 20));
    return false;
  }

  bool LinkLost() const override { return peerClosed_; }

  bool Close() override {
    if (fd_ < 0) return false;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

  int Descriptor() const override { return fd_; }
  bool IsTcp() const override { return true; }

 private:
  int fd_;
  bool peerClosed_ = false;
};

}  // namespace

bool ParseIpv4Endpoint(const std::string& text, std::string& host, std::uint16_t& port) {
  const auto colon = text.find(':');
  host = text.substr(0, colon);
  port = kDefaultTcpPort;
  // Four dotted decimal fields, nothing else (inet_pton alone accepts none of
  // the shorthand forms, which is what we want).
  in_addr addr{};
  if (host.empty() || ::inet_pton(AF_INET, host.c_str(), &addr) != 1) return false;
  if (colon != std::string::npos) {
    const std::string p = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
    if (ec != std::errc() || end != p.data() + p.size() || value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
  }
  return true;
}

std::unique_ptr<Stream> ConnectTcp(const std::string& host, std::uint16_t port, std::string& error,
                                   std::uint32_t timeoutMs) {
  error.clear();
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
    error = host + ": not an IPv4 address";
    return nullptr;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + ::strerror(errno);
    return nullptr;
  }
  const std::string where = host + ":" + std::to_string(port);
  int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  if (r != 0 && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    r = ::poll(&p, 1, static_cast<int>(timeoutMs));
    if (r == 0) {
      error = where + ": no answer within " + std::to_string(timeoutMs / 1000) + " s";
      ::close(fd);
      return nullptr;
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (r < 0 || err != 0) {
      error = where + ": " + ::strerror(err != 0 ? err : errno);
      ::close(fd);
      return nullptr;
    }
  } else if (r != 0) {
    error = where + ": " + ::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::make_unique<TcpStream>(fd);
}

}  // namespace tarnvale::platform
