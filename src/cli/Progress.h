#pragma once
// Progress of the long jobs on the command line. On a terminal: one line
// redrawn in place with a bar, the rate and the time left. Otherwise: plain
// lines at every tenth of the way. With --progress json: one JSON object per
// engine event on stdout, for programs that drive the CLI.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "core/flash/Workflows.h"

namespace tarnvale::cli {

class CliOperator;

enum class ProgressStyle { Bar, Plain, Json };

// Chooses the style: json when asked, a bar when stderr is a terminal.
ProgressStyle ChooseProgressStyle(const std::string& requested, bool stderrIsTerminal);

// "[#####.....]  45%  1200 rec/s  0:12 left" style line for a fraction done.
std::string ProgressLine(double fraction, double ratePerSecond, const std::string& unit,
                         double secondsLeft, int width = 30);

class CliJobRunner : public JobRunner {
 public:
  CliJobRunner(CliOperator& op, ProgressStyle style, std::ostream& out, std::ostream& err,
               bool runOnCompletion = false)
      : op_(op), style_(style), out_(out), err_(err), runOnCompletion_(runOnCompletion) {}

  ResultCode RunProgramming(const ProgrammingRequest& request) override;
  ResultCode RunMemoryRead(const MemoryReadRequest& request) override;

 private:
  CliOperator& op_;
  ProgressStyle style_;
  std::ostream& out_;
  std::ostream& err_;
  bool runOnCompletion_;
};

}  // namespace tarnvale::cli
