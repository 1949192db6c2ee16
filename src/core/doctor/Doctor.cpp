#include "core/doctor/Doctor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "core/platform/PortList.h"
#include "core/platform/SystemFacts.h"
#include "core/platform/TcpSocket.h"
#include "core/roles/PortRoles.h"

namespace tarnvale::doctor {
namespace fs = std::filesystem;

namespace {

struct RoleNames {
  const char* label;        // "controller port"
  const char* role;         // "primary"
  const char* option;       // "--port"
  const char* nameSetting;  // "COMPort"
  const char* baudSetting;  // "BaudRate"
};

constexpr RoleNames kPrimaryNames{"controller port", "primary", "--port", "COMPort", "BaudRate"};
constexpr RoleNames kProgrammerNames{"programmer port", "programmer", "--programmer-port", "AuxCOMPort",
                                     "AuxBaudRate"};

const RoleNames& NamesOf(PortRole role) { return role == PortRole::Primary ? kPrimaryNames : kProgrammerNames; }

std::string LineText(const PortParams& p) {
  static constexpr char kParity[] = "NOEMS";
  const std::string stop = p.stopBits == 0 ? "1" : p.stopBits == 1 ? "1.5" : "2";
  return std::to_string(p.baudRate) + " baud, " + std::to_string(p.byteSize) +
         kParity[std::min<unsigned>(p.parity, 4)] + stop;
}

std::string Seconds(double s) {
  char buf[48];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%.1f s", s);
  } else {
    const auto whole = static_cast<long>(std::lround(s));
    std::snprintf(buf, sizeof buf, "%ld min %02ld s", whole / 60, whole % 60);
  }
  return buf;
}

std::string HolderList(const std::vector<ProcessInfo>& holders) {
  std::string s;
  for (const ProcessInfo& p : holders) {
    if (!s.empty()) s += ", ";
    s += (p.name.empty() ? std::string("?") : p.name) + " (pid " + std::to_string(p.pid) + ")";
  }
  return s;
}

// Collects the items of one role; a role that is not needed turns its
// failures into warnings.
class RoleCheck {
 public:
  RoleCheck(DoctorReport& report, PortRole role, bool needed)
      : report_(report), names_(NamesOf(role)), needed_(needed) {}

  CheckItem& Add(std::string id, CheckStatus status, std::string text, std::string fix = {},
                 FailureKind kind = FailureKind::None) {
    CheckItem item;
    item.id = std::move(id);
    item.role = names_.role;
    if (status == CheckStatus::Fail && !needed_) {
      status = CheckStatus::Warn;
      kind = FailureKind::None;
      text += " (not needed unless you use the " + std::string(names_.label) + ")";
    }
    item.status = status;
    item.text = std::move(text);
    item.fix = std::move(fix);
    item.kind = status == CheckStatus::Fail ? kind : FailureKind::None;
    report_.checks.push_back(std::move(item));
    return report_.checks.back();
  }
  const RoleNames& Names() const { return names_; }

 private:
  DoctorReport& report_;
  const RoleNames& names_;
  bool needed_;
};

std::string SetPortFix(const RoleNames& n) {
  return std::string("give it with ") + n.option + " NAME, or store it: tarnvale-cli settings set " + n.nameSetting +
         " /dev/ttyUSB0 (tarnvale-cli ports lists this machine's serial devices)";
}

std::string PortListText(const SystemRoots& roots) {
  std::string s;
  for (const platform::PortInfo& p : platform::ListSerialPorts(roots.sysTty.string())) {
    if (!s.empty()) s += ", ";
    s += p.name;
  }
  return s.empty() ? "none" : s;
}

// Opens the port with the role's settings and asks the device there.
void OpenAndAsk(RoleCheck& check, PortRole role, const ResolvedPort& where, PortParams params,
                const Clock& clock) {
  const RoleNames& n = check.Names();
  CommPort port;
  params.name = where.name;
  const std::string shown = where.tcp ? where.endpoint : where.device;
  if (!OpenWith(port, params)) {
    const std::string why = port.LastError();
    std::string fix = where.tcp ? "check the address, that the device is on and that nothing else is connected to it"
                                : "check the cable and the device";
    if (why.find("busy") != std::string::npos) {
      fix = "another program has it open: close it (sudo fuser -v " + where.device + " names it)";
    }
    check.Add("port.open", CheckStatus::Fail, shown + " would not open" + (why.empty() ? "" : ": " + why), fix,
              FailureKind::Port);
    return;
  }
  check.Add("port.open", CheckStatus::Ok,
            where.tcp ? "connected to " + shown : shown + " opens at " + LineText(params));

  if (role == PortRole::Programmer) {
    const ProbeAnswer a = ProbeBox(port, clock);
    port.Close();
    if (a.answered) {
      CheckItem& item = check.Add("device", CheckStatus::Ok,
                                  "Universal Programmer answered in " + std::to_string(a.replyMs) + " ms (" +
                                      a.detail + ")");
      item.replyMs = a.replyMs;
      item.deviceName = "Universal Programmer";
      return;
    }
    check.Add("device", CheckStatus::Fail,
              "the Universal Programmer did not answer on " + shown + " (" + ResultText(a.code) + " after " +
                  std::to_string(a.replyMs) + " ms)",
              "check the box's power supply and its USB cable to this PC; check the programmer port's baud rate "
              "(tarnvale-cli settings set " + std::string(n.baudSetting) + " N)",
              FailureKind::NoAnswer);
    return;
  }

  const ProbeAnswer controller = ProbeController(port, clock);
  if (controller.answered) {
    port.Close();
    CheckItem& item = check.Add("device", CheckStatus::Ok,
                                "RQ700 controller answered in " + std::to_string(controller.replyMs) + " ms (" +
                                    controller.detail + ")");
    item.replyMs = controller.replyMs;
    item.deviceName = "RQ700 controller";
    return;
  }
  // Not a controller in flash program mode: perhaps an RQ750 in Data
  // Backup mode, which talks at its own rate.
  port.Close();
  PortParams backup = params;
  backup.baudRate = kBackupBaudRate;
  backup.parity = 0;
  backup.byteSize = 8;
  backup.stopBits = 0;
  ProbeAnswer rq750;
  if (OpenWith(port, backup)) {
    rq750 = ProbeRq750(port, clock);
    port.Close();
  }
  if (rq750.answered) {
    CheckItem& item = check.Add("device", CheckStatus::Ok,
                                "RQ750 answered in " + std::to_string(rq750.replyMs) + " ms at " +
                                    std::to_string(kBackupBaudRate) + " baud (" + rq750.detail + ")");
    item.replyMs = rq750.replyMs;
    item.deviceName = "RQ750";
    return;
  }
  std::string text = "nothing answered on " + shown + ": no RQ700 controller at " + std::to_string(params.baudRate) +
                     " baud (" + ResultText(controller.code) + " after " + std::to_string(controller.replyMs) +
                     " ms), no RQ750 at " + std::to_string(kBackupBaudRate) + " baud";
  if (!rq750.detail.empty()) text += " (" + rq750.detail + " answered)";
  check.Add("device", CheckStatus::Fail, text,
            "check that the controller is powered and its cable is in; an RQ700 must be in flash program mode "
            "and set to the port's rate (tarnvale-cli settings set " + std::string(n.baudSetting) +
                " N), an RQ750 in Data Backup mode",
            FailureKind::NoAnswer);
}

void CheckRole(DoctorReport& report, const ConfigData& settings, PortRole role, const std::string& given,
               bool full, bool needed, const DoctorOptions& options, const Clock& clock) {
  RoleCheck check(report, role, needed);
  const RoleNames& n = check.Names();
  const ResolvedPort where = ResolvePort(settings, role, given);
  if (where.name.empty()) {
    check.Add("port.name", CheckStatus::Fail, std::string("no ") + n.label + " is set", SetPortFix(n),
              FailureKind::Port);
    return;
  }
  if (!where.tcp && where.device.empty()) {
    check.Add("port.name", CheckStatus::Fail,
              std::string(n.label) + " \"" + where.name + "\" (" + where.source +
                  ") is neither a serial port (a device path or COMn) nor an IPv4 address",
              SetPortFix(n), FailureKind::Port);
    return;
  }
  std::string text = std::string(n.label) + " " + where.name;
  if (where.tcp) {
    text += " is TCP/IP " + where.endpoint;
  } else if (where.device != where.name) {
    text += " is " + where.device;
  }
  check.Add("port.name", CheckStatus::Ok, text + " (" + where.source + ")");

  PortParams params = role == PortRole::Primary ? settings.PrimaryPortParams() : settings.ProgrammerPortParams();
  if (where.tcp) {
    if (full) OpenAndAsk(check, role, where, params, clock);
    return;
  }

  const auto st = platform::StatFile(where.device);
  if (!st) {
    check.Add("port.exists", CheckStatus::Fail, where.device + " does not exist",
              "plug in the cable or adapter, or name another port; serial devices here: " +
                  PortListText(options.roots),
              FailureKind::Port);
    return;
  }
  // Only a terminal device is a port: the holders of /dev/null are every
  // process on the machine, and none of them is in the way.
  if (!IsTtyDevice(*st, options.roots.sysTty)) {
    check.Add("port.exists", CheckStatus::Fail, where.device + " exists but is not a serial device",
              SetPortFix(n), FailureKind::Port);
    return;
  }
  check.Add("port.exists", CheckStatus::Ok, where.device + " exists");
  if (!full) return;

  const AccessVerdict access = JudgeAccess(GatherAccess(where.device));
  check.Add("port.access", access.ok ? CheckStatus::Ok : CheckStatus::Fail, access.text, access.fix,
            FailureKind::Port);

  const HolderScan scan = FindHolders(where.device, options.roots.proc, options.self);
  if (!scan.holders.empty()) {
    std::string fix = "close that program first, or end it: kill";
    for (const ProcessInfo& p : scan.holders) fix += " " + std::to_string(p.pid);
    CheckItem& item = check.Add("port.holders", CheckStatus::Fail,
                                where.device + " is held open by " + HolderList(scan.holders), fix, FailureKind::Port);
    item.holders = scan.holders;
  } else {
    std::string free = "no other process holds " + where.device + " open";
    if (scan.unreadable > 0 && !platform::IsSuperUser()) {
      free += " (" + std::to_string(scan.unreadable) + " processes of other users cannot be looked into without sudo)";
    }
    check.Add("port.holders", CheckStatus::Ok, free);
  }
  // A port another program holds, or one this user may not open, is not
  // touched: opening it would only fail, or steal its data.
  if (!access.ok || !scan.holders.empty()) return;
  OpenAndAsk(check, role, where, params, clock);
}

void CheckModemManager(DoctorReport& report, const std::vector<std::string>& devices, const SystemRoots& roots) {
  bool said = false;
  for (const std::string& device : devices) {
    const ModemManagerFacts facts = GatherModemManager(device, roots);
    if (facts.running.empty()) break;
    const ModemManagerVerdict v = JudgeModemManager(facts, device);
    CheckItem item;
    item.id = "modemmanager";
    item.status = v.warn ? CheckStatus::Warn : CheckStatus::Ok;
    item.text = v.text;
    item.fix = v.fix;
    item.holders = facts.running;
    report.checks.push_back(std::move(item));
    said = true;
  }
  if (said) return;
  CheckItem item;
  item.id = "modemmanager";
  item.holders = FindProcesses(roots.proc, "ModemManager");
  item.text = item.holders.empty() ? "ModemManager is not running"
                                   : "ModemManager is running; no serial device checked here for it to grab";
  report.checks.push_back(std::move(item));
}

void CheckImage(DoctorReport& report, const ConfigData& settings, const DoctorOptions& options) {
  CheckItem item;
  item.id = "image";
  const fs::path path = *options.image;
  const TargetInfo& row = Info(options.imageTarget);
  const PortRole role = row.role;
  const ResolvedPort where = ResolvePort(settings, role,
                                         role == PortRole::Primary ? options.primaryPort : options.programmerPort);
  const PortParams p = role == PortRole::Primary ? settings.PrimaryPortParams() : settings.ProgrammerPortParams();
  LineFormat line;
  line.baud = p.baudRate;
  line.byteSize = p.byteSize;
  line.parity = ParityFromCode(p.parity);
  line.stopBits = StopBitsFromCode(p.stopBits);
  ImageTime time;
  FileFailure failure;
  const ResultCode r = EstimateImageTime(options.imageTarget, path, line, time, failure);
  if (r != rc::kFileOk) {
    item.status = CheckStatus::Fail;
    item.kind = FailureKind::File;
    item.text = FileFailureText(path.string(), ResultText(r), failure);
    item.fix = "check the file name; tarnvale-cli hex scan " + path.string() + " shows what the file holds";
    report.checks.push_back(std::move(item));
    return;
  }
  std::string text = path.filename().string() + ": " + std::to_string(time.dataBytes) + " image bytes in " +
                     std::to_string(time.packets) + " packets, " + std::to_string(time.wireBytes) +
                     " bytes on the wire: about " + Seconds(time.seconds) + " to " + std::string(row.description) +
                     " at " + std::to_string(time.baud) + " baud (" + std::to_string(time.bitsPerCharacter) +
                     " bits a character" +
                     (time.pauseMs != 0 ? ", " + std::to_string(time.pauseMs) + " ms after each packet" : "") + ")";
  if (row.longErase) text += ", plus the erase";
  if (where.tcp) text += "; over TCP/IP the network sets the pace";
  item.text = text;
  item.image = time;
  report.checks.push_back(std::move(item));
}

}  // namespace

bool DoctorReport::Passed() const {
  return std::none_of(checks.begin(), checks.end(), [](const CheckItem& c) { return c.status == CheckStatus::Fail; });
}

FailureKind DoctorReport::FirstFailure() const {
  for (const CheckItem& c : checks) {
    if (c.status == CheckStatus::Fail) return c.kind;
  }
  return FailureKind::None;
}

ResolvedPort ResolvePort(const ConfigData& settings, PortRole role, const std::string& given) {
  ResolvedPort r;
  const RoleNames& n = NamesOf(role);
  if (!given.empty()) {
    r.name = given;
    r.source = std::string("given with ") + n.option;
  } else if (role == PortRole::Primary && settings.GetUseIPAddress()) {
    r.name = settings.GetIPAddress();
    r.source = "stored setting IPAddress, as UseIPAddress is set";
  } else {
    const std::string stored = role == PortRole::Primary ? settings.GetCOMPort() : settings.GetAuxCOMPort();
    if (stored == kTcpIpPortName) {
      r.name = settings.GetIPAddress();
      r.source = std::string("stored setting IPAddress, as ") + n.nameSetting + " is TCP/IP";
    } else {
      r.name = stored;
      r.source = std::string("stored setting ") + n.nameSetting;
    }
  }
  std::string host;
  std::uint16_t tcpPort = 0;
  if (platform::ParseIpv4Endpoint(r.name, host, tcpPort)) {
    r.tcp = true;
    r.endpoint = host + ":" + std::to_string(tcpPort);
  } else {
    r.device = CommPort::DevicePathFor(r.name);
  }
  return r;
}

DoctorReport RunDoctor(const ConfigData& settings, const DoctorOptions& options, const Clock& clock) {
  DoctorReport report;
  const bool anyGiven = !options.primaryPort.empty() || !options.programmerPort.empty();
  const bool primaryFull = !anyGiven || !options.primaryPort.empty();
  const bool programmerFull = !anyGiven || !options.programmerPort.empty();

  std::vector<std::string> devices;
  for (const auto& [role, given] : {std::pair{PortRole::Primary, options.primaryPort},
                                    std::pair{PortRole::Programmer, options.programmerPort}}) {
    const ResolvedPort r = ResolvePort(settings, role, given);
    if (!r.device.empty() && platform::StatFile(r.device) &&
        std::find(devices.begin(), devices.end(), r.device) == devices.end()) {
      devices.push_back(r.device);
    }
  }
  CheckModemManager(report, devices, options.roots);
  CheckRole(report, settings, PortRole::Primary, options.primaryPort, primaryFull, primaryFull, options, clock);
  CheckRole(report, settings, PortRole::Programmer, options.programmerPort, programmerFull, programmerFull, options,
            clock);
  if (options.image) CheckImage(report, settings, options);
  return report;
}

}  // namespace tarnvale::doctor
