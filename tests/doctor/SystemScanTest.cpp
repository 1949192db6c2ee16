// Holders of a port, ModemManager and the permission verdicts, on fake
// /proc, /sys and udev trees laid out by the test (a real /proc: the
// doctor's end-to-end busy-port test).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/doctor/SystemScan.h"
#include "support/TestEnv.h"

namespace tarnvale::doctor {
namespace {
namespace fs = std::filesystem;
using test::MakeTempDir;

void WriteText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

// A fake /proc: processes with a command name and descriptors that are
// links to files.
class FakeProc {
 public:
  explicit FakeProc(fs::path root) : root_(std::move(root)) { fs::create_directories(root_); }
  const fs::path& Root() const { return root_; }
  void Process(pid_t pid, const std::string& comm, const std::vector<fs::path>& fds) {
    const fs::path dir = root_ / std::to_string(pid);
    WriteText(dir / "comm", comm + "\n");
    fs::create_directories(dir / "fd");
    int n = 0;
    for (const fs::path& target : fds) fs::create_symlink(target, dir / "fd" / std::to_string(n++));
  }
  // A process whose descriptors cannot be listed (another user's).
  void Hidden(pid_t pid, const std::string& comm) { WriteText(root_ / std::to_string(pid) / "comm", comm + "\n"); }

 private:
  fs::path root_;
};

// One layout: the port is held by minicom (two descriptors), by screen
// through a by-id style link, and by the caller (pid 50); other processes
// hold other files; one is hidden; folders that are not processes are ignored.
TEST(Holders, AreFoundByFileIdentity) {
  const fs::path dir = MakeTempDir("holders");
  const fs::path port = dir / "ttyUSB0";
  const fs::path other = dir / "ttyUSB1";
  const fs::path byId = dir / "by-id" / "usb-FTDI_FT232R-if00-port0";
  WriteText(port, "");
  WriteText(other, "");
  fs::create_directories(byId.parent_path());
  fs::create_symlink(port, byId);
  FakeProc proc(dir / "proc");
  proc.Process(1200, "minicom", {other, port, port});
  proc.Process(7, "screen", {byId});
  proc.Process(50, "tarnvale-cli", {port});
  proc.Process(300, "bash", {other, dir / "missing-file"});
  proc.Hidden(400, "ModemManager");
  fs::create_directories(proc.Root() / "self" / "fd");
  WriteText(proc.Root() / "uptime", "1.0 1.0\n");

  const std::pair<pid_t, std::vector<ProcessInfo>> cases[] = {
      {-1, {{7, "screen"}, {50, "tarnvale-cli"}, {1200, "minicom"}}},
      {50, {{7, "screen"}, {1200, "minicom"}}},  // the caller left out
  };
  for (const auto& [exclude, expected] : cases) {
    const HolderScan scan = FindHolders(port, proc.Root(), exclude);
    EXPECT_EQ(scan.holders, expected) << exclude;
    EXPECT_EQ(scan.unreadable, 1u);
    // Named through its link, it is the same port.
    EXPECT_EQ(FindHolders(byId, proc.Root(), exclude).holders, expected) << exclude;
  }
  // A device that is not there is held by no one, not by bash's missing file.
  EXPECT_TRUE(FindHolders(dir / "ttyUSB9", proc.Root()).holders.empty());
}

// A verdict that is fine has no fix and one that is not has one; every part
// is found in its text and its fix.
struct VerdictCase {
  const char* name;
  std::vector<std::string> inText, inFix;  // no fix: fine
};
void ExpectVerdict(const VerdictCase& c, bool fine, const std::string& text, const std::string& fix) {
  EXPECT_EQ(fine, c.inFix.empty()) << c.name;
  EXPECT_EQ(fix.empty(), c.inFix.empty()) << c.name << ": " << fix;
  for (const auto& p : c.inText) EXPECT_NE(text.find(p), std::string::npos) << c.name << ": " << text;
  for (const auto& p : c.inFix) EXPECT_NE(fix.find(p), std::string::npos) << c.name << ": " << fix;
}

AccessFacts Facts(bool allowed, std::uint32_t mode, const char* group, bool inSession, bool inDatabase) {
  AccessFacts f;
  f.device = "/dev/ttyUSB0";
  f.allowed = allowed;
  f.mode = mode;
  f.ownerName = "root";
  f.groupName = group;
  f.groupInSession = inSession;
  f.groupInDatabase = inDatabase;
  return f;
}

TEST(AccessVerdicts, SayWhatToRun) {
  const std::pair<AccessFacts, VerdictCase> cases[] = {
      {Facts(true, 0660, "dialout", true, true), {"allowed", {"crw-rw---- root:dialout"}, {}}},
      {Facts(false, 0660, "dialout", false, false),
       {"not in group", {"group dialout", "not in dialout"},
        {"sudo usermod -aG dialout $USER", "log in again"}}},
      {Facts(false, 0660, "dialout", false, true),
       {"joined but not logged in again", {"this login started before"},
        {"log out and log in again", "newgrp dialout"}}},
      // The device's own group is the one to join, whatever it is called.
      {Facts(false, 0660, "uucp", false, false),
       {"other group", {"group uucp"}, {"sudo usermod -aG uucp $USER"}}},
      {Facts(false, 0600, "dialout", false, false),
       {"group may not write", {"crw-------"},
        {"udev rule", "KERNEL==\"ttyUSB0\"", "MODE=\"0660\"", "usermod -aG dialout"}}},
      {Facts(false, 0660, "root", false, false),
       {"root group is not joined", {"root:root"}, {"GROUP=\"dialout\""}}},
  };
  for (const auto& [facts, c] : cases) {
    const AccessVerdict v = JudgeAccess(facts);
    ExpectVerdict(c, v.ok, v.text, v.fix);
  }
}

ModemManagerFacts Modem(bool running, bool acm, bool ignored, const char* vendor, const char* product) {
  ModemManagerFacts f;
  if (running) f.running = {{812, "ModemManager"}};
  f.acmDevice = acm;
  f.ignoredByUdev = ignored;
  f.vendorId = vendor;
  f.productId = product;
  return f;
}

TEST(ModemManagerVerdicts, WarnOnlyWhenItMayGrabThePort) {
  const std::pair<ModemManagerFacts, VerdictCase> cases[] = {
      {Modem(false, true, false, "", ""), {"not running", {"not running"}, {}}},
      {Modem(true, false, false, "", ""), {"not an ACM device", {"pid 812", "is not one"}, {}}},
      {Modem(true, true, true, "2341", "0043"), {"ignored by udev", {"udev rule"}, {}}},
      {Modem(true, true, false, "2341", "0043"),
       {"ACM with USB ids", {"pid 812", "/dev/ttyACM0"},
        {"ATTRS{idVendor}==\"2341\"", "ATTRS{idProduct}==\"0043\"", "ENV{ID_MM_DEVICE_IGNORE}=\"1\"",
         "udevadm control --reload-rules", "systemctl disable --now ModemManager"}}},
      {Modem(true, true, false, "", ""),
       {"ACM without USB ids", {"may open"}, {"KERNEL==\"ttyACM*\"", "ENV{ID_MM_DEVICE_IGNORE}=\"1\""}}},
  };
  for (const auto& [facts, c] : cases) {
    const ModemManagerVerdict v = JudgeModemManager(facts, "/dev/ttyACM0");
    ExpectVerdict(c, !v.warn, v.text, v.fix);
  }
}

// The facts come from the fake trees: the process list (by the exact
// command name), the kernel name, the USB ids two levels above the tty's
// interface.
TEST(ModemManagerFacts, GatheredFromProcAndSys) {
  const fs::path dir = MakeTempDir("mm");
  SystemRoots roots{dir / "proc", dir / "sys" / "class" / "tty", dir / "udev"};
  FakeProc proc(roots.proc);
  proc.Process(812, "ModemManager", {});
  proc.Process(12, "ModemManager", {});
  proc.Process(13, "modemmanager", {});
  proc.Process(14, "ModemManagerX", {});
  const fs::path usb = dir / "sys" / "devices" / "usb1" / "1-1";
  WriteText(usb / "idVendor", "2341\n");
  WriteText(usb / "idProduct", "0043\n");
  fs::create_directories(usb / "1-1:1.0");
  fs::create_directories(roots.sysTty / "ttyACM0");
  fs::create_symlink(usb / "1-1:1.0", roots.sysTty / "ttyACM0" / "device");
  const fs::path device = dir / "dev" / "ttyACM0";
  WriteText(device, "");

  const ModemManagerFacts f = GatherModemManager(device, roots);
  EXPECT_EQ(f.running, (std::vector<ProcessInfo>{{12, "ModemManager"}, {812, "ModemManager"}}));
  EXPECT_TRUE(f.acmDevice);
  EXPECT_FALSE(f.ignoredByUdev);
  EXPECT_EQ(f.vendorId, "2341");
  EXPECT_EQ(f.productId, "0043");
  EXPECT_FALSE(GatherModemManager(dir / "dev" / "ttyUSB0", roots).acmDevice);
}

}  // namespace
}  // namespace tarnvale::doctor
