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
#include "core/backup/BackupDiff.h"
#include "core/backup/BackupLink.h"
#include "core/backup/BackupTransfer.h"
#include "core/backup/DataBackupModel.h"
#include "core/link/CommPort.h"
#include "core/platform/FileAccess.h"
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

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

// No section named: all three, which is what a technician backing up a
// controller before a repair wants.
SectionChoice ChoiceOf(const BackupArgs& a) {
  if (!a.settings && !a.parts && !a.materials) return {true, true, true};
  return {a.settings, a.parts, a.materials};
}

// Opens the controller port for the backup protocol (8N1).
std::unique_ptr<CommPort> OpenBackupPort(const std::string& requested, std::uint32_t baud) {
  std::string name = requested;
  if (name.empty()) {
    ConfigData settings;
    LoadSettings(settings);
    name = settings.PrimaryPortParams().name;
  }
  auto port = std::make_unique<CommPort>();
  if (!port->Open(name, baud, platform::Parity::None, 8, platform::StopBits::One)) {
    Fail("Could not open the controller port " + name +
             (port->LastError().empty() ? "" : " (" + port->LastError() + ")"),
         kExitPort);
  }
  return port;
}

float Connect(CommPort& port, CliOperator& op) {
  float version = 0;
  switch (CheckBackupConnectionFor(port, &op, version)) {
    case Connection::Ok: return version;
    case Connection::NoAnswer: throw CLI::RuntimeError(kExitTimeout);
    case Connection::WrongModel: throw CLI::RuntimeError(kExitFailure);
  }
  return version;
}

// Progress of a transfer: one JSON object per event, or readable lines.
BackupProgress ProgressPrinter(const std::string& style) {
  const bool json = style == "json";
  const bool bar = style == "bar" || (style == "auto" && ::isatty(STDERR_FILENO) != 0);
  return [json, bar](const BackupEvent& e) {
    const std::string section = SectionTitle(e.section);
    if (json) {
      const char* kind = e.kind == BackupEvent::Kind::SectionStarted  ? "section_started"
                         : e.kind == BackupEvent::Kind::SectionFinished ? "section_finished"
                                                                         : "record";
      std::cout << nlohmann::json{{"event", kind}, {"section", section}, {"done", e.done}, {"total", e.total}}.dump()
                << std::endl;
      return;
    }
    if (e.kind == BackupEvent::Kind::Record) {
      if (bar) std::cerr << "\r" << section << ": record " << e.done << " of " << e.total << std::flush;
      return;
    }
    if (bar && e.kind == BackupEvent::Kind::SectionFinished) std::cerr << "\n";
    if (!bar || e.kind == BackupEvent::Kind::SectionStarted) {
      std::cerr << section << ": " << e.done << " of " << e.total << " records"
                << (e.kind == BackupEvent::Kind::SectionStarted ? " (starting)" : "") << std::endl;
    }
  };
}

void Conclude(const RunSummary& summary, const std::string& style, bool interrupted = false) {
  if (interrupted) {
    // Ctrl-C: say what was moved before the stop; a saved file holds exactly
    // that (it is written whole after each section, never in part).
    if (style == "json") {
      std::cout << nlohmann::json{{"event", "result"}, {"success", false}, {"interrupted", true},
                                  {"text", summary.Text()}}
                       .dump()
                << std::endl;
    }
    std::cerr << "Interrupted\n" << summary.Text() << std::endl;
    throw CLI::RuntimeError(kExitInterrupted);
  }
  if (style == "json") {
    std::cout << nlohmann::json{{"event", "result"}, {"success", summary.Success()}, {"text", summary.Text()}}.dump()
              << std::endl;
  }
  if (summary.Success()) {
    std::cout << summary.Text() << std::endl;
    return;
  }
  std::cerr << summary.Text() << std::endl;
  if (summary.NothingDone()) throw CLI::RuntimeError(kExitBadFile);
  if (!summary.fileProblem.empty()) throw CLI::RuntimeError(kExitBadFile);
  throw CLI::RuntimeError(summary.LinkLost() ? kExitTimeout : kExitFailure);
}

void RunSaveCommand(const BackupArgs& a) {
  RefuseBadOutput(a.file);
  RefuseBadOutput(WithXmlExtension(a.file));
  CliOperator op(std::cout, std::cerr);
  auto port = OpenBackupPort(a.port, a.baud);
  Connect(*port, op);
  const InterruptGuard interrupts;
  std::atomic<bool> stop{false};
  RunSummary summary;
  const bool interrupted = RunUntilInterrupted(
      [&] { summary = RunSave(*port, WithXmlExtension(a.file), ChoiceOf(a), ProgressPrinter(a.progress), SystemClock(), &stop); },
      [&] { stop.store(true); });
  Conclude(summary, a.progress, interrupted);
}

void RunLoadCommand(const BackupArgs& a) {
  const std::string path = a.file;
  tinyxml2::XMLDocument doc;
  std::string error;
  const FileState state = LoadBackupFile(path, doc, error);
  if (state != FileState::Loaded) {
    Fail(state == FileState::Missing ? path + " does not exist; nothing was sent."
                                     : path + " is not a readable backup (" + error + "); nothing was sent.",
         kExitBadFile);
  }
  CliOperator op(std::cout, std::cerr);
  op.SetAssumeYes(a.yesVersion);
  op.SetInteractive(::isatty(STDIN_FILENO) != 0);
  auto port = OpenBackupPort(a.port, a.baud);
  const float version = Connect(*port, op);
  ControllerInfo controller;
  ReadControllerInfo(*port, controller);
  const ControllerInfo file = ReadIdentity(doc);
  if (file.uartVersion != controller.uartVersion &&
      !op.AskYesNo(VersionQuestion(file.uartVersion, controller.uartVersion), {})) {
    Fail("Load declined: the protocol versions differ (use --yes-version-differs to go ahead).", kExitDeclined);
  }
  const InterruptGuard interrupts;
  std::atomic<bool> stop{false};
  RunSummary summary;
  const bool interrupted = RunUntilInterrupted(
      [&] { summary = RunLoad(*port, path, ChoiceOf(a), version, ProgressPrinter(a.progress), SystemClock(), &stop); },
      [&] { stop.store(true); });
  Conclude(summary, a.progress, interrupted);
}

void LoadForDiff(const std::string& path, tinyxml2::XMLDocument& doc) {
  std::string error;
  const FileState state = LoadBackupFile(path, doc, error);
  if (state == FileState::Missing) Fail(path + " does not exist.", kExitBadFile);
  if (state == FileState::Unreadable) Fail(path + " is not a readable backup (" + error + ").", kExitBadFile);
}

void RunDiffCommand(const BackupArgs& a) {
  tinyxml2::XMLDocument from, to;
  if (a.controller == !a.other.empty()) {
    Fail("backup diff wants either a second file or --controller", kExitUsage);
  }
  if (a.controller) {
    LoadForDiff(a.file, to);
    CliOperator op(std::cout, std::cerr);
    auto port = OpenBackupPort(a.port, a.baud);
    Connect(*port, op);
    const RunSummary read = ReadController(*port, from, ChoiceOf(a), ProgressPrinter(a.json ? "plain" : a.progress));
    if (!read.Success()) {
      std::cerr << "The controller could not be read completely:\n" << read.Text() << std::endl;
      throw CLI::RuntimeError(read.LinkLost() ? kExitTimeout : kExitFailure);
    }
  } else {
    LoadForDiff(a.file, from);
    LoadForDiff(a.other, to);
  }
  // Only the sections asked for (all three when none is named).
  const BackupDiffResult diff = DiffBackups(from, to, SectionNames(ChoiceOf(a).Selectors()));
  if (a.json) {
    std::cout << DiffJson(diff).dump(2) << std::endl;
  } else {
    std::cout << DiffText(diff);
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
  auto port = std::make_unique<CommPort>();
  std::string name = a.port;
  std::uint32_t baud = a.baud;
  if (name.empty() || baud == 0) {
    ConfigData settings;
    LoadSettings(settings);
    if (name.empty()) name = settings.PrimaryPortParams().name;
    if (baud == 0) baud = settings.PrimaryPortParams().baudRate;
  }
  if (!port->Open(name, baud, platform::Parity::None, 8, platform::StopBits::One)) Fail("Could not open the port " + name, kExitPort);
  SerialTestModel model(*port, [](const std::string& text) { std::cout << text; }, op);
  model.count = a.count;
  model.timeoutMs = a.timeoutMs;
  if (!a.file.empty()) {
    model.filePath = a.file;
    model.SendFile();
    if (!model.fileProblem.empty()) Fail(a.file + ": Unable to Open File! (" + model.fileProblem + ")", kExitBadFile);
  } else if (!model.Send(a.line)) {
    Fail("The line is not valid: use single characters and 0xHH byte values separated by commas.", kExitUsage);
  }
  std::cout << std::endl;
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
