#include "core/doctor/SystemScan.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "core/platform/SystemFacts.h"

namespace tarnvale::doctor {
namespace fs = std::filesystem;

namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string FirstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The numeric process folders below the root, in pid order.
std::vector<platform::ProcessId> Pids(const fs::path& procRoot) {
  std::vector<platform::ProcessId> pids;
  std::error_code ec;
  for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (AllDigits(name) && name.size() < 10) pids.push_back(static_cast<platform::ProcessId>(std::stol(name)));
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::string PidList(const std::vector<ProcessInfo>& list) {
  std::string s;
  for (const ProcessInfo& p : list) s += (s.empty() ? "" : ", ") + std::to_string(p.pid);
  return s;
}

}  // namespace

bool IsTtyDevice(const platform::FileFacts& facts, const fs::path& sysTty) {
  if (!facts.characterDevice) return false;
  // Unix98 pty slaves (majors 136 to 143) have no entry of their own.
  if (facts.deviceMajor >= 136 && facts.deviceMajor <= 143) return true;
  const std::string number = std::to_string(facts.deviceMajor) + ":" + std::to_string(facts.deviceMinor);
  std::error_code ec;
  for (fs::directory_iterator it(sysTty, ec), end; !ec && it != end; it.increment(ec)) {
    if (FirstLine(it->path() / "dev") == number) return true;
  }
  return false;
}

HolderScan FindHolders(const fs::path& device, const fs::path& procRoot, platform::ProcessId exclude) {
  HolderScan scan;
  const auto target = platform::StatFile(device.string());
  if (!target) return scan;
  for (const platform::ProcessId pid : Pids(procRoot)) {
    if (pid == exclude) continue;
    const fs::path dir = procRoot / std::to_string(pid);
    std::error_code ec;
    fs::directory_iterator it(dir / "fd", ec);
    if (ec) {
      // Gone since the listing, or another user's: only the latter counts.
      if (fs::exists(dir, ec)) ++scan.unreadable;
      continue;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) break;
      const auto held = platform::StatFile(it->path().string());
      if (!held || !held->SameAs(*target)) continue;
      scan.holders.push_back({pid, FirstLine(dir / "comm")});
      break;
    }
  }
  return scan;
}

std::vector<ProcessInfo> FindProcesses(const fs::path& procRoot, const std::string& name) {
  std::vector<ProcessInfo> found;
  for (const platform::ProcessId pid : Pids(procRoot)) {
    const std::string comm = FirstLine(procRoot / std::to_string(pid) / "comm");
    if (comm == name) found.push_back({pid, comm});
  }
  return found;
}

std::string ModeText(std::uint32_t mode, bool characterDevice) {
  std::string s(10, '-');
  s[0] = characterDevice ? 'c' : '-';
  static constexpr char kLetters[] = "rwx";
  for (int i = 0; i < 9; ++i) {
    if ((mode & (1u << (8 - i))) != 0) s[static_cast<std::size_t>(i) + 1] = kLetters[i % 3];
  }
  return s;
}

AccessVerdict JudgeAccess(const AccessFacts& f) {
  const std::string owner = f.ownerName.empty() ? "?" : f.ownerName;
  const std::string group = f.groupName.empty() ? "?" : f.groupName;
  const std::string where = f.device + " (" + ModeText(f.mode) + " " + owner + ":" + group + ")";
  AccessVerdict v;
  if (f.allowed) {
    v.ok = true;
    v.text = "you may read and write " + where;
    return v;
  }
  const bool groupMayUse = (f.mode & 060u) == 060u;
  // A root group (or none known) is nothing to join: the device itself needs
  // a group meant for serial ports.
  if (!groupMayUse || f.groupName.empty() || f.groupName == "root") {
    v.text = "you may not open " + where + ", and its group gives no way in";
    const std::string kernel = fs::path(f.device).filename().string();
    v.fix = "give the device the dialout group with a udev rule: echo 'SUBSYSTEM==\"tty\", KERNEL==\"" + kernel +
            "\", GROUP=\"dialout\", MODE=\"0660\"' | sudo tee /etc/udev/rules.d/99-tarnvale-serial.rules && "
            "sudo udevadm control --reload-rules && sudo udevadm trigger; then join the group: "
            "sudo usermod -aG dialout $USER, then log out and log in again";
    return v;
  }
  if (f.groupInDatabase && !f.groupInSession) {
    v.text = "you were added to group " + group + ", but this login started before that, so it may not open " + where;
    v.fix = "log out and log in again (or run newgrp " + group + " in this shell)";
    return v;
  }
  v.text = "only " + owner + " and group " + group + " may open " + where + ", and you are not in " + group;
  v.fix = "sudo usermod -aG " + group + " $USER, then log out and log in again";
  return v;
}

AccessFacts GatherAccess(const fs::path& device) {
  AccessFacts f;
  f.device = device.string();
  const auto st = platform::StatFile(device.string());
  if (!st) return f;
  f.mode = st->mode;
  f.allowed = platform::MayReadWrite(device.string());
  f.ownerName = platform::UserName(st->uid);
  f.groupName = platform::GroupName(st->gid);
  f.groupInSession = platform::GroupInSession(st->gid);
  f.groupInDatabase = platform::GroupInDatabase(st->gid);
  return f;
}

std::string ModemManagerRule(const std::string& vendorId, const std::string& productId) {
  if (!vendorId.empty() && !productId.empty()) {
    return "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"" + vendorId + "\", ATTRS{idProduct}==\"" + productId +
           "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
  }
  return "KERNEL==\"ttyACM*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
}

ModemManagerFacts GatherModemManager(const fs::path& device, const SystemRoots& roots) {
  ModemManagerFacts f;
  f.running = FindProcesses(roots.proc, "ModemManager");
  std::error_code ec;
  const fs::path real = fs::canonical(device, ec);
  const std::string kernel = (ec ? device : real).filename().string();
  f.acmDevice = kernel.rfind("ttyACM", 0) == 0;
  if (const auto st = platform::StatFile(device.string()); st && st->characterDevice) {
    const fs::path entry = roots.udevData / ("c" + std::to_string(st->deviceMajor) + ":" +
                                             std::to_string(st->deviceMinor));
    std::ifstream in(entry);
    for (std::string line; std::getline(in, line);) {
      if (line == "E:ID_MM_DEVICE_IGNORE=1") f.ignoredByUdev = true;
    }
  }
  // The USB device's ids sit two levels up from the tty's interface.
  f.vendorId = FirstLine(roots.sysTty / kernel / "device" / ".." / "idVendor");
  f.productId = FirstLine(roots.sysTty / kernel / "device" / ".." / "idProduct");
  return f;
}

ModemManagerVerdict JudgeModemManager(const ModemManagerFacts& f, const std::string& device) {
  ModemManagerVerdict v;
  if (f.running.empty()) {
    v.text = "ModemManager is not running";
    return v;
  }
  const std::string running = "ModemManager is running (pid " + PidList(f.running) + ")";
  if (!f.acmDevice) {
    v.text = running + "; it probes ttyACM devices, and " + device + " is not one";
    return v;
  }
  if (f.ignoredByUdev) {
    v.text = running + "; a udev rule tells it to leave " + device + " alone";
    return v;
  }
  v.warn = true;
  v.text = running + " and may open " + device +
           " to probe it for a modem (sending AT commands) when it appears, for up to a minute";
  v.fix = "let it ignore the device: echo '" + ModemManagerRule(f.vendorId, f.productId) +
          "' | sudo tee /etc/udev/rules.d/99-tarnvale-modemmanager.rules && sudo udevadm control --reload-rules "
          "&& sudo udevadm trigger; or, on a bench without modems, stop it for good: "
          "sudo systemctl disable --now ModemManager";
  return v;
}

}  // namespace tarnvale::doctor
