// tn835 program-boot | program-application | program-test: the TN835
// production buttons for line automation. They read the same production
// settings, write the same temporary flash memory files and the same line of
// the production log as the GUI's production dialog.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/BoxSettle.h"
#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/production/NavNumber.h"
#include "core/production/ProductionModel.h"
#include "core/production/Station.h"
#include "core/platform/SystemFacts.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {
namespace {

struct Tn835Args {
  std::string port;
  std::string programmerPort;
  std::uint32_t baud = 0;
  int generation = 5;
  std::string appPath, bootFile, testPath;
  std::string logFile;
  std::string nav;
  std::string progress = "auto";
  // The unit: required for program-boot (written into the image), for the
  // record with the other two.
  std::string serial, revision;
  // program-application
  std::string model = "0";
};

// The model list index of "CODE" or "INDEX": a number is an index, anything
// else the model code ("EF", "PR", ...) or the folder name ("TN835", "NT835").
int ModelIndexOf(const std::string& text) {
  const auto& models = Tn835Models();
  if (!text.empty() && text.size() <= 2 &&
      std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    const int index = std::stoi(text);
    return index < static_cast<int>(models.size()) ? index : -1;
  }
  for (std::size_t i = 0; i < models.size(); ++i) {
    std::string folder = models[i].folder;
    folder.pop_back();  // the trailing backslash
    if ((!text.empty() && text == models[i].code) || text == folder) return static_cast<int>(i);
  }
  return -1;
}

enum class Button { Boot, Application, Test };

// The production model both commands run: the settings' sources with the
// paths given on the command line in their place, the model chosen and the
// box's waits as the bench sets them.
std::unique_ptr<ProductionModel> MakeModel(const ConfigData& settings, const Tn835Args& args,
                                           const std::string& nav, int modelIndex, const std::string& appPath,
                                           const std::string& bootFile, const std::string& testPath,
                                           const std::string& logFile) {
  ProductionOptions options;
  options.boxTimings = BoxTimingsFor(BoxSettleFromEnvironment());
  options.navNumber = nav;
  if (!logFile.empty()) options.logFile = logFile;
  auto model = std::make_unique<ProductionModel>(ProductionSources::FromSettings(settings), args.generation, options);
  if (!appPath.empty()) model->OverrideApplicationPath(appPath);
  if (!bootFile.empty()) model->OverrideBootPath(bootFile);
  if (!testPath.empty()) model->OverrideTestPath(testPath);
  model->SelectModel(modelIndex);
  return model;
}

void Run(const Tn835Args& args, Button button) {
  const ProgressStyle style =
      ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
  CliOperator op(std::cout, std::cerr);
  op.SetJson(style == ProgressStyle::Json);
  int modelIndex = 0;
  if (button == Button::Application) {
    modelIndex = ModelIndexOf(args.model);
    if (modelIndex < 0) {
      std::cerr << "--model wants a model code (EF, N, K, B, M, R, PR, Z, F, G, TN835, NT835) "
                   "or a list index 0 to 11: "
                << args.model << std::endl;
      throw CLI::RuntimeError(kExitUsage);
    }
  }
  // The part number is checked as the dialog's "NAV Number Check" does, so
  // a unit of the other generation is never programmed or logged as this one.
  std::string nav;
  if (!args.nav.empty() && !AcceptNavNumber(args.generation, args.nav, nav)) {
    Fail(NavMismatchText(args.generation) + " (--nav " + args.nav + ", --generation " +
             std::to_string(args.generation) + ")",
         kExitUsage);
  }
  if (button == Button::Boot && TrimmedEntry(args.serial).empty()) {
    Fail(production_text::kNeedSerial, kExitUsage);
  }
  if (button == Button::Boot && TrimmedEntry(args.revision).empty()) {
    Fail(production_text::kNeedRevision, kExitUsage);
  }
  const std::string appPath = Absolute(args.appPath), bootFile = Absolute(args.bootFile),
                    testPath = Absolute(args.testPath), logFile = Absolute(args.logFile);

  // Loading the settings moves the working directory to the temp folder;
  // the paths above were made absolute first.
  ConfigData settings;
  LoadSettings(settings);
  const auto owned = MakeModel(settings, args, nav, modelIndex, appPath, bootFile, testPath, logFile);
  ProductionModel& model = *owned;
  model.SetSerialNumber(args.serial);
  if (!logFile.empty()) {
    RefuseBadOutput(logFile, {model.OpenedApplicationPath(), model.OpenedBootPath(), model.OpenedTestPath()});
  }
  model.SetHardwareRevision(args.revision);

  LinkState link(settings, &op);
  ApplySelectWait(link);
  // The options hold for this run only; the settings record stays as stored.
  link.SetOverride(PortRole::Primary, {args.port, args.baud});
  link.SetOverride(PortRole::Programmer, {args.programmerPort, args.baud});
  link.BeginCommand();
  CliJobRunner runner(op, style, std::cout, std::cerr);
  // Ctrl-C or SIGTERM stops the run at its next step (the erase wait
  // included) so that the unit's line in the log still gets written.
  const InterruptGuard interrupts;
  ResultCode code = rc::kSuccess;
  switch (button) {
    case Button::Boot: code = model.ProgramBoot(link, op, runner); break;
    case Button::Application: code = model.ProgramApplication(link, op, runner); break;
    case Button::Test: code = model.ProgramTest(link, op, runner); break;
  }
  // A command line run ends here: there is no terminal to hand the
  // controller port back to.
  if (CommPort* p = link.ProgrammerPort()) p->Close();
  if (CommPort* p = link.PrimaryPort()) p->Close();

  const ProductionLogRecord& record = model.LastRecord();
  if (style != ProgressStyle::Json) {
    std::cout << "Image:    " << record.imageKind << " (" << record.sourcePath << ")\n";
    if (!record.version.empty()) std::cout << "Version:  " << record.version << "\n";
    if (record.jtagId) std::cout << "JTAG ID:  " << model.JtagIdText() << "\n";
    std::cout << "Result:   " << record.resultText << std::endl;
  }
  if (code == rc::kStoppedByProgram) {
    const std::string text = "Interrupted: the " + record.imageKind +
                             " image was not programmed completely; the run is logged as interrupted";
    if (style == ProgressStyle::Json) {
      std::cout << "{\"event\":\"interrupted\",\"text\":" << JsonString(text) << "}" << std::endl;
    }
    std::cerr << text << std::endl;
  }
  if (code != rc::kSuccess) throw CLI::RuntimeError(ExitCodeFor(code));
  // The unit was programmed but its record is missing: the line must know.
  if (!model.LastLogError().empty()) throw CLI::RuntimeError(kExitBadFile);
}

// tn835 station: units one after another, each numbered from the pattern
// (or a scanned label) and given its boot, application and test images.
struct StationArgs {
  std::string pattern;
  std::string operatorName;
  bool scan = false;
  std::uint32_t units = 0;   // 0: until the person ends (or the input does)
  std::uint32_t next = 0;    // 0: the stored counter
};

std::tm LocalNow() {
  std::tm local{};
  platform::LocalTime(std::time(nullptr), &local);
  return local;
}

void RunStation(const Tn835Args& args, const StationArgs& st) {
  const ProgressStyle style = ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
  CliOperator op(std::cout, std::cerr);
  op.SetJson(style == ProgressStyle::Json);
  op.SetInteractive(::isatty(STDIN_FILENO) != 0);
  auto readLine = []() -> std::optional<std::string> {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  };
  op.SetInput(readLine);
  const int modelIndex = ModelIndexOf(args.model);
  if (modelIndex < 0) Fail("--model wants a model code or a list index 0 to 11: " + args.model, kExitUsage);
  std::string nav;
  if (!args.nav.empty() && !AcceptNavNumber(args.generation, args.nav, nav)) {
    Fail(NavMismatchText(args.generation) + " (--nav " + args.nav + ")", kExitUsage);
  }
  if (TrimmedEntry(args.revision).empty()) Fail(production_text::kNeedRevision, kExitUsage);
  const std::string appPath = Absolute(args.appPath), bootFile = Absolute(args.bootFile),
                    testPath = Absolute(args.testPath), logFile = Absolute(args.logFile);

  ConfigData settings;
  LoadSettings(settings);
  const std::string patternText = st.pattern.empty() ? StoredSerialPattern() : st.pattern;
  std::string error;
  const auto pattern = SerialPattern::Parse(patternText, error);
  if (!pattern) Fail("Serial number pattern " + patternText + ": " + error, kExitUsage);
  // The pattern and a counter given here are the station's from now on.
  if (!st.pattern.empty()) StoreSerialPattern(st.pattern);
  if (st.next != 0) StoreNextNumber(st.next);

  std::string name = TrimmedEntry(st.operatorName);
  if (name.empty()) name = TrimmedEntry(op.AskText("Operator name:", "Station mode").value_or(""));
  if (name.empty()) Fail("Station mode logs who runs it: give the operator's name (--operator NAME)", kExitUsage);

  const auto owned = MakeModel(settings, args, nav, modelIndex, appPath, bootFile, testPath, logFile);
  ProductionModel& model = *owned;
  model.SetHardwareRevision(args.revision);
  model.SetOperatorName(name);
  model.SetLocked(true);  // every unit of the shift gets the same images
  Station station(*pattern);
  station.SetOperatorName(name);

  LinkState link(settings, &op);
  ApplySelectWait(link);
  link.SetOverride(PortRole::Primary, {args.port, args.baud});
  link.SetOverride(PortRole::Programmer, {args.programmerPort, args.baud});
  link.BeginCommand();
  CliJobRunner runner(op, style, std::cout, std::cerr);
  const InterruptGuard interrupts;
  std::cout << "Station: " << name << ", serial numbers " << pattern->Text() << std::endl;
  bool interrupted = false;
  for (std::uint32_t unit = 0; !interrupted && (st.units == 0 || unit < st.units); ++unit) {
    if (st.scan) {
      std::cerr << "Scan the next unit's serial number (an empty line ends): " << std::flush;
      const auto line = readLine();
      if (!line || TrimmedEntry(*line).empty()) break;
      station.Scan(TrimmedEntry(*line));
    } else if (st.units == 0) {
      std::cerr << "Next unit " << station.NextSerial(LocalNow()) << ": Enter programs it, q ends: " << std::flush;
      const auto line = readLine();
      if (!line || TrimmedEntry(*line) == "q" || TrimmedEntry(*line) == "Q") break;
    }
    if (const std::string problem = station.NextSerialProblem(LocalNow()); !problem.empty()) {
      Fail(problem, kExitUsage);
    }
    model.SetSerialNumber(station.NextSerial(LocalNow()));
    std::cout << "Unit " << model.SerialNumber() << std::endl;
    using Step = ResultCode (ProductionModel::*)(LinkState&, Operator&, JobRunner&);
    const std::pair<ProductionImageKind, Step> steps[] = {
        {ProductionImageKind::Boot, &ProductionModel::ProgramBoot},
        {ProductionImageKind::Application, &ProductionModel::ProgramApplication},
        {ProductionImageKind::Test, &ProductionModel::ProgramTest}};
    for (const auto& [kind, button] : steps) {
      const ResultCode code = (model.*button)(link, op, runner);
      station.RunEnded(kind, code, model.SerialNumber(), LocalNow());
      std::cout << "  " << model.LastRecord().imageKind << ": " << model.LastRecord().resultText << std::endl;
      if (code == rc::kStoppedByProgram) interrupted = true;
      if (code != rc::kSuccess) break;  // the unit goes aside; its next image would mean nothing
    }
    std::cout << station.CountersText() << std::endl;
  }
  if (CommPort* p = link.ProgrammerPort()) p->Close();
  if (CommPort* p = link.PrimaryPort()) p->Close();
  std::cout << "Shift: " << station.CountersText() << std::endl;
  if (interrupted) throw CLI::RuntimeError(kExitInterrupted);
  if (station.Failures() != 0) throw CLI::RuntimeError(kExitFailure);
}

void AddCommonOptions(CLI::App* cmd, Tn835Args& args, Button button) {
  // Spaces a scanner puts around a serial number do not count.
  auto* serial = cmd->add_option("--serial", args.serial,
                                 button == Button::Boot
                                     ? "Serial number, at most 15 characters"
                                     : "Serial number of the unit, for the production log")
                     ->check([](const std::string& s) {
                       return TrimmedEntry(s).size() <= 15 ? std::string()
                                                           : std::string("at most 15 characters");
                     });
  auto* revision = cmd->add_option("--hw-rev", args.revision,
                                   button == Button::Boot
                                       ? "8251 hardware revision, one character"
                                       : "8251 hardware revision of the unit, for the production log")
                       ->check([](const std::string& s) {
                         return TrimmedEntry(s).size() <= 1 ? std::string()
                                                            : std::string("one character");
                       });
  if (button == Button::Boot) {
    serial->required();
    revision->required();
  }
  cmd->add_option("--generation", args.generation, "Product generation 4 or 5 (default 5)")
      ->check(CLI::IsMember({4, 5}));
  if (button == Button::Boot) {
    cmd->add_option("--programmer-port", args.programmerPort,
                    "Universal Programmer port: a device path, COMn, or A.B.C.D[:PORT] "
                    "(default: the stored programmer port)");
    cmd->add_option("--boot-file", args.bootFile, "Boot S-record file (default: from the settings)");
  } else {
    cmd->add_option("--port", args.port,
                    "Controller port: a device path, COMn, or A.B.C.D[:PORT] (default: the "
                    "stored primary port)");
  }
  if (button == Button::Application) {
    cmd->add_option("--app-path", args.appPath,
                    "Application S-record file (default: from the settings, generation and model)");
  }
  if (button == Button::Test) {
    cmd->add_option("--test-path", args.testPath,
                    "Test S-record file (default: from the settings and generation)");
  }
  cmd->add_option("--baud", args.baud, "Baud rate of the port (default: the stored one)");
  cmd->add_option("--nav", args.nav, "Part (NAV) number of the unit, for the production log");
  cmd->add_option("--log", args.logFile,
                  "Production log to append to (default: production-log.jsonl in the temp folder)");
  cmd->add_option("--progress", args.progress, "auto (bar on a terminal), plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
}

}  // namespace

void RegisterTn835Commands(CLI::App& app) {
  auto* group = app.add_subcommand("tn835", "TN835 production programming: boot, application and test images");
  group->require_subcommand(1);

  auto bootArgs = std::make_shared<Tn835Args>();
  auto* boot = group->add_subcommand("program-boot", "Program Boot: the boot image through the box and the JTAG port");
  AddCommonOptions(boot, *bootArgs, Button::Boot);
  boot->callback([bootArgs] { Run(*bootArgs, Button::Boot); });

  auto appArgs = std::make_shared<Tn835Args>();
  auto* application = group->add_subcommand("program-application", "Program Application: the application image over RS-485");
  application->add_option("--model", appArgs->model, "Model code (EF, PR, ...) or list index 0-11 (default 0)");
  AddCommonOptions(application, *appArgs, Button::Application);
  application->callback([appArgs] { Run(*appArgs, Button::Application); });

  auto testArgs = std::make_shared<Tn835Args>();
  auto* test = group->add_subcommand("program-test", "Program Test: the burn-in test image over RS-485");
  AddCommonOptions(test, *testArgs, Button::Test);
  test->callback([testArgs] { Run(*testArgs, Button::Test); });

  auto stationArgs = std::make_shared<Tn835Args>();
  auto station = std::make_shared<StationArgs>();
  auto* stationCmd = group->add_subcommand(
      "station", "Station mode: unit after unit, numbered from a pattern or a scanned label, all three images each");
  stationCmd->add_option("--pattern", station->pattern,
                         "Serial number pattern, e.g. TN835-{yy}-{n:05} (default: the stored one); kept");
  stationCmd->add_option("--operator", station->operatorName, "Operator's name, logged with each unit (default: asked)");
  stationCmd->add_flag("--scan", station->scan, "Read each unit's serial number from a scanned label (a line on stdin)");
  stationCmd->add_option("--units", station->units, "Program this many units, then end (default: until q or end of input)");
  stationCmd->add_option("--next", station->next, "Set the counter's next value (kept in the settings)")
      ->check(CLI::Range(1u, 999999999u));
  stationCmd->add_option("--model", stationArgs->model, "Model code (EF, PR, ...) or list index 0-11 (default 0)");
  stationCmd->add_option("--hw-rev", stationArgs->revision, "8251 hardware revision, one character")->required();
  stationCmd->add_option("--generation", stationArgs->generation, "Product generation 4 or 5 (default 5)")
      ->check(CLI::IsMember({4, 5}));
  stationCmd->add_option("--port", stationArgs->port, "Controller port (default: the stored primary port)");
  stationCmd->add_option("--programmer-port", stationArgs->programmerPort,
                         "Universal Programmer port (default: the stored programmer port)");
  stationCmd->add_option("--boot-file", stationArgs->bootFile, "Boot S-record file (default: from the settings)");
  stationCmd->add_option("--app-path", stationArgs->appPath, "Application S-record file (default: from the settings)");
  stationCmd->add_option("--test-path", stationArgs->testPath, "Test S-record file (default: from the settings)");
  stationCmd->add_option("--baud", stationArgs->baud, "Baud rate of the ports (default: the stored ones)");
  stationCmd->add_option("--nav", stationArgs->nav, "Part (NAV) number of the units, for the production log");
  stationCmd->add_option("--log", stationArgs->logFile, "Production log to append to (default: the temp folder's)");
  stationCmd->add_option("--progress", stationArgs->progress, "auto (bar on a terminal), plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
  stationCmd->callback([stationArgs, station] { RunStation(*stationArgs, *station); });
}

}  // namespace tarnvale::cli
