#pragma once
// What the operating system knows about a serial port before the program
// opens it: which processes hold it open, whether this user may open it, and
// whether ModemManager is about to grab it.
//
// Every root (/proc, /sys/class/tty, /run/udev/data) is a parameter so tests
// can lay out a fake tree; the defaults are the real ones.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/SystemFacts.h"

namespace tarnvale::doctor {

struct SystemRoots {
  std::filesystem::path proc = "/proc";
  std::filesystem::path sysTty = "/sys/class/tty";
  std::filesystem::path udevData = "/run/udev/data";
};

struct ProcessInfo {
  platform::ProcessId pid = 0;
  std::string name;  // the process's command name (comm), e.g. "minicom"
  bool operator==(const ProcessInfo&) const = default;
};

struct HolderScan {
  std::vector<ProcessInfo> holders;  // in pid order
  // Processes whose descriptors could not be read (other users' processes
  // without root): a holder may hide among them.
  std::size_t unreadable = 0;
};

// The processes with a descriptor open on `device` (matched by device
// number for device nodes, by file identity otherwise, so /dev/serial/by-id
// links and the node itself are the same port). `exclude` is left out (the
// caller itself); -1 leaves out nobody. A device that does not exist has no
// holders.
// A terminal device: a pseudo-terminal's slave, or a node whose device
// number a tty of `sysTty` names (serial ports, USB adapters). /dev/null and
// other character devices are not, and every process holds some of them.
bool IsTtyDevice(const platform::FileFacts& facts, const std::filesystem::path& sysTty);

HolderScan FindHolders(const std::filesystem::path& device, const std::filesystem::path& procRoot,
                       platform::ProcessId exclude = -1);

// Every process whose command name is exactly `name`, in pid order.
std::vector<ProcessInfo> FindProcesses(const std::filesystem::path& procRoot, const std::string& name);

// ---- may this user open the device ------------------------------------------

struct AccessFacts {
  std::string device;
  bool allowed = false;            // read and write access as this process
  std::uint32_t mode = 0;          // permission bits of the node
  std::string ownerName;           // user owning the node
  std::string groupName;           // group of the node (empty when unknown)
  bool groupInSession = false;     // this process runs with that group
  bool groupInDatabase = false;    // the user is listed in that group
};

struct AccessVerdict {
  bool ok = false;
  std::string text;  // what was found
  std::string fix;   // the command that mends it (empty when ok)
};

// Judges the facts: allowed; in the group but not in this login yet; group
// may read and write but the user is not in it; or the group may not.
AccessVerdict JudgeAccess(const AccessFacts& facts);

// Gathers the facts of an existing device for the current process.
AccessFacts GatherAccess(const std::filesystem::path& device);

// "crw-rw----" for a character device with mode 0660.
std::string ModeText(std::uint32_t mode, bool characterDevice = true);

// ---- ModemManager ----------------------------------------------------------------

struct ModemManagerFacts {
  std::vector<ProcessInfo> running;  // ModemManager processes
  bool acmDevice = false;            // the port is a ttyACM device (what it probes)
  bool ignoredByUdev = false;        // the udev database marks it ID_MM_DEVICE_IGNORE=1
  std::string vendorId;              // USB idVendor of the device, when known
  std::string productId;             // USB idProduct
};

// Looks at the processes, the port's kernel name and its udev entry.
ModemManagerFacts GatherModemManager(const std::filesystem::path& device, const SystemRoots& roots);

struct ModemManagerVerdict {
  bool warn = false;
  std::string text;
  std::string fix;
};

ModemManagerVerdict JudgeModemManager(const ModemManagerFacts& facts, const std::string& device);

// The udev rule that makes ModemManager leave the device alone.
std::string ModemManagerRule(const std::string& vendorId, const std::string& productId);

}  // namespace tarnvale::doctor
