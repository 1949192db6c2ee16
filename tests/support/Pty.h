#pragma once
// Pseudo-terminal pairs and loopback TCP peers for tests: the program opens
// the slave side (or connects to the server) as it would a real device; the
// test plays the device on the master side.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvale::test {

class PtyPair {
 public:
  PtyPair();   // throws std::runtime_error when no pty can be made
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  void Send(const std::string& bytes);
  void Send(const std::vector<std::uint8_t>& bytes);
  // Reads what the program wrote: waits up to timeoutMs for `count` bytes
  // (or for anything at all when count is 0) and returns what came.
  std::string Receive(std::size_t count = 0, int timeoutMs = 1000);
  void CloseMaster();

 private:
  int master_ = -1;
  int keepSlave_ = -1;  // keeps the slave side alive between opens
  std::string slavePath_;
};

// A TCP server on 127.0.0.1 with an ephemeral port that accepts one client.
class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Accepts the pending client (waits up to timeoutMs); false on time-out.
  bool Accept(int timeoutMs = 2000);
  void Send(const std::string& bytes);
  std::string Receive(std::size_t count = 0, int timeoutMs = 1000);
  void CloseClient();

 private:
  int listen_ = -1;
  int client_ = -1;
  std::uint16_t port_ = 0;
};

// A loopback port with nothing listening on it.
std::uint16_t UnusedLoopbackPort();

}  // namespace tarnvale::test
