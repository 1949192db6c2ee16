#pragma once
#include <string>
#include <vector>

namespace tarnvale::platform {

struct PortInfo {
  std::string name;         // device path, e.g. /dev/ttyUSB0
  std::string description;  // for display, e.g. "FT232R USB UART (A9XYZ)"; may be empty
};

// The serial devices that really exist on this machine (USB adapters, ACM
// devices, on-board UARTs with hardware behind them), busy ones included,
// sorted by name. `sysRoot` is replaceable for tests.
std::vector<PortInfo> ListSerialPorts(const std::string& sysRoot = "/sys/class/tty",
                                      const std::string& devRoot = "/dev");

}  // namespace tarnvale::platform
