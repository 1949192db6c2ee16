#include "support/Pty.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tarnvale::test {
namespace {

void WriteAllFd(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      pollfd pf{fd, POLLOUT, 0};
      ::poll(&pf, 1, 100);
      continue;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

std::string ReceiveFd(int fd, std::size_t count, int timeoutMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    if (count == 0 || out.size() >= count) break;
  }
  return out;
}

}  // namespace

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error("cannot create a pseudo-terminal");
  }
  slavePath_ = ::ptsname(master_);
  // Raw master side, so the test sees exactly the program's bytes.
  keepSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  ::tcgetattr(keepSlave_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(keepSlave_, TCSANOW, &tio);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (keepSlave_ >= 0) ::close(keepSlave_);
  if (master_ >= 0) ::close(master_);
}

void PtyPair::Send(const std::string& bytes) { WriteAllFd(master_, bytes.data(), bytes.size()); }
void PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
  WriteAllFd(master_, bytes.data(), bytes.size());
}
std::string PtyPair::Receive(std::size_t count, int timeoutMs) {
  return ReceiveFd(master_, count, timeoutMs);
}
void PtyPair::CloseMaster() {
  if (keepSlave_ >= 0) ::close(keepSlave_);
  keepSlave_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

LoopbackServer::LoopbackServer() {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = 0;
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listen_, 4) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  socklen_t len = sizeof sa;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

LoopbackServer::~LoopbackServer() {
  CloseClient();
  if (listen_ >= 0) ::close(listen_);
}

bool LoopbackServer::Accept(int timeoutMs) {
  pollfd pf{listen_, POLLIN, 0};
  if (::poll(&pf, 1, timeoutMs) <= 0) return false;
  client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  return client_ >= 0;
}

void LoopbackServer::Send(const std::string& bytes) {
  WriteAllFd(client_, bytes.data(), bytes.size());
}

std::string LoopbackServer::Receive(std::size_t count, int timeoutMs) {
  return ReceiveFd(client_, count, timeoutMs);
}

void LoopbackServer::CloseClient() {
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

std::uint16_t UnusedLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(s);  // nothing listens here now
  return ntohs(sa.sin_port);
}

}  // namespace tarnvale::test
