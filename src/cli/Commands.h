#pragma once
// Subcommand groups of tarnvale-cli. Each group lives in its own file and
// adds its subcommands to the application here.
#include <CLI/CLI.hpp>

namespace tarnvale::cli {

// Exit codes: 0 only on success. Every command maps its outcome onto these,
// so a script can tell a bad cable from a bad file from a refusing device.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;      // the device refused or a check found a fault
inline constexpr int kExitUsage = 2;        // bad arguments
inline constexpr int kExitPort = 3;         // the port would not open
inline constexpr int kExitTimeout = 4;      // no answer in time, or the link was lost
inline constexpr int kExitBadFile = 5;      // an input file is missing or invalid, or an output cannot be written
inline constexpr int kExitDeclined = 6;     // the operator answered "no" or cancelled
inline constexpr int kExitInterrupted = 130;  // stopped by SIGINT or SIGTERM

void RegisterPortCommands(CLI::App& app);        // ports
void RegisterHexCommands(CLI::App& app);         // hex scan, hex stream, srec convert
void RegisterControllerCommands(CLI::App& app);  // info, flash, load, dump
void RegisterBackupCommands(CLI::App& app);      // backup save|load|diff, serial-test
void RegisterBoxCommands(CLI::App& app);         // box version|jtag-id|board-info, cpu-test pins|ram
void RegisterPicCommands(CLI::App& app);         // pic18 ..., pic30 ...
void RegisterBootCommands(CLI::App& app);        // boot program|read|verify|blank|erase

}  // namespace tarnvale::cli
