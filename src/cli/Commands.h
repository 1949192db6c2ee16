#pragma once
// Subcommand groups of tarnvale-cli. Each group lives in its own file and
// adds its subcommands to the application here.
#include <CLI/CLI.hpp>

namespace tarnvale::cli {

// Exit codes: 0 only on success.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // the operation ran and failed
inline constexpr int kExitUsage = 2;     // bad arguments (CLI11's own code too)

void RegisterPortCommands(CLI::App& app);        // ports
void RegisterHexCommands(CLI::App& app);         // hex scan, hex stream, srec convert
void RegisterControllerCommands(CLI::App& app);  // info, flash, load, dump

}  // namespace tarnvale::cli
