#include "core/platform/PortList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace tarnvale::platform {
namespace fs = std::filesystem;
namespace {

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Walks up from the tty's device towards the USB device that carries the
// product and serial strings.
std::string UsbDescription(const fs::path& deviceLink) {
  std::error_code ec;
  fs::path dir = fs::canonical(deviceLink, ec);
  if (ec) return {};
  for (int depth = 0; depth < 6 && !dir.empty() && dir != dir.root_path(); ++depth) {
    if (fs::exists(dir / "idVendor", ec)) {
      std::string product = ReadLine(dir / "product");
      if (product.empty()) product = ReadLine(dir / "manufacturer");
      const std::string serial = ReadLine(dir / "serial");
      if (product.empty()) product = "USB " + ReadLine(dir / "idVendor") + ":" + ReadLine(dir / "idProduct");
      return serial.empty() ? product : product + " (" + serial + ")";
    }
    dir = dir.parent_path();
  }
  return {};
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<PortInfo> ports;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysRoot, ec)) {
    const fs::path dir = entry.path();
    const std::string name = dir.filename().string();
    // Virtual terminals and pseudo-terminals have no device behind them.
    if (!fs::exists(dir / "device", ec)) continue;
    std::string description;
    if (name.rfind("ttyS", 0) == 0) {
      // The 8250 driver registers placeholder ports; a real UART has a type.
      const std::string type = ReadLine(dir / "type");
      if (type.empty() || type == "0") continue;
      description = "Serial port";
    } else {
      description = UsbDescription(dir / "device");
    }
    ports.push_back({devRoot + "/" + name, description});
  }
  std::sort(ports.begin(), ports.end(),
            [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
  return ports;
}

}  // namespace tarnvale::platform
