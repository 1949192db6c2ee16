#include "sim/SimLink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

namespace tarnvale::sim {
namespace {

using Clock = std::chrono::steady_clock;

// While nobody holds the pty's other side, the master reports a hang-up
// continuously; it is looked at again this often instead of spinning on it.
constexpr int kHangUpRecheckMs = 10;

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// The write end of the stop pipe: a signal handler can reach nothing else.
volatile sig_atomic_t g_stopWriteFd = -1;

extern "C" void OnStopSignal(int) {
  const char b = 1;
  if (g_stopWriteFd >= 0) [[maybe_unused]] const ssize_t n = ::write(g_stopWriteFd, &b, 1);
}

}  // namespace

bool LinkFromOptions(const std::string& tcp, std::uint32_t baud, LinkOptions& link, std::ostream& err) {
  link.baud = baud;
  if (tcp.empty()) return true;
  link.tcp = true;
  if (!ParseEndpoint(tcp, link.address, link.port)) {
    err << "--tcp wants ADDR:PORT, e.g. 127.0.0.1:0\n";
    return false;
  }
  if (!IsLoopbackAddress(link.address)) {
    err << "the simulator listens on loopback addresses (127.x.x.x) only\n";
    return false;
  }
  return true;
}

int InstallStopSignals() {
  int stopPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC) != 0) return -1;
  g_stopWriteFd = stopPipe[1];
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return stopPipe[0];
}

int OpenAndServe(SimLink& sim, const std::string& what, int stopFd, std::ostream& out, std::ostream& err) {
  std::string endpoint, error;
  if (!sim.Open(endpoint, error)) {
    err << error << "\n";
    return 1;
  }
  out << endpoint << std::endl;
  err << what << " ready (" << endpoint << "); Ctrl-C ends it\n";
  sim.Run(stopFd);
  return 0;
}

bool IsLoopbackAddress(const std::string& address) {
  in_addr a{};
  if (::inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
  return (ntohl(a.s_addr) >> 24) == 127;
}

bool ParseEndpoint(const std::string& text, std::string& address, std::uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  char* end = nullptr;
  const unsigned long p = std::strtoul(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || p > 65535) return false;
  address = text.substr(0, colon);
  port = static_cast<std::uint16_t>(p);
  return true;
}

SimLink::SimLink(SimDevice& device, LinkOptions options)
    : device_(device), options_(std::move(options)) {
  // Pacing at 921600 baud needs wake-ups finer than the default timer slack.
  ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
}

SimLink::~SimLink() {
  if (connFd_ >= 0) ::close(connFd_);
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::chrono::nanoseconds SimLink::ByteTime() const {
  if (options_.baud == 0) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(10'000'000'000LL / options_.baud);
}

bool SimLink::Open(std::string& endpoint, std::string& error) {
  if (!options_.tcp) {
    connFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (connFd_ < 0 || ::grantpt(connFd_) != 0 || ::unlockpt(connFd_) != 0) {
      error = std::string("cannot create a pseudo-terminal: ") + ::strerror(errno);
      return false;
    }
    traffic_.ptyMaster = connFd_;
    const std::string path = ::ptsname(connFd_);
    // Raw line discipline from the start, so nothing is echoed or translated
    // before the host configures its side.
    const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
      termios tio{};
      ::tcgetattr(slave, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(slave, TCSANOW, &tio);
      ::close(slave);
    }
    SetNonBlocking(connFd_);
    endpoint = "pty " + path;
    return true;
  }
  if (!IsLoopbackAddress(options_.address)) {
    error = "the simulator listens on loopback addresses (127.x.x.x) only: " + options_.address;
    return false;
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::string("socket: ") + ::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(options_.port);
  ::inet_pton(AF_INET, options_.address.c_str(), &sa.sin_addr);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listenFd_, 4) != 0) {
    error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " +
            ::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
  endpoint = "tcp " + options_.address + ":" + std::to_string(ntohs(sa.sin_port));
  return true;
}

void SimLink::Disconnect() {
  in_.clear();
  out_.clear();
  device_.ResetLink();
  if (options_.tcp && connFd_ >= 0) {
    ::close(connFd_);
    connFd_ = -1;
  }
}

void SimLink::ReadInput(TimePoint now) {
  std::uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(connFd_, buf, sizeof buf);
    if (n > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        inWireFree_ = std::max(inWireFree_, now) + ByteTime();
        in_.push_back(InByte{buf[i], inWireFree_});
      }
      // Owing before counted: whoever sees the count sees the debt.
      traffic_.owing = true;
      traffic_.received += static_cast<std::uint64_t>(n);
      if (static_cast<std::size_t>(n) < sizeof buf) return;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // End of stream (TCP) or a hang-up (pty). What arrived before it still
    // reaches the controller (a last 'g' CR), however fast the host left.
    ProcessInput(TimePoint::max());
    if (!options_.tcp) ptyHungUp_ = true;
    Disconnect();
    return;
  }
}

void SimLink::ProcessInput(TimePoint now) {
  std::vector<std::uint8_t> due;
  while (!in_.empty() && in_.front().due <= now) {
    due.push_back(in_.front().value);
    in_.pop_front();
  }
  if (due.empty()) return;
  std::vector<SimOutput> replies;
  device_.Feed(due.data(), due.size(), replies);
  for (auto& r : replies) {
    OutChunk c;
    c.bytes = std::move(r.bytes);
    c.notBefore = now == TimePoint::max() ? now : now + std::chrono::milliseconds(r.delayMs);
    c.reply = r.reply;
    c.close = r.close;
    out_.push_back(std::move(c));
  }
}

bool SimLink::FlushOutput(TimePoint now) {
  while (!out_.empty() && connFd_ >= 0) {
    OutChunk& c = out_.front();
    if (c.notBefore > now) return true;
    // Bytes whose wire time has passed by now.
    std::size_t ready = 0;
    TimePoint wire = std::max(outWireFree_, c.notBefore);
    while (c.sent + ready < c.bytes.size() && wire + ByteTime() <= now) {
      wire += ByteTime();
      ++ready;
    }
    if (ready > 0) {
      const ssize_t w = ::write(connFd_, c.bytes.data() + c.sent, ready);
      if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) return true;
        return !options_.tcp;  // a pty without its other side drops what it cannot send
      }
      c.sent += static_cast<std::size_t>(w);
      traffic_.sent += static_cast<std::uint64_t>(w);
      outWireFree_ = std::max(outWireFree_, c.notBefore) + ByteTime() * w;
    }
    if (c.sent < c.bytes.size()) return true;
    if (c.reply) device_.ReplyDelivered();
    const bool close = c.close;
    out_.pop_front();
    if (close) return false;
  }
  return true;
}

SimLink::TimePoint SimLink::NextDue() const {
  TimePoint next = TimePoint::max();
  if (!in_.empty()) next = in_.front().due;
  if (!out_.empty()) {
    const OutChunk& c = out_.front();
    next = std::min(next, std::max(outWireFree_, c.notBefore) + ByteTime());
  }
  return next;
}

void SimLink::Run(int stopFd) {
  while (!quit_) {
    const TimePoint now = Clock::now();
    ProcessInput(now);
    const bool flushed = FlushOutput(Clock::now());
    traffic_.owing = !in_.empty() || (!out_.empty() && out_.front().notBefore <= Clock::now());
    if (!flushed) {
      if (options_.tcp) {
        Disconnect();
      } else {
        traffic_.ptyMaster = -1;
        ::close(connFd_);
        connFd_ = -1;
        return;  // a hung-up pty has no way back: the controller is gone
      }
    }

    pollfd fds[2];
    nfds_t nfds = 0;
    fds[nfds++] = pollfd{stopFd, POLLIN, 0};
    int linkIndex = -1;
    const bool watchLink = options_.tcp ? true : !ptyHungUp_;
    if (options_.tcp) {
      linkIndex = static_cast<int>(nfds);
      fds[nfds++] = connFd_ >= 0 ? pollfd{connFd_, POLLIN, 0} : pollfd{listenFd_, POLLIN, 0};
    } else if (watchLink) {
      linkIndex = static_cast<int>(nfds);
      fds[nfds++] = pollfd{connFd_, POLLIN, 0};
    }

    timespec ts{};
    timespec* timeout = nullptr;
    TimePoint next = NextDue();
    if (!options_.tcp && ptyHungUp_) {
      next = std::min(next, Clock::now() + std::chrono::milliseconds(kHangUpRecheckMs));
    }
    if (next != TimePoint::max()) {
      const auto left = std::max<std::chrono::nanoseconds>(next - Clock::now(),
                                                          std::chrono::nanoseconds(0));
      ts.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      ts.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
      timeout = &ts;
    }
    const int r = ::ppoll(fds, nfds, timeout, nullptr);
    if (r < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;  // asked to stop

    if (!options_.tcp && ptyHungUp_) {
      pollfd p{connFd_, POLLIN, 0};
      ::poll(&p, 1, 0);
      if ((p.revents & POLLHUP) == 0) ptyHungUp_ = false;  // someone opened the other side
      continue;
    }
    if (linkIndex < 0 || r <= 0) continue;
    const short ev = fds[linkIndex].revents;
    if (ev == 0) continue;
    if (options_.tcp && connFd_ < 0) {
      const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (c >= 0) {
        const int one = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connFd_ = c;
        device_.ResetLink();
        inWireFree_ = outWireFree_ = Clock::now();
      }
      continue;
    }
    if (ev & (POLLIN | POLLHUP | POLLERR)) ReadInput(Clock::now());
  }
}

}  // namespace tarnvale::sim
