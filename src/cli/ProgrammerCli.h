#pragma once
// What the pic18, pic30 and boot command groups share: the programmer-port
// options, the link of one command and how it ends (its result's exit
// status through ExitCodeFor, Ctrl-C as 130).

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/BoxSettle.h"
#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/flash/Workflows.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/PicCommands.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {

struct ProgrammerArgs {
  std::string port;
  std::uint32_t baud = 0;
  std::string progress = "auto";
};

inline void AddProgrammerOptions(CLI::App* cmd, ProgrammerArgs& args, bool progress) {
  cmd->add_option("--programmer-port", args.port,
                  "Universal Programmer port: a device path, COMn, or A.B.C.D[:PORT] (default: "
                  "the stored programmer port)");
  cmd->add_option("--baud", args.baud, "Baud rate of the programmer port (default: the stored one)");
  if (progress) {
    cmd->add_option("--progress", args.progress, "auto (bar on a terminal), plain, bar or json")
        ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
  }
}

// A long box run under Ctrl-C (an InterruptGuard installed by the command):
// the runner watches for the signal during the erase wait and the transfer;
// one that came earlier, while the box was being selected or the board
// checked, ends the command before anything is erased.
class InterruptibleRunner : public JobRunner {
 public:
  explicit InterruptibleRunner(JobRunner& inner) : inner_(inner) {}
  ResultCode RunProgramming(const ProgrammingRequest& request) override {
    return StoppedEarly() ? rc::kStoppedByProgram : inner_.RunProgramming(request);
  }
  ResultCode RunMemoryRead(const MemoryReadRequest& request) override {
    return StoppedEarly() ? rc::kStoppedByProgram : inner_.RunMemoryRead(request);
  }
  // True when the signal came before the run started.
  bool StoppedBeforeStart() const { return stoppedEarly_; }

 private:
  bool StoppedEarly() { return stoppedEarly_ = Interrupted(); }
  JobRunner& inner_;
  bool stoppedEarly_ = false;
};

// What an interrupted read-back says about its file.
inline std::string KeptText(const std::string& path) {
  return "what was read is kept in " + PartialDumpPath(path) + "; " + path + " is left as it was";
}

// The settings, operator, link and job runner of one command on the
// programmer port. The controller port is left alone: a command line run
// has no terminal to hand it back to.
class ProgrammerSession {
 public:
  explicit ProgrammerSession(const ProgrammerArgs& args)
      : op_(std::cout, std::cerr), settleMs_(BoxSettleFromEnvironment()) {
    style_ = ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
    op_.SetJson(style_ == ProgressStyle::Json);
    LoadSettings(settings_);
    link_ = std::make_unique<LinkState>(settings_, &op_);
    ApplySelectWait(*link_);
    // The options hold for this run only; the settings record stays as stored.
    link_->SetOverride(PortRole::Programmer, {args.port, args.baud});
    link_->SetOverride(PortRole::Primary, {"", 0, true});
    runner_ = std::make_unique<CliJobRunner>(op_, style_, std::cout, std::cerr);
    interruptible_ = std::make_unique<InterruptibleRunner>(*runner_);
  }
  ~ProgrammerSession() {
    if (CommPort* port = link_->ProgrammerPort()) port->Close();
  }
  LinkState& Link() { return *link_; }
  CliOperator& Op() { return op_; }
  JobRunner& Runner() { return *interruptible_; }
  ProgressStyle Style() const { return style_; }
  // The box's settle times of this run (see BoxSettle.h), and the options
  // of the PIC and boot commands that carry them.
  BoxTimings Box() const { return BoxTimingsFor(settleMs_); }
  PicOptions Pic() const {
    PicOptions o;
    o.box = Box();
    return o;
  }
  BootOptions Boot() const {
    BootOptions o;
    o.box = Box();
    if (settleMs_) o.readSettleMs = *settleMs_;
    return o;
  }
  // What an interrupted run leaves behind, said with "Interrupted".
  void SetStoppedText(std::string text) { stoppedWhat_ = std::move(text); }

  // Ends the command: a failure leaves with its exit status (the reason has
  // been shown; a bare code still gets its text).
  void Finish(ResultCode code) {
    if (code == rc::kSuccess) return;
    if (code == rc::kStoppedByProgram) {
      // Ctrl-C: the run has stopped; a read-back keeps what it read under
      // its partial name, never under the name asked for.
      const std::string what = interruptible_->StoppedBeforeStart()
                                   ? "stopped before the run began; nothing was erased, programmed or saved"
                                   : stoppedWhat_;
      std::cerr << "Interrupted" << (what.empty() ? "" : ": " + what) << std::endl;
      throw CLI::RuntimeError(kExitInterrupted);
    }
    if (op_.LastProblem().empty() && code != kStoppedByOperator) std::cerr << CliResultText(code) << std::endl;
    throw CLI::RuntimeError(ExitCodeFor(code));
  }

 private:
  CliOperator op_;
  std::optional<std::uint32_t> settleMs_;
  ConfigData settings_;
  ProgressStyle style_ = ProgressStyle::Plain;
  std::unique_ptr<LinkState> link_;
  std::unique_ptr<CliJobRunner> runner_;
  std::unique_ptr<InterruptibleRunner> interruptible_;
  std::string stoppedWhat_;
};

}  // namespace tarnvale::cli
