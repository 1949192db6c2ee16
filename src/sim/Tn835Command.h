#pragma once
// "tarnvale-sim tn835": the simulated TN835 controller on a pty or loopback
// TCP port; and the TN835 bench (the controller beside the box with the
// TN835 CPU on its JTAG cable), which "bench --controller tn835" serves.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "sim/BoxDevice.h"
#include "sim/SimLink.h"
#include "sim/Tn835Device.h"

namespace tarnvale::sim {

// Checks --fault texts for the TN835 controller; false with the reason.
bool ParseTn835Faults(const std::vector<std::string>& texts, Tn835Options& options,
                      std::string& error);

// Writes bytes to a file; false when it cannot be written.
bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Serves the controller and the box until `stopFd` becomes readable; prints
// "controller <endpoint>" and "programmer <endpoint>" first. At the end the
// controller's flash goes to `saveFlash` and the CPU's boot flash to
// `saveBoot` when they are named.
int ServeTn835Bench(const Tn835Options& controller, const BoxOptions& box, const LinkOptions& link,
                    int stopFd, const std::string& saveFlash, const std::string& saveBoot,
                    std::ostream& out, std::ostream& err);

class Tn835Command {
 public:
  explicit Tn835Command(CLI::App& app);
  bool Parsed() const { return cmd_->parsed(); }
  // Serves until `stopFd` becomes readable; the process exit code.
  int Run(int stopFd);

 private:
  CLI::App* cmd_;
  bool pty_ = false;
  std::string tcp_;
  std::uint32_t baud_ = 0;
  Tn835Options options_;
  std::vector<std::string> faults_;
  std::string savePath_;
};

}  // namespace tarnvale::sim
