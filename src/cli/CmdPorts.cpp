// ports: the serial devices of this machine.
#include <iostream>

#include "cli/Commands.h"
#include "core/link/CommPort.h"

namespace tarnvale::cli {

void RegisterPortCommands(CLI::App& app) {
  app.add_subcommand("ports", "List the serial ports with their descriptions")->callback([] {
    std::vector<PortInfo> ports;
    CommPort::EnumeratePorts(ports);
    if (ports.empty()) {
      std::cerr << "No serial ports found. A controller on TCP/IP is reached by its address, "
                   "e.g. --port 10.10.10.91\n";
      return;
    }
    for (const PortInfo& p : ports) {
      std::cout << p.name;
      if (!p.description.empty()) std::cout << "\t" << p.description;
      std::cout << "\n";
    }
  });
}

}  // namespace tarnvale::cli
