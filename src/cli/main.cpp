// tarnvale-cli: the scriptable front end of Tarnvale.
//
// Subcommands report failure by throwing CLI::RuntimeError(exit code) after
// printing the reason on stderr; CLI11 turns it into the process exit code.
#include "cli/Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Tarnvale: program and test Quor Controls controllers"};
  app.set_version_flag("--version", std::string("tarnvale-cli ") + TARNVALE_VERSION);
  app.require_subcommand(1);
  tarnvale::cli::RegisterPortCommands(app);
  tarnvale::cli::RegisterHexCommands(app);
  tarnvale::cli::RegisterControllerCommands(app);
  tarnvale::cli::RegisterBackupCommands(app);
  tarnvale::cli::RegisterBoxCommands(app);
  tarnvale::cli::RegisterPicCommands(app);
  tarnvale::cli::RegisterBootCommands(app);
  CLI11_PARSE(app, argc, argv);
  return tarnvale::cli::kExitOk;
}
