// info, flash, load, dump: the controller workflows on the command line.
// They run the same core workflows and engines as the GUI's menu commands.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/CliOperator.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/Workflows.h"
#include "core/roles/PortRoles.h"
#include "core/protocol/Controller.h"
#include "core/protocol/Util.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {
namespace {

struct LinkArgs {
  std::string port;
  std::uint32_t baud = 0;
  std::string progress = "auto";
};

// The settings and the open controller link of one command.
struct Session {
  ConfigData settings;
  std::unique_ptr<LinkState> link;

  Session(const LinkArgs& args, Operator& op) {
    LoadSettings(settings);
    op.SetErrorLogFolder(settings.GetUserTempPath());
    link = std::make_unique<LinkState>(settings, &op);
    // The port and rate given on the command line are used for this run
    // only; the stored settings stay as they are.
    link->SetOverride(PortRole::Primary, {args.port, args.baud});
    const bool opened = args.port.empty() ? link->OpenPrimaryAtStartup()
                                          : link->OpenLink(Target::Controller);
    if (!opened) {
      const std::string name = link->ParamsFor(PortRole::Primary).name;
      const std::string why = link->EnsurePrimaryPort().LastError();
      Fail(ResultText(rc::kPortOpenFailed) + ": " + name + (why.empty() ? "" : " (" + why + ")"),
           kExitPort);
    }
  }
};

void AddLinkOptions(CLI::App* cmd, LinkArgs& args) {
  cmd->add_option("--port", args.port,
                  "Controller port: a device path, COMn, or A.B.C.D[:PORT] (default: the stored "
                  "primary port)");
  cmd->add_option("--baud", args.baud, "Baud rate of the port (default: the stored rate)")
      ->check(CLI::IsMember(std::vector<std::uint32_t>(std::begin(kBaudRates), std::end(kBaudRates))));
}

void AddProgressOption(CLI::App* cmd, LinkArgs& args) {
  cmd->add_option("--progress", args.progress, "auto (bar on a terminal), plain, bar or json")
      ->check(CLI::IsMember({"auto", "plain", "bar", "json"}));
}

void Finish(ResultCode code, CliOperator& op) {
  if (code == rc::kSuccess) return;
  if (code == rc::kStoppedByProgram) {
    std::cerr << "Interrupted" << std::endl;
    throw CLI::RuntimeError(kExitInterrupted);
  }
  // A question answered no (or a choice not made) is the person's own stop:
  // nothing went wrong, so nothing more is said.
  if (code == rc::kStoppedByOperator) throw CLI::RuntimeError(kExitDeclined);
  // The workflow has already said why; a bare code still gets its text.
  if (op.LastProblem().empty()) std::cerr << CliResultText(code) << std::endl;
  throw CLI::RuntimeError(ExitCodeFor(code));
}

std::string HexBytes(const std::uint8_t* p, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    s += buf;
  }
  return s;
}

void RunInfo(const LinkArgs& args, bool json) {
  CliOperator op(std::cout, std::cerr);
  Session session(args, op);
  LinkState& link = *session.link;
  link.BeginCommand();
  CommPort& port = link.EnsurePrimaryPort();
  ApplicationHeader header{};
  BootInfo boot{};
  const ResultCode code = Get_RQ700_APP_Header(port, header, boot, &op);
  link.EndCommand();
  if (code != rc::kSuccess && code != rc::kNoApplication) {
    Fail(ResultText(code) + "\n" + "Could not read the controller's identity.", ExitCodeFor(code));
  }
  char base[16];
  std::snprintf(base, sizeof base, "0x%08X", header.applicationBase);
  const std::string revision(1, header.controllerRevision);
  const std::string serial = BootBlockSerialNumber(boot.controllerBootBlock);
  const bool present = code == rc::kSuccess;
  const std::string identity = HexBytes(header.controllerIdentity.data(), header.controllerIdentity.size());
  if (json) {
    std::cout << "{\"revision\":" << JsonString(revision) << ",\"serial\":" << JsonString(serial)
              << ",\"boot_block\":" << JsonString(HexBytes(boot.controllerBootBlock.data(), 16))
              << ",\"application\":" << (present ? "true" : "false")
              << ",\"application_base\":"
              << (present ? std::to_string(header.applicationBase) : std::string("null"))
              << ",\"version\":" << JsonString(FieldText(header.controllerVersion))
              << ",\"model\":" << JsonString(FieldText(header.controllerModel))
              << ",\"identity\":" << JsonString(identity) << "}" << std::endl;
    return;
  }
  std::cout << "CPU board revision: " << revision << "\n"
            << "Serial number:      " << serial << "\n"
            << "Boot identity:      " << HexBytes(boot.controllerBootBlock.data(), 16) << "\n";
  if (!present) {
    std::cout << ResultText(rc::kNoApplication) << std::endl;
    return;
  }
  std::cout << "Application base:   " << base << "\n"
            << "Version:            " << FieldText(header.controllerVersion) << "\n"
            << "Model:              " << FieldText(header.controllerModel) << "\n"
            << "Identity:           " << identity << std::endl;
}

ProgressStyle StyleFor(const LinkArgs& args) {
  return ChooseProgressStyle(args.progress, ::isatty(STDERR_FILENO) != 0);
}

}  // namespace

void RegisterControllerCommands(CLI::App& app) {
  auto args = std::make_shared<LinkArgs>();

  auto* info = app.add_subcommand("info", "Show the controller's board revision, boot identity and application");
  auto infoJson = std::make_shared<bool>(false);
  AddLinkOptions(info, *args);
  info->add_flag("--json", *infoJson, "One JSON object instead of text");
  info->callback([args, infoJson] { RunInfo(*args, *infoJson); });

  auto* flash = app.add_subcommand("flash", "Flash RQ700 Series: erase and program an application image (*.FMF)");
  auto flashFile = std::make_shared<std::string>();
  auto yes = std::make_shared<bool>(false);
  flash->add_option("file", *flashFile, "Flash memory file (*.FMF)")->required();
  AddLinkOptions(flash, *args);
  AddProgressOption(flash, *args);
  flash->add_flag("--yes", *yes, "Answer yes to the MAC address question");
  auto verify = std::make_shared<bool>(false);
  flash->add_flag("--verify", *verify,
                  "Once programmed, read back what was written and compare it byte for byte");
  flash->callback([args, flashFile, yes, verify] {
    const std::string path = Absolute(*flashFile);
    const ProgressStyle style = StyleFor(*args);
    CliOperator op(std::cout, std::cerr);
    op.SetJson(style == ProgressStyle::Json);
    op.SetOpenFile(path);
    op.SetAssumeYes(*yes);
    op.SetInteractive(::isatty(STDIN_FILENO) != 0);
    op.SetInput([]() -> std::optional<std::string> {
      std::string line;
      if (!std::getline(std::cin, line)) return std::nullopt;
      return line;
    });
    Session session(*args, op);
    CliJobRunner runner(op, style, std::cout, std::cerr);
    const InterruptGuard interrupts;
    WorkflowOptions options;
    options.verify = *verify;
    Finish(FlashRQ700Series(*session.link, op, runner, options), op);
  });

  auto* load = app.add_subcommand("load", "Load a HEX image into the controller's RAM");
  auto loadFile = std::make_shared<std::string>();
  auto run = std::make_shared<bool>(false);
  load->add_option("file", *loadFile, "Download file (*.HEX)")->required();
  AddLinkOptions(load, *args);
  AddProgressOption(load, *args);
  load->add_flag("--run", *run, "Start the program once it is loaded (\"Run on completion\")");
  load->callback([args, loadFile, run] {
    const std::string path = Absolute(*loadFile);
    const ProgressStyle style = StyleFor(*args);
    CliOperator op(std::cout, std::cerr);
    op.SetJson(style == ProgressStyle::Json);
    op.SetOpenFile(path);
    Session session(*args, op);
    CliJobRunner runner(op, style, std::cout, std::cerr, *run);
    const InterruptGuard interrupts;
    Finish(LoadMemoryImage(*session.link, op, runner), op);
  });

  auto* dump = app.add_subcommand("dump", "Dump RQ700 Series Memory into a binary file (*.Bin)");
  auto dumpFile = std::make_shared<std::string>();
  dump->add_option("file", *dumpFile, "Output file (*.Bin)")->required();
  AddLinkOptions(dump, *args);
  AddProgressOption(dump, *args);
  dump->callback([args, dumpFile] {
    const std::string path = Absolute(*dumpFile);
    RefuseBadOutput(path);
    const ProgressStyle style = StyleFor(*args);
    CliOperator op(std::cout, std::cerr);
    op.SetJson(style == ProgressStyle::Json);
    op.SetSaveFile(path);
    Session session(*args, op);
    CliJobRunner runner(op, style, std::cout, std::cerr);
    const InterruptGuard interrupts;
    // A stopped run keeps what it read beside the chosen file (a failed one
    // says so in its own list); say where, but not for a part left by some
    // earlier run.
    const std::string partial = PartialDumpPath(path);
    const auto stamp = [&partial] {
      std::error_code ec;
      return std::filesystem::last_write_time(partial, ec);
    };
    const auto before = stamp();
    const ResultCode code = DumpRQ700SeriesMemory(*session.link, op, runner);
    std::error_code ec;
    if (code == rc::kStoppedByProgram && std::filesystem::exists(partial, ec) && stamp() != before) {
      std::cerr << "What was read is kept in " << partial << "; " << path << " is left as it was"
                << std::endl;
    }
    Finish(code, op);
  });
}

}  // namespace tarnvale::cli
