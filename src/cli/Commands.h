#pragma once
// Subcommand groups of tarnvale-cli. Each group lives in its own file and
// adds its subcommands to the application here.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "core/formats/HexRecord.h"
#include "core/result/ResultCode.h"

namespace tarnvale {
class ConfigData;
}

namespace tarnvale::cli {

// Loads the settings of a command and says on stderr, as "warning: ..."
// lines, what had to fall back to a default.
void LoadSettings(ConfigData& settings);

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

// The exit code of a command that ended with `code`: success 0; a port that
// would not open 3; no answer in time 4; a file error 5; the operator's "no"
// 6; a stop the program requested (Ctrl-C) 130; anything the device refused 1.
int ExitCodeFor(ResultCode code);

// The text of a result for the command line: ResultText, except that the
// codes without a text of their own (lanes, image size, the boot image's
// board record checks, a declined question) say what is wrong in words
// instead of "Un-recognized return code".
std::string CliResultText(ResultCode code);

// The table of exit codes for --help and the README.
std::string ExitCodeHelp();

// "FILE:LINE: <text> (<reason>)" for a file refused by a reader; without a
// line or reason those parts are left out.
std::string FileErrorText(const std::string& path, ResultCode code, const FileFailure& failure);

// Prints `text` on stderr and ends the command with `exitCode`.
[[noreturn]] void Fail(const std::string& text, int exitCode);

// Ends the command with exit 5 before anything is read or sent when the
// output `path` is no place for a file (a device, a FIFO, a folder) or is one
// of `inputs`: "PATH: Can't Open Output File (is a character device, not a
// regular file)". A link is fine: the file it names is written.
void RefuseBadOutput(const std::string& path, const std::vector<std::string>& inputs = {});

// `path` made absolute against the working directory (as given when that
// fails; empty stays empty). Paths are fixed this way before the settings
// are loaded, since loading them moves the working directory.
std::string Absolute(const std::string& path);

void RegisterPortCommands(CLI::App& app);        // ports
void RegisterHexCommands(CLI::App& app);         // hex scan, hex stream, srec convert
void RegisterControllerCommands(CLI::App& app);  // info, flash, load, dump
void RegisterBackupCommands(CLI::App& app);      // backup save|load|diff, serial-test
void RegisterBoxCommands(CLI::App& app);         // box version|jtag-id|board-info, cpu-test pins|ram
void RegisterSettingsCommands(CLI::App& app);    // settings list, get, set, path
void RegisterTn835Commands(CLI::App& app);       // tn835 program-boot|program-application|program-test
void RegisterPicCommands(CLI::App& app);         // pic18 ..., pic30 ...
void RegisterBootCommands(CLI::App& app);        // boot program|read|verify|blank|erase
void RegisterDoctorCommands(CLI::App& app);      // doctor
void RegisterProductionCommands(CLI::App& app);  // production history

}  // namespace tarnvale::cli
