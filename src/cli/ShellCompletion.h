#pragma once
// Bash completion and the list of commands, both read from a program's own
// CLI11 command tree, so neither can drift from what the program accepts.
// The build asks the installed programs for them ("--completion bash",
// "--completion commands") when it writes the completion files and man pages.
#include <CLI/CLI.hpp>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tarnvale::cli {

// One command of the tree: its path of subcommand names below the program
// (empty for the program itself), what may follow it, and what it takes.
struct CommandNode {
  std::vector<std::string> path;
  std::vector<std::string> subcommands;
  std::vector<std::string> options;       // every visible spelling: "-h", "--help", "--port"
  std::vector<std::string> valueOptions;  // the spellings above that take a value
  // Value options limited to a fixed set (CLI::IsMember), with that set:
  // completion offers the set instead of file names.
  std::vector<std::pair<std::string, std::vector<std::string>>> choices;
  bool positionals = false;               // takes operands (file names, in practice)
};

// The program and every subcommand below it, depth first, in the order the
// program added them. Hidden options (no group) are left out.
std::vector<CommandNode> CommandTree(const CLI::App& app);

// A bash script that completes `program`'s subcommands, options and file names.
std::string BashCompletion(const CLI::App& app, const std::string& program);

// Answers "--completion bash" (the script) and "--completion commands" (one
// command path a line, the program itself left out) when they are the whole
// command line: true when it did, with the exit code in `exitCode`.
bool AnswerCompletionRequest(const CLI::App& app, const std::string& program, int argc,
                             const char* const* argv, std::ostream& out, std::ostream& err,
                             int& exitCode);

}  // namespace tarnvale::cli
