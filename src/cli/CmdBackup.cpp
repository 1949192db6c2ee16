// backup save|load|diff and serial-test: the RQ750 data backup and the
// serial tester on the command line. They run the same core transfers as
// the "Data Backup" and "Serial Tester" dialogs.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/backup/BackupDiff.h"
#include "core/backup/BackupJob.h"
#include "core/backup/BackupLink.h"
#include "core/backup/BackupTransfer.h"
#include "core/backup/DataBackupModel.h"
#include "core/link/CommPort.h"
#include "core/platform/FileAccess.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "core/tools/SerialTest.h"

namespace tarnvale::cli {
namespace {

using namespace tarnvale::backup;

struct BackupArgs {
  std::string file;
  std::string other;
  std::string port;
  std::uint32_t baud = kBackupBaudRate;
  bool settings = false;
  bool parts = false;
  bool materials = false;
  bool yesVersion = false;
  bool yes = false;
  bool controller = false;
  bool json = false;
  std::string progress = "auto";
};

struct SerialArgs {
  std::string line;
  std::string file;
  std::string port;
  std::uint32_t baud = 0;
  std::uint32_t count = 255;
  std::uint32_t timeoutMs = 250;
};

// No section named: all three, which is what a technician backing up a
// controller before a repair wants.
SectionChoice ChoiceOf(const BackupArgs& a) {
  if (!a.settings && !a.parts && !a.materials) return {true, true, true};
  return {a.settings, a.parts, a.materials};
}

// The controller port of one run, opened through the link state like every
// other command's: --port and --baud are its per-run override over the
// stored primary port, and the settings record is never changed. The stored
// settings are read only for what the options leave open.
class ControllerLink {
 public:
  ControllerLink(const std::string& port, std::uint32_t baud) {
    if (port.empty() || baud == 0) LoadSettings(settings_);
    link_.SetOverride(PortRole::Primary, {port, baud});
  }
  // Opens at the override's (or stored) name and rate, 8N1 whatever the
  // stored line settings: the backup protocol and the tester's line are 8N1.
  bool Open() {
    const PortParams p = link_.ParamsFor(PortRole::Primary);
    name_ = p.name;
    return link_.EnsurePrimaryPort().Open(p.name, p.baudRate, platform::Parity::None, 8, platform::StopBits::One);
  }
  CommPort& Port() { return link_.EnsurePrimaryPort(); }
  const std::string& Name() const { return name_; }

 private:
  ConfigData settings_;
  LinkState link_{settings_};
  std::string name_;
};

// Opens the controller port for the backup protocol (8N1).
std::unique_ptr<ControllerLink> OpenBackupPort(const std::string& requested, std::uint32_t baud) {
  auto link = std::make_unique<ControllerLink>(requested, baud);
  if (!link->Open()) {
    const std::string& error = link->Port().LastError();
    Fail("Could not open the controller port " + link->Name() + (error.empty() ? "" : " (" + error + ")"),
         ExitCodeFor(rc::kPortOpenFailed));
  }
  return link;
}

// A controller that does not answer is named by its port, so a technician
// with two benches knows which cable to look at.
[[noreturn]] void NoAnswer(const CommPort& port) {
  Fail("The controller on " + port.PortName() + " did not answer.", ExitCodeFor(rc::kTimeout));
}

float Connect(CommPort& port, CliOperator& op) {
  float version = 0;
  switch (CheckBackupConnectionFor(port, &op, version)) {
    case Connection::Ok: return version;
    case Connection::NoAnswer: NoAnswer(port);
    case Connection::WrongModel: throw CLI::RuntimeError(ExitCodeFor(rc::kUnrecognizedResponse));
  }
  return version;
}

// JSON text never aborts on bytes that are not UTF-8 (file values travel as
// the file's own bytes).
std::string Dump(const nlohmann::json& j, int indent = -1) {
  return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Progress of a transfer. With --progress json one object per event, as
// scripts have read them; otherwise the one renderer's bar or plain lines
// over the records of each section, with a line as a section starts and
// ends. Everything but JSON goes to stderr, so stdout keeps only results.
class TransferProgress {
 public:
  explicit TransferProgress(const std::string& style)
      : style_(ChooseProgressStyle(style, ::isatty(STDERR_FILENO) != 0)),
        display_(style_, std::cerr, std::cerr, "rec", false),
        run_(display_.Sink()),
        forward_(run_.Progress()) {}
  BackupProgress Events() {
    return [this](const BackupEvent& e) {
      const std::string section = SectionTitle(e.section);
      if (style_ == ProgressStyle::Json) {
        const char* kind = e.kind == BackupEvent::Kind::SectionStarted    ? "section_started"
                           : e.kind == BackupEvent::Kind::SectionFinished ? "section_finished"
                                                                           : "record";
        std::cout << Dump(nlohmann::json{{"event", kind}, {"section", section}, {"done", e.done}, {"total", e.total}})
                  << std::endl;
      }
      forward_(e);
      if (e.kind != BackupEvent::Kind::Record) {
        display_.Say(section + ": " + std::to_string(e.done) + " of " + std::to_string(e.total) + " records" +
                     (e.kind == BackupEvent::Kind::SectionStarted ? " (starting)" : ""));
      }
    };
  }
  // Draws the whole of a run that completed.
  void Ended(const RunSummary& summary) { run_.Ended(summary); }

 private:
  ProgressStyle style_;
  RunDisplay display_;
  BackupRunEvents run_;
  BackupProgress forward_;
};

void Conclude(const RunSummary& summary, const std::string& style, bool interrupted = false) {
  if (interrupted) {
    // Ctrl-C: say what was moved before the stop; a stopped save leaves its
    // file as it was and what it gathered beside it.
    if (style == "json") {
      std::cout << Dump(nlohmann::json{{"event", "result"}, {"success", false}, {"interrupted", true},
                                       {"bad_checksums", summary.BadChecksums()}, {"text", summary.Text()}})
                << std::endl;
    }
    std::cerr << "Interrupted\n" << summary.Text() << std::endl;
    throw CLI::RuntimeError(ExitCodeFor(rc::kStoppedByProgram));
  }
  if (style == "json") {
    std::cout << Dump(nlohmann::json{{"event", "result"}, {"success", summary.Success()},
                                     {"bad_checksums", summary.BadChecksums()}, {"text", summary.Text()}})
              << std::endl;
  }
  if (summary.Success()) {
    std::cout << summary.Text() << std::endl;
    return;
  }
  std::cerr << summary.Text() << std::endl;
  throw CLI::RuntimeError(ExitCodeFor(summary.Result()));
}

// Reads the controller's chosen sections under Ctrl-C; ends the command
// (with the summary's exit code) when the read did not complete. The count
// of replies with a wrong checksum, when there were any.
int ReadWholeController(CommPort& port, tinyxml2::XMLDocument& doc, const SectionChoice& choice,
                        const std::string& style) {
  const InterruptGuard interrupts;
  RunSummary read;
  const bool interrupted = RunJobUntilInterrupted([&](const StopToken& stop) {
    TransferProgress progress(style);
    read = ReadController(port, doc, choice, progress.Events(), SystemClock(), stop);
    progress.Ended(read);
  });
  if (interrupted) {
    std::cerr << "Interrupted\n" << read.Text() << std::endl;
    throw CLI::RuntimeError(ExitCodeFor(rc::kStoppedByProgram));
  }
  if (!read.Success()) Fail(read.Text(), ExitCodeFor(read.Result()));
  return read.BadChecksums();
}

void RunSaveCommand(const BackupArgs& a) {
  RefuseBadOutput(a.file);
  RefuseBadOutput(WithXmlExtension(a.file));
  CliOperator op(std::cout, std::cerr);
  auto link = OpenBackupPort(a.port, a.baud);
  CommPort& port = link->Port();
  Connect(port, op);
  const InterruptGuard interrupts;
  RunSummary summary;
  const bool interrupted = RunJobUntilInterrupted([&](const StopToken& stop) {
    TransferProgress progress(a.progress);
    summary = RunSave(port, WithXmlExtension(a.file), ChoiceOf(a), progress.Events(), SystemClock(), stop);
    progress.Ended(summary);
  });
  Conclude(summary, a.progress, interrupted);
}

void RunLoadCommand(const BackupArgs& a) {
  const std::string path = a.file;
  tinyxml2::XMLDocument doc;
  std::string error;
  const FileState state = LoadBackupFile(path, doc, error);
  if (state != FileState::Loaded) {
    Fail(LoadProblemText(path, state, error) + "; nothing was sent.", ExitCodeFor(rc::kCantOpenInput));
  }
  CliOperator op(std::cout, std::cerr);
  op.SetAssumeYes(a.yes);
  op.SetInteractive(::isatty(STDIN_FILENO) != 0);
  op.SetInput([]() -> std::optional<std::string> {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  });
  auto link = OpenBackupPort(a.port, a.baud);
  CommPort& port = link->Port();
  const float version = Connect(port, op);
  ControllerInfo controller;
  // A controller that went silent after the connection check has no version
  // to compare: that is a lost link, not a version question.
  if (!ReadControllerInfo(port, controller)) NoAnswer(port);
  const ControllerInfo file = ReadIdentity(doc);
  if (file.uartVersion != controller.uartVersion && !a.yesVersion &&
      !op.AskYesNo(VersionQuestion(file.uartVersion, controller.uartVersion), {})) {
    Fail("Load declined: the protocol versions differ (--yes-version-differs or --yes goes ahead); nothing was sent.",
         ExitCodeFor(rc::kStoppedByOperator));
  }
  // The controller is overwritten: say what will change and ask first. The
  // controller is read only to answer that question, so --yes skips it, and
  // with no terminal to ask on the load is declined before anything is read.
  if (!a.yes) {
    if (::isatty(STDIN_FILENO) == 0) {
      Fail("A load overwrites the controller: pass --yes to go ahead without being asked (there is no "
           "terminal to ask on); nothing was sent.",
           ExitCodeFor(rc::kStoppedByOperator));
    }
    tinyxml2::XMLDocument current;
    ReadWholeController(port, current, ChoiceOf(a), a.progress);
    if (!op.AskYesNo(LoadQuestion(path, ChangesOfLoad(current, doc, ChoiceOf(a))), {})) {
      Fail("Load declined; nothing was sent.", ExitCodeFor(rc::kStoppedByOperator));
    }
  }
  const InterruptGuard interrupts;
  RunSummary summary;
  const bool interrupted = RunJobUntilInterrupted([&](const StopToken& stop) {
    TransferProgress progress(a.progress);
    summary = RunLoad(port, path, ChoiceOf(a), version, progress.Events(), SystemClock(), stop);
    progress.Ended(summary);
  });
  Conclude(summary, a.progress, interrupted);
}

void LoadForDiff(const std::string& path, tinyxml2::XMLDocument& doc) {
  std::string error;
  const FileState state = LoadBackupFile(path, doc, error);
  if (state != FileState::Loaded) Fail(LoadProblemText(path, state, error) + ".", ExitCodeFor(rc::kCantOpenInput));
}

void RunDiffCommand(const BackupArgs& a) {
  tinyxml2::XMLDocument from, to;
  int badChecksums = 0;
  if (a.controller == !a.other.empty()) {
    Fail("backup diff wants either a second file or --controller", kExitUsage);
  }
  if (a.controller) {
    LoadForDiff(a.file, to);
    CliOperator op(std::cout, std::cerr);
    auto link = OpenBackupPort(a.port, a.baud);
    CommPort& port = link->Port();
    Connect(port, op);
    badChecksums = ReadWholeController(port, from, ChoiceOf(a), a.json ? "plain" : a.progress);
  } else {
    LoadForDiff(a.file, from);
    LoadForDiff(a.other, to);
  }
  // Only the sections asked for (all three when none is named).
  const BackupDiffResult diff = DiffBackups(from, to, SectionNames(ChoiceOf(a).Selectors()));
  if (a.json) {
    nlohmann::json j = DiffJson(diff);
    if (a.controller) j["bad_checksums"] = badChecksums;
    std::cout << Dump(j, 2) << std::endl;
  } else {
    std::cout << DiffText(diff);
    if (badChecksums > 0) {
      std::cerr << badChecksums << (badChecksums == 1 ? " reply" : " replies")
                << " from the controller had a checksum that did not match (taken as received)." << std::endl;
    }
  }
}

void RunSerialTest(const SerialArgs& a) {
  // The file is checked before the port is touched: a FIFO or a device
  // would never end, and the reason matters more than the port.
  if (const std::string why = platform::InputFileProblem(a.file, platform::kTextFileLimit);
      !a.file.empty() && !why.empty()) {
    Fail(a.file + ": Unable to Open File! (" + why + ")", kExitBadFile);
  }
  CliOperator op(std::cout, std::cerr);
  ControllerLink link(a.port, a.baud);
  if (!link.Open()) Fail("Could not open the port " + link.Name(), kExitPort);
  CommPort& port = link.Port();
  // Each line shows as it goes, also when the output is a file or a pipe.
  SerialTestModel model(port, [](const std::string& text) { std::cout << text << std::flush; }, op);
  model.count = a.count;
  model.timeoutMs = a.timeoutMs;
  if (!a.file.empty()) {
    model.filePath = a.file;
    // A long file at a long time-out runs for minutes: Ctrl-C stops it
    // between lines, and says how far it got.
    std::atomic<bool> stop{false};
    int sent = 0;
    const InterruptGuard interrupts;
    NullRunSink quiet;
    if (RunUntilInterrupted([&] { sent = model.SendFile(StopToken(stop), quiet); }, [&] { stop.store(true); })) {
      std::cout << std::endl;
      std::cerr << "Interrupted: " << sent << (sent == 1 ? " line of " : " lines of ") << a.file
                << (sent == 1 ? " was sent" : " were sent") << std::endl;
      throw CLI::RuntimeError(kExitInterrupted);
    }
    if (!model.fileProblem.empty()) Fail(a.file + ": Unable to Open File! (" + model.fileProblem + ")", kExitBadFile);
    std::cout << std::endl;
    // Lines that went without a word back are a dead link or a wrong
    // setting, not a success.
    if (model.fileResult == rc::kPortOpenFailed) Fail("The port " + link.Name() + " is not open", kExitPort);
    if (sent == 0) Fail(a.file + ": no line of it could be sent", kExitBadFile);
    if (model.fileReplies == 0) {
      Fail("Nothing came back on " + link.Name() + " for any of the " + std::to_string(sent) +
               (sent == 1 ? " line sent" : " lines sent"),
           kExitTimeout);
    }
    return;
  }
  const SerialLineOutcome outcome = model.Send(a.line);
  std::cout << std::endl;
  if (outcome == SerialLineOutcome::Invalid) {
    Fail("The line is not valid: use single characters and 0xHH byte values separated by commas.", kExitUsage);
  }
  if (outcome == SerialLineOutcome::NoReply) Fail("Nothing came back on " + link.Name(), kExitTimeout);
}

}  // namespace

void RegisterBackupCommands(CLI::App& app) {
  auto a = std::make_shared<BackupArgs>();
  auto* backup = app.add_subcommand("backup", "RQ750 data backup: save, load and compare XML backups");
  backup->require_subcommand(1);

  const auto addLink = [a](CLI::App* c) {
    c->add_option("--port", a->port, "Controller port: a device path or COMn (default: the stored primary port)");
    c->add_option("--baud", a->baud, "Link speed (default 38400, 8N1)");
  };
  const auto addSections = [a](CLI::App* c) {
    c->add_flag("--settings", a->settings, "The setup parameters");
    c->add_flag("--parts", a->parts, "The part library");
    c->add_flag("--materials", a->materials, "The material table (no section flag: all three)");
  };

  auto* save = backup->add_subcommand("save", "Save the controller's data into a backup file");
  save->add_option("file", a->file, "The backup file (.xml is added when there is no extension)")->required();
  addSections(save);
  addLink(save);
  save->add_option("--progress", a->progress, "auto, plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
  save->callback([a] {
    BackupArgs copy = *a;
    copy.file = Absolute(copy.file);
    RunSaveCommand(copy);
  });

  auto* load = backup->add_subcommand("load", "Send a backup file's data into the controller");
  load->add_option("file", a->file, "The backup file")->required();
  addSections(load);
  addLink(load);
  load->add_flag("--yes-version-differs", a->yesVersion,
                 "Go ahead when the file's protocol version differs from the controller's");
  load->add_flag("--yes", a->yes,
                 "Answer yes to every question: the version question and \"overwrite the controller?\" "
                 "(without it the controller is read, what the load would change is shown and asked "
                 "about on the terminal; with no terminal the load is declined, exit 6)");
  load->add_option("--progress", a->progress, "auto, plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
  load->callback([a] {
    BackupArgs copy = *a;
    copy.file = Absolute(copy.file);
    RunLoadCommand(copy);
  });

  auto* diff = backup->add_subcommand("diff", "What a restore would change: two files, or a file and the controller");
  diff->add_option("file", a->file, "The backup file a restore would send")->required();
  diff->add_option("other", a->other, "Compare FILE (as it is now) with OTHER (what would be sent)");
  diff->add_flag("--controller", a->controller, "Compare the controller (as it is now) with FILE");
  diff->add_flag("--json", a->json, "One JSON document on stdout");
  addSections(diff);
  addLink(diff);
  diff->callback([a] {
    BackupArgs copy = *a;
    copy.file = Absolute(copy.file);
    copy.other = Absolute(copy.other);
    // For two files the first is what is there now, the second what a restore leaves.
    RunDiffCommand(copy);
  });

  auto s = std::make_shared<SerialArgs>();
  auto* serial = app.add_subcommand("serial-test", "Send a line of characters and byte values and show the reply");
  auto* lineOpt = serial->add_option("line", s->line, "For example 0x19,0x3,A,B,C,0x2 (commas in hex: 0x2C)");
  serial->add_option("--file", s->file, "Send every line of this text file instead")->excludes(lineOpt);
  serial->add_option("--port", s->port, "Port: a device path, COMn or A.B.C.D[:PORT] (default: the stored primary port)");
  serial->add_option("--baud", s->baud, "Link speed (default: the stored primary baud rate)");
  serial->add_option("--count", s->count, "Characters to wait for (0 to 1000, default 255)")->check(CLI::Range(0, 1000));
  serial->add_option("--timeout", s->timeoutMs, "Response time-out in ms (1 to 5000, default 250)")
      ->check(CLI::Range(1, 5000));
  serial->callback([s] {
    SerialArgs copy = *s;
    copy.file = Absolute(copy.file);
    RunSerialTest(copy);
  });
}

}  // namespace tarnvale::cli
