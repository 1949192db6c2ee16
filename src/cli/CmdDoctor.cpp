// doctor: what would make a job fail on this bench, before any job starts.
// One line per finding (a mark, what was found, and below it how to mend
// it), or one JSON object with --json. Exit 0 only when no needed check
// failed; otherwise the code of the first failure: 3 for a port, 4 for a
// device that does not answer, 5 for the image file.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "core/doctor/Doctor.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {
namespace {

// Keys in the order they are set: the id and status first, for a reader.
using Json = nlohmann::ordered_json;

struct DoctorArgs {
  std::string port;
  std::string programmerPort;
  std::string image;
  std::string target = "rq700";
  bool json = false;
};

// The character set of the terminal, from the locale variables in their
// order of precedence: the marks need UTF-8.
bool Utf8Locale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') continue;
    std::string s(v);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
  }
  return false;
}

const char* Mark(doctor::CheckStatus s, bool utf8) {
  switch (s) {
    case doctor::CheckStatus::Ok: return utf8 ? "\u2713" : "[ok]";
    case doctor::CheckStatus::Warn: return utf8 ? "!" : "[warn]";
    case doctor::CheckStatus::Fail: return utf8 ? "\u2717" : "[FAIL]";
  }
  return "?";
}

const char* StatusWord(doctor::CheckStatus s) {
  switch (s) {
    case doctor::CheckStatus::Ok: return "ok";
    case doctor::CheckStatus::Warn: return "warn";
    case doctor::CheckStatus::Fail: return "fail";
  }
  return "?";
}

int ExitFor(const doctor::DoctorReport& report) {
  if (report.Passed()) return kExitOk;
  switch (report.FirstFailure()) {
    case doctor::FailureKind::Port: return kExitPort;
    case doctor::FailureKind::NoAnswer: return kExitTimeout;
    case doctor::FailureKind::File: return kExitBadFile;
    case doctor::FailureKind::None: break;
  }
  return kExitFailure;
}

Json ToJson(const doctor::DoctorReport& report, int exitCode) {
  Json checks = Json::array();
  for (const doctor::CheckItem& c : report.checks) {
    Json j{{"id", c.id}, {"status", StatusWord(c.status)}, {"text", c.text}};
    if (!c.role.empty()) j["role"] = c.role;
    if (!c.fix.empty()) j["fix"] = c.fix;
    if (!c.holders.empty()) {
      Json list = Json::array();
      for (const doctor::ProcessInfo& p : c.holders) list.push_back({{"pid", p.pid}, {"name", p.name}});
      j[c.id == "modemmanager" ? "processes" : "holders"] = list;
    }
    if (!c.deviceName.empty()) j["device"] = c.deviceName;
    if (c.replyMs) j["reply_ms"] = *c.replyMs;
    if (c.image) {
      j["image"] = {{"packets", c.image->packets},       {"data_bytes", c.image->dataBytes},
                    {"wire_bytes", c.image->wireBytes},  {"bits_per_character", c.image->bitsPerCharacter},
                    {"baud", c.image->baud},             {"pause_ms", c.image->pauseMs},
                    {"seconds", c.image->seconds}};
    }
    checks.push_back(std::move(j));
  }
  return {{"checks", checks}, {"passed", report.Passed()}, {"exit_code", exitCode}};
}

void PrintChecklist(const doctor::DoctorReport& report, bool utf8) {
  std::size_t failed = 0, warned = 0;
  for (const doctor::CheckItem& c : report.checks) {
    std::cout << Mark(c.status, utf8) << " " << c.text << "\n";
    if (!c.fix.empty() && c.status != doctor::CheckStatus::Ok) std::cout << "    fix: " << c.fix << "\n";
    failed += c.status == doctor::CheckStatus::Fail ? 1 : 0;
    warned += c.status == doctor::CheckStatus::Warn ? 1 : 0;
  }
  if (failed == 0) {
    std::cout << "Ready: every needed check passed";
  } else {
    std::cout << "Not ready: " << failed << (failed == 1 ? " check" : " checks") << " failed";
  }
  if (warned != 0) std::cout << " (" << warned << (warned == 1 ? " warning" : " warnings") << ")";
  std::cout << std::endl;
}

void RunDoctor(const DoctorArgs& args) {
  const std::optional<Target> target = ParseTarget(args.target);
  if (!target || Info(*target).reader == nullptr) {
    Fail("--target must name a target with images: rq700, pic18, pic30, 386, tn835 or tn835-jtag", kExitUsage);
  }
  ConfigData settings;
  settings.Load();
  doctor::DoctorOptions options;
  options.primaryPort = args.port;
  options.programmerPort = args.programmerPort;
  if (!args.image.empty()) options.image = args.image;
  options.imageTarget = *target;
  options.self = ::getpid();
  const doctor::DoctorReport report = doctor::RunDoctor(settings, options);
  const int code = ExitFor(report);
  if (args.json) {
    std::cout << ToJson(report, code).dump() << std::endl;
  } else {
    PrintChecklist(report, Utf8Locale());
  }
  if (code != kExitOk) throw CLI::RuntimeError(code);
}

}  // namespace

void RegisterDoctorCommands(CLI::App& app) {
  auto args = std::make_shared<DoctorArgs>();
  CLI::App* cmd = app.add_subcommand(
      "doctor", "Check the ports, their permissions and the devices on them before a job starts");
  cmd->add_option("--port", args->port,
                  "Controller port to check: a device path, COMn, or A.B.C.D[:PORT] (default: the stored one)");
  cmd->add_option("--programmer-port", args->programmerPort,
                  "Universal Programmer port to check (default: the stored one)");
  cmd->add_option("--image", args->image, "Image file: how long its transfer takes at the stored baud rate");
  cmd->add_option("--target", args->target,
                  "Target the image is for: rq700 (default), pic18, pic30, 386, tn835, tn835-jtag");
  cmd->add_flag("--json", args->json, "One JSON object instead of the checklist");
  cmd->footer(
      "With neither port option both stored ports are checked in full; naming one checks that one in full and "
      "only looks for the other's device.\nExit status: 0 when every needed check passed, else 3 (a port), "
      "4 (no device answered), 5 (the image file) or 1, by the first failed check.");
  cmd->callback([args] { RunDoctor(*args); });
}

}  // namespace tarnvale::cli
