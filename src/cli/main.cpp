// tarnvale-cli: the scriptable front end of Tarnvale.
//
// Subcommands report failure by throwing CLI::RuntimeError(exit code) after
// printing the reason on stderr; that code becomes the process exit code.
// The codes are listed in Commands.h and at the end of --help.
#include "cli/Commands.h"
#include "cli/ShellCompletion.h"

#include <iostream>

#include "core/platform/SettingsFile.h"
#include "core/settings/SettingsCatalog.h"

int main(int argc, char** argv) {
  // Named here, not from argv[0], so help and man pages say "tarnvale-cli"
  // wherever the program was started from.
  CLI::App app{"Tarnvale: program and test Quor Controls controllers", "tarnvale-cli"};
  app.set_version_flag("--version", std::string("tarnvale-cli ") + TARNVALE_VERSION);
  app.require_subcommand(1);
  tarnvale::cli::RegisterPortCommands(app);
  tarnvale::cli::RegisterHexCommands(app);
  tarnvale::cli::RegisterControllerCommands(app);
  tarnvale::cli::RegisterBackupCommands(app);
  tarnvale::cli::RegisterBoxCommands(app);
  tarnvale::cli::RegisterPicCommands(app);
  tarnvale::cli::RegisterBootCommands(app);
  tarnvale::cli::RegisterTn835Commands(app);
  tarnvale::cli::RegisterSettingsCommands(app);
  tarnvale::cli::RegisterDoctorCommands(app);
  tarnvale::cli::RegisterProductionCommands(app);
  app.footer(tarnvale::cli::ExitCodeHelp());
  // The build writes the completion file and the man page from these.
  if (int code = 0; tarnvale::cli::AnswerCompletionRequest(app, "tarnvale-cli", argc, argv, std::cout,
                                                           std::cerr, code)) {
    return code;
  }
  // A damaged or strange settings file is said once per run, before any
  // command reads or saves it.
  if (const std::string problem = tarnvale::platform::SettingsFile(tarnvale::SettingsFilePath(), tarnvale::SettingsLayout()).Problem();
      !problem.empty()) {
    std::cerr << "warning: " << problem << "\n";
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // A command's own failure carries its exit code and has said why; any
    // other parse error is a usage error, whatever number CLI11 gives it.
    const int code = app.exit(e);
    if (dynamic_cast<const CLI::RuntimeError*>(&e) != nullptr || code == 0) return code;
    return tarnvale::cli::kExitUsage;
  }
  return tarnvale::cli::kExitOk;
}
