#pragma once
// "tarnvale-sim rq750": the simulated RQ750 on a pty or loopback TCP port.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvale::sim {

class Rq750Command {
 public:
  explicit Rq750Command(CLI::App& app);
  bool Parsed() const { return cmd_->parsed(); }
  // Serves until SIGINT or SIGTERM; the process exit code.
  int Run();

 private:
  CLI::App* cmd_;
  bool pty_ = false;
  bool empty_ = false;
  std::string tcp_;
  std::string model_ = "RQ750-24";
  std::string protocol_ = "3.2";
  std::uint32_t seed_ = 1;
  std::uint32_t baud_ = 0;
  std::string dataPath_;
  std::string savePath_;
  std::string logPath_;
  std::vector<std::string> faults_;
};

}  // namespace tarnvale::sim
