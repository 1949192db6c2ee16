// ports: the serial devices of this machine.
#include <iostream>

#include "Commands.h"

namespace tarnvale::cli {

void RegisterPortCommands(CLI::App& app) {
  app.add_subcommand("ports", "List the serial ports with their descriptions")
      ->callback([] { std::cout << "(none)\n"; });
}

}  // namespace tarnvale::cli
