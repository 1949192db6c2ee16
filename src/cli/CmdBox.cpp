// box version | jtag-id | board-info, cpu-test pins | ram: the Universal
// Programmer box and the CPU board test on the command line, through the same
// core commands and engines as the GUI's test dialog.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <set>

#include "cli/BoxSettle.h"
#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BoxCommands.h"
#include "core/programmer/BoxWorkers.h"
#include "core/programmer/CpuPinTest.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {
namespace {

struct BoxArgs {
  std::string port;
  std::uint32_t baud = 0;
  bool json = false;
  std::string progress = "auto";
};

// The programmer link of one command, from selection to its close.
class BoxSession {
 public:
  BoxSession(const BoxArgs& args, Target target) : op_(std::cout, std::cerr) {
    // A wrong bench setting is refused before the box is asked anything.
    const BoxTimings timings = BoxTimingsFor(BoxSettleFromEnvironment());
    LoadSettings(settings_);
    link_ = std::make_unique<LinkState>(settings_, &op_);
    ApplySelectWait(*link_);
    link_->SetOverride(PortRole::Programmer, {args.port, args.baud});
    link_->BeginCommand();
    const ResultCode r = link_->SelectTarget(target);
    if (r != rc::kSuccess) {
      const std::string why = link_->EnsureProgrammerPort().LastError();
      Close();
      Fail(ResultText(r) + ": " + link_->ParamsFor(PortRole::Programmer).name +
               (r == rc::kPortOpenFailed && !why.empty() ? " (" + why + ")" : ""),
           ExitCodeFor(r));
    }
    box_ = std::make_unique<BoxLink>(*link_->ProgrammerPort(), timings);
  }
  // A command line run ends here: there is no terminal to hand the
  // controller port back to, so it is left alone rather than reopened.
  ~BoxSession() { Close(); }
  BoxLink& Box() { return *box_; }
  // Before any operation on the CPU board: its JTAG ID must be the
  // 80386EX's, else the JTAG text is shown and the command ends (no answer
  // 4, another chip 1).
  void RequireBoard() {
    if (const ResultCode r = ConfirmCpu386(*box_, op_); r != rc::kSuccess) {
      Close();
      throw CLI::RuntimeError(ExitCodeFor(r));
    }
  }

 private:
  void Close() {
    box_.reset();
    if (CommPort* port = link_->ProgrammerPort()) port->Close();
  }

  CliOperator op_;
  ConfigData settings_;
  std::unique_ptr<LinkState> link_;
  std::unique_ptr<BoxLink> box_;
};

void AddBoxOptions(CLI::App* cmd, BoxArgs& args) {
  cmd->add_option("--programmer-port", args.port,
                  "Universal Programmer port: a device path, COMn, or A.B.C.D[:PORT] (default: "
                  "the stored programmer port)");
  cmd->add_option("--baud", args.baud, "Baud rate of the programmer port (default: the stored one)");
}

std::string Hex4(std::uint16_t w) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", w);
  return buf;
}

void RunVersion(const BoxArgs& args) {
  BoxSession s(args, Target::Box);
  std::string text;
  const ResultCode r = s.Box().ReadVersion(text);
  if (r != rc::kSuccess) Fail(ResultText(r), ExitCodeFor(r));
  std::cout << VersionLine(text) << std::endl;
}

void RunJtagId(const BoxArgs& args, const std::string& which) {
  const bool tn835 = which == "tn835";
  BoxSession s(args, tn835 ? Target::Tn835Jtag : Target::CpuBoard386);
  if (!tn835) {
    s.RequireBoard();
    std::cout << JtagIdLine(kCpu386JtagId) << std::endl;
    return;
  }
  std::uint32_t id = 0;
  const ResultCode r = s.Box().CheckTn835Id(id);
  if (r == rc::kTooFewBytes) Fail(s.Box().NoJtagIdText(), ExitCodeFor(r));
  // The TN835's ID is shown whether or not it is the expected one.
  std::cout << JtagIdLine(id) << std::endl;
  if (r != rc::kSuccess) throw CLI::RuntimeError(ExitCodeFor(r));
}

void RunBoardInfo(const BoxArgs& args, const std::string& cpuRev, const std::string& ioRev) {
  BoxSession s(args, Target::CpuBoard386);
  s.RequireBoard();
  BoardInfoRecord record;
  if (!cpuRev.empty()) record.SetCpuRevision(cpuRev[0]);
  if (!ioRev.empty()) record.SetIoRevision(ioRev[0]);
  const ResultCode r = s.Box().ExchangeBoardInfo(record);
  if (r != rc::kSuccess) Fail(ResultText(r), ExitCodeFor(r));
  auto letter = [](std::uint8_t c) {
    return c >= 'A' && c <= 'Z' ? std::string(1, static_cast<char>(c)) : std::string();
  };
  const auto lines = FlashIdLines(record);
  const std::string device = IsFlashIdValid(record) ? FlashDeviceName(record) : flash_text::kUnknown;
  const std::string name = device.rfind(" -> ", 0) == 0 ? device.substr(4) : device;
  if (args.json) {
    std::cout << "{\"cpu_revision\":" << JsonString(letter(record.CpuRevision()))
              << ",\"io_revision\":" << JsonString(letter(record.IoRevision()))
              << ",\"serial\":" << JsonString(record.Serial(BoardInfoRecord::kControllerSerial))
              << ",\"cpu_serial\":" << JsonString(record.Serial(BoardInfoRecord::kCpuSerial))
              << ",\"io_serial\":" << JsonString(record.Serial(BoardInfoRecord::kIoSerial))
              << ",\"flash_id\":[";
    for (std::size_t i = 0; i < BoardInfoRecord::kFlashIdWords; ++i) {
      std::cout << (i ? "," : "") << JsonString(Hex4(record.FlashIdWord(i)));
    }
    std::cout << "],\"device\":" << JsonString(name)
              << ",\"flash_id_valid\":" << (IsFlashIdValid(record) ? "true" : "false")
              << ",\"complete\":" << (IsBoardInfoComplete(record) ? "true" : "false") << "}"
              << std::endl;
    return;
  }
  std::cout << "CPU board revision:   " << letter(record.CpuRevision()) << "\n"
            << "I/O board revision:   " << letter(record.IoRevision()) << "\n"
            << "RQ700 serial number:  " << record.Serial(BoardInfoRecord::kControllerSerial) << "\n"
            << "CPU board serial:     " << record.Serial(BoardInfoRecord::kCpuSerial) << "\n"
            << "I/O board serial:     " << record.Serial(BoardInfoRecord::kIoSerial) << "\n"
            << "Flash ID words:      ";
  for (std::size_t i = 0; i < BoardInfoRecord::kFlashIdWords; ++i) {
    std::cout << " " << Hex4(record.FlashIdWord(i));
  }
  std::cout << "\n";
  for (const auto& line : lines) std::cout << line << "\n";
  std::cout << "Complete:             " << (IsBoardInfoComplete(record) ? "yes" : "no") << std::endl;
}

// Prints each stage's failing pins once, as the stage ends.
class PinPrinter : public CpuPinTestEvents {
 public:
  explicit PinPrinter(bool json) : json_(json) {}
  void OnMismatch(const PinStage&, const PinImage& e, const PinImage& s) override {
    for (int pin : MismatchedPins(e, s)) {
      if (failing_.insert(pin).second) order_.push_back({pin, {e.Level(pin), s.Level(pin)}});
    }
  }
  void OnStage(const PinStage& stage, const PinImage&, const PinImage&, bool) override {
    if (json_) {
      std::cout << "{\"event\":\"stage\",\"stage\":" << stage.number
                << ",\"title\":" << JsonString(stage.title) << ",\"failing\":[";
      for (std::size_t i = 0; i < order_.size(); ++i) {
        const auto& [pin, lv] = order_[i];
        std::cout << (i ? "," : "") << "{\"pin\":" << JsonString(PinName(pin))
                  << ",\"expected\":" << lv.first << ",\"read\":" << lv.second << "}";
      }
      std::cout << "]}" << std::endl;
    } else {
      std::cout << stage.title << ": " << (order_.empty() ? "pass" : "FAIL") << "\n";
      for (const auto& [pin, lv] : order_) {
        std::cout << "  " << PinName(pin) << " expected " << lv.first << " read " << lv.second << "\n";
      }
      std::cout.flush();
    }
    failing_.clear();
    order_.clear();
  }

 private:
  bool json_;
  std::set<int> failing_;
  std::vector<std::pair<int, std::pair<int, int>>> order_;
};

// Ctrl-C or SIGTERM during a box run: the worker has stopped and the port
// is released by the session as the command unwinds.
[[noreturn]] void StopInterrupted(const std::string& what, bool json) {
  if (json) {
    std::cout << "{\"event\":\"result\",\"code\":" << static_cast<int>(rc::kStoppedByProgram)
              << ",\"text\":" << JsonString("Interrupted: " + what) << "}" << std::endl;
  }
  std::cerr << "Interrupted: " << what << std::endl;
  throw CLI::RuntimeError(kExitInterrupted);
}

void RunPins(const BoxArgs& args) {
  BoxSession s(args, Target::CpuBoard386);
  s.RequireBoard();
  PinPrinter printer(args.json);
  CpuPinTest test(s.Box(), printer);
  const InterruptGuard interrupts;
  CpuPinTestOutcome outcome;
  if (RunUntilInterrupted([&] { outcome = test.Run(); }, [&] { test.RequestStop(); })) {
    StopInterrupted("the pin test was stopped before its last stage; the stages shown above are all that ran",
                    args.json);
  }
  const ResultCode code = outcome.Code();
  if (args.json) {
    std::cout << "{\"event\":\"result\",\"code\":" << static_cast<int>(code)
              << ",\"text\":" << JsonString(ResultText(code)) << "}" << std::endl;
  } else {
    (code == rc::kSuccess ? std::cout : std::cerr) << ResultText(code) << std::endl;
  }
  if (code == rc::kSuccess) return;
  throw CLI::RuntimeError(ExitCodeFor(code));
}

// "[#########.....................]  30%": the box reports only percentages.
std::string Bar(std::uint32_t percent) {
  constexpr std::uint32_t kWidth = 30;
  const std::uint32_t filled = std::min<std::uint32_t>(percent, 100) * kWidth / 100;
  char pct[8];
  std::snprintf(pct, sizeof pct, "%3u%%", static_cast<unsigned>(std::min<std::uint32_t>(percent, 100)));
  return "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " + pct;
}

class RamPrinter : public RamEvents {
 public:
  explicit RamPrinter(ProgressStyle style) : style_(style) {}
  void OnRamProgress(std::uint32_t percent) override {
    if (style_ == ProgressStyle::Json) {
      std::cout << "{\"event\":\"progress\",\"percent\":" << percent << "}" << std::endl;
    } else if (style_ == ProgressStyle::Bar) {
      std::cerr << "\r" << Bar(percent) << std::flush;
    } else if (percent / 10 != lastTenth_) {
      lastTenth_ = percent / 10;
      std::cerr << percent << "%" << std::endl;
    }
  }
  void OnRamFinished(ResultCode code, const RamStatus& last) override {
    code_ = code;
    last_ = last;
    if (style_ == ProgressStyle::Bar) std::cerr << "\r" << Bar(100) << std::endl;
  }
  ResultCode code_ = rc::kTimeout;
  RamStatus last_;

 private:
  ProgressStyle style_;
  std::uint32_t lastTenth_ = 0;
};

void RunRam(const BoxArgs& args, int bank, bool load) {
  BoxSession s(args, Target::CpuBoard386);
  s.RequireBoard();
  const ProgressStyle style = ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
  RamPrinter printer(style);
  ProgressWatcher watcher(s.Box(), printer);
  if (style != ProgressStyle::Json) std::cout << RamBankLine(!load, bank) << std::endl;
  const InterruptGuard interrupts;
  watcher.Start(!load, bank);
  // On a stop the watcher drains the box's stream for a moment, so the box
  // is idle again when the port is released.
  if (RunUntilInterrupted([&] { watcher.Join(); }, [&] { watcher.RequestStop(500); })) {
    if (style == ProgressStyle::Bar) std::cerr << std::endl;
    StopInterrupted(std::string(load ? "loading" : "testing") + " RAM bank " + std::to_string(bank) +
                        " was stopped before it finished",
                    style == ProgressStyle::Json);
  }
  const ResultCode code = printer.code_;
  const std::string text =
      code == rc::kDataMismatch ? RamFailureText(printer.last_) : ResultText(code);
  if (style == ProgressStyle::Json) {
    std::cout << "{\"event\":\"result\",\"code\":" << static_cast<int>(code)
              << ",\"text\":" << JsonString(text) << "}" << std::endl;
  } else {
    (code == rc::kSuccess ? std::cout : std::cerr) << text << std::endl;
  }
  if (code != rc::kSuccess) throw CLI::RuntimeError(ExitCodeFor(code));
}

}  // namespace

void RegisterBoxCommands(CLI::App& app) {
  auto args = std::make_shared<BoxArgs>();
  auto* box = app.add_subcommand("box", "The Universal Programmer box");
  box->require_subcommand(1);

  auto* version = box->add_subcommand("version", "Universal Programmer Version");
  AddBoxOptions(version, *args);
  version->callback([args] { RunVersion(*args); });

  auto* jtag = box->add_subcommand("jtag-id", "Read the JTAG ID of the 80386EX board or the TN835 CPU");
  auto which = std::make_shared<std::string>("386");
  AddBoxOptions(jtag, *args);
  jtag->add_option("--target", *which, "386 (the RQ700 CPU board, default) or tn835");
  jtag->callback([args, which] {
    if (*which != "386" && *which != "tn835") Fail("--target wants 386 or tn835: " + *which, kExitUsage);
    RunJtagId(*args, *which);
  });

  auto* info = box->add_subcommand("board-info", "Read the CPU board's identification and flash ID");
  auto cpuRev = std::make_shared<std::string>();
  auto ioRev = std::make_shared<std::string>();
  AddBoxOptions(info, *args);
  info->add_option("--cpu-rev", *cpuRev, "CPU board revision letter to read the flash ID with");
  info->add_option("--io-rev", *ioRev, "I/O board revision letter");
  info->add_flag("--json", args->json, "One JSON object instead of text");
  info->callback([args, cpuRev, ioRev] {
    for (const std::string* letter : {cpuRev.get(), ioRev.get()}) {
      if (!letter->empty() && (letter->size() != 1 || (*letter)[0] < 'A' || (*letter)[0] > 'Z')) {
        Fail("--cpu-rev and --io-rev want one letter A to Z: " + *letter, kExitUsage);
      }
    }
    RunBoardInfo(*args, *cpuRev, *ioRev);
  });

  auto* cpu = app.add_subcommand("cpu-test", "Test the RQ700 CPU board through the box");
  cpu->require_subcommand(1);
  auto* pins = cpu->add_subcommand("pins", "Boundary-scan test of every CPU pin (Test CPU)");
  AddBoxOptions(pins, *args);
  pins->add_flag("--json", args->json, "One JSON object per stage and one for the result");
  pins->callback([args] { RunPins(*args); });

  auto* ram = cpu->add_subcommand("ram", "Test (or with --load, load) one 1 MB RAM bank");
  auto bank = std::make_shared<int>(1);
  auto load = std::make_shared<bool>(false);
  ram->add_option("bank", *bank, "RAM bank 1 to 5")->required();
  ram->add_flag("--load", *load, "Load the bank instead of testing it");
  AddBoxOptions(ram, *args);
  ram->add_option("--progress", args->progress, "auto (bar on a terminal), plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
  ram->callback([args, bank, load] {
    if (*bank < 1 || *bank > 5) Fail("the RAM bank is 1 to 5, not " + std::to_string(*bank), kExitUsage);
    RunRam(*args, *bank, *load);
  });
}

}  // namespace tarnvale::cli
