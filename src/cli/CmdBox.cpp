// box version | jtag-id | board-info, cpu-test pins | ram: the Universal
// Programmer box and the CPU board test on the command line, through the same
// core commands and engines as the GUI's test dialog.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "cli/BoxSettle.h"
#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BoxCommands.h"
#include "core/programmer/BoxWorkers.h"
#include "core/programmer/CpuPinTest.h"
#include "core/protocol/Util.h"
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
      const std::string said = StatusResultText(r, link_->ProgrammerPort());  // before Close forgets it
      Close();
      Fail(said + ": " + link_->ParamsFor(PortRole::Programmer).name +
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

using Json = nlohmann::ordered_json;

// What the renderer cannot say of a pin test: each stage's failing pins as
// the stage ends (every step's failures, which the run keeps in the stage's
// images), then the diagnosis of the whole run. Lines go to stdout; a bar
// drawn meanwhile is taken off its line first.
class PinPrinter : public CpuPinTestEvents {
 public:
  PinPrinter(bool json, RunDisplay& display) : json_(json), display_(display) {}
  void OnStage(const PinStage& stage, const PinImage& e, const PinImage& s, bool) override {
    const std::vector<int> failing = MismatchedPins(e, s);
    if (json_) {
      Json pins = Json::array();
      for (int pin : failing) {
        pins.push_back({{"pin", PinName(pin)}, {"expected", e.Level(pin) ? 1 : 0}, {"read", s.Level(pin) ? 1 : 0}});
      }
      std::cout << Json{{"event", "stage"}, {"stage", stage.number}, {"title", stage.title}, {"failing", pins}}.dump()
                << std::endl;
      return;
    }
    display_.Clear();
    std::cout << stage.title << ": " << (failing.empty() ? "pass" : "FAIL") << "\n";
    for (int pin : failing) {
      std::cout << "  " << PinName(pin) << " expected " << e.Level(pin) << " read " << s.Level(pin) << "\n";
    }
    std::cout.flush();
  }

 private:
  bool json_;
  RunDisplay& display_;
};

// The diagnosis of a finished run: one line per fault (a short's two pins
// share one), and in JSON one object per failing pin.
void PrintDiagnosis(const CpuPinTestOutcome& outcome, bool json) {
  if (json) {
    Json findings = Json::array();
    for (const PinFinding& f : outcome.findings) {
      findings.push_back({{"pin", PinName(f.pin)},
                          {"fault", FaultKey(f.fault)},
                          {"partner", f.partner >= 0 ? Json(PinName(f.partner)) : Json(nullptr)},
                          {"stage", f.stage},
                          {"step", f.step},
                          {"expected", f.expected ? 1 : 0},
                          {"read", f.read ? 1 : 0},
                          {"text", FaultText(f)}});
    }
    std::cout << Json{{"event", "diagnosis"}, {"failing_pins", outcome.findings.size()}, {"findings", findings}}.dump()
              << std::endl;
    return;
  }
  if (outcome.findings.empty()) return;
  std::cout << "Diagnosis:\n";
  for (const PinFinding& f : FaultsOnce(outcome.findings)) std::cout << "  " << FindingLine(f) << "\n";
  std::cout.flush();
}

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
  const ProgressStyle style =
      args.json ? ProgressStyle::Json : ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
  // Progress goes to stderr in every style: stdout keeps the stages and the verdict.
  RunDisplay display(style, std::cerr, std::cerr, "");
  PinPrinter printer(args.json, display);
  const InterruptGuard interrupts;
  CpuPinTestOutcome outcome;
  if (RunJobUntilInterrupted([&](const StopToken& stop) { outcome = RunCpuPinTest(s.Box(), stop, display, printer); })) {
    display.Clear();
    StopInterrupted("the pin test was stopped before its last stage; the stages shown above are all that ran",
                    args.json);
  }
  display.Clear();
  PrintDiagnosis(outcome, args.json);
  const ResultCode code = outcome.Code();
  if (args.json) {
    std::cout << Json{{"event", "result"}, {"code", static_cast<int>(code)}, {"text", outcome.Verdict()},
                      {"failing_pins", outcome.findings.size()}}.dump()
              << std::endl;
  } else {
    (code == rc::kSuccess ? std::cout : std::cerr) << outcome.Verdict() << std::endl;
  }
  if (code == rc::kSuccess) return;
  throw CLI::RuntimeError(ExitCodeFor(code));
}

// The RAM run's events: the vocabulary for the renderer, and in JSON the
// percentages as scripts have always read them; the final record is kept
// for the failure text.
class RamSink : public RamEvents {
 public:
  RamSink(RamRunEvents& run, bool json) : run_(run), json_(json) {}
  void OnRamProgress(std::uint32_t percent) override {
    if (json_) std::cout << Json{{"event", "progress"}, {"percent", percent}}.dump() << std::endl;
    run_.OnRamProgress(percent);
  }
  void OnRamFinished(ResultCode code, const RamStatus& last) override {
    code_ = code;
    last_ = last;
    run_.OnRamFinished(code, last);
  }
  ResultCode code_ = rc::kTimeout;
  RamStatus last_;

 private:
  RamRunEvents& run_;
  bool json_;
};

void RunRam(const BoxArgs& args, int bank, bool load) {
  BoxSession s(args, Target::CpuBoard386);
  s.RequireBoard();
  const ProgressStyle style = ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
  const bool json = style == ProgressStyle::Json;
  if (!json) std::cout << RamBankLine(!load, bank) << std::endl;
  // The box says only percentages: progress goes to stderr, as it always has.
  RunDisplay display(style, std::cerr, std::cerr, "");
  RamRunEvents run(display, !load, bank);
  RamSink sink(run, json);
  const InterruptGuard interrupts;
  // On a stop the run drains the box's stream for a moment, so the box is
  // idle again when the port is released.
  if (RunJobUntilInterrupted([&](const StopToken& stop) { RunRamBank(s.Box(), {!load, bank}, stop, sink); }, 500)) {
    display.Clear();
    StopInterrupted(std::string(load ? "loading" : "testing") + " RAM bank " + std::to_string(bank) +
                        " was stopped before it finished",
                    json);
  }
  display.Clear();
  const ResultCode code = sink.code_;
  const std::string text = code == rc::kDataMismatch ? RamFailureText(sink.last_) : ResultText(code);
  if (json) {
    std::cout << Json{{"event", "result"}, {"code", static_cast<int>(code)}, {"text", text}}.dump() << std::endl;
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
  pins->add_flag("--json", args->json,
                 "One JSON object per stage, one for the diagnosis and one for the result");
  pins->add_option("--progress", args->progress, "auto (bar on a terminal), plain or bar: progress on stderr")
      ->check(CLI::IsMember({"auto", "plain", "bar"}));
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
