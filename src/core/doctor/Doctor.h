#pragma once
// The bench check: everything that makes a job fail before it starts, looked
// at in the order a technician would, each finding with the way to mend it.
//
// For each port role it checks: the name resolves (given on the command line
// or stored), the device exists, this user may open it, no other process
// holds it, it opens, and a device answers one harmless question on it. Once
// for the machine: whether ModemManager may grab ttyACM devices. Given an
// image: how long its stream takes at the role's stored line settings.
//
// Roles named on the command line are checked in full; with none named, both
// stored ports are. A role not named while the other is gets only the look
// at its stored name and device, as a warning: it is not needed for the job
// at hand.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/device/Target.h"
#include "core/doctor/DeviceProbe.h"
#include "core/doctor/ImageTime.h"
#include "core/doctor/SystemScan.h"
#include "core/platform/Clock.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::doctor {

enum class CheckStatus { Ok, Warn, Fail };

// What kind of trouble a failed check is, so a front end can map it onto its
// exit codes: the port, a device that does not answer, a file.
enum class FailureKind { None, Port, NoAnswer, File };

struct CheckItem {
  std::string id;    // "port.name", "port.exists", "port.access", "port.holders", "port.open",
                     // "device", "modemmanager", "image"
  std::string role;  // "primary", "programmer", or empty for the machine and the image
  CheckStatus status = CheckStatus::Ok;
  std::string text;  // what was found
  std::string fix;   // what to do about it (empty when nothing)
  FailureKind kind = FailureKind::None;
  std::vector<ProcessInfo> holders;       // port.holders
  std::optional<std::uint32_t> replyMs;   // device, when something answered
  std::string deviceName;                 // device: "RQ700 controller", "RQ750", "Universal Programmer"
  std::optional<ImageTime> image;         // image
};

struct DoctorOptions {
  std::string primaryPort;     // empty: the stored one
  std::string programmerPort;  // empty: the stored one
  std::optional<std::filesystem::path> image;
  Target imageTarget = Target::Controller;
  SystemRoots roots;
  platform::ProcessId self = -1;  // this process, never reported as a holder
};

struct DoctorReport {
  std::vector<CheckItem> checks;
  bool Passed() const;
  // The kind of the first failed check (None when all passed).
  FailureKind FirstFailure() const;
};

// The role's port name as it would be opened ("given on the command line"
// or its stored setting) and where that comes from.
struct ResolvedPort {
  std::string name;      // as given or stored
  std::string source;    // "given with --port", "stored setting COMPort", ...
  bool tcp = false;
  std::string device;    // the device path of a serial name
  std::string endpoint;  // host:port of a TCP name
};
ResolvedPort ResolvePort(const ConfigData& settings, PortRole role, const std::string& given);

DoctorReport RunDoctor(const ConfigData& settings, const DoctorOptions& options,
                       const Clock& clock = SystemClock());

}  // namespace tarnvale::doctor
