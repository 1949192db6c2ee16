// info, flash, load, dump: the controller workflows on the command line.
#include "Commands.h"

namespace tarnvale::cli {

void RegisterControllerCommands(CLI::App& /*app*/) {}

}  // namespace tarnvale::cli
