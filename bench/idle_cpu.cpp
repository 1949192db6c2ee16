// CPU taken by the desktop application while it sits idle with an open,
// silent primary port: goal under 0.5% of one core.
//
// The application (built beside this program) runs offscreen in a private
// home and settings folder, on a pseudo-terminal that this program plays the
// controller on. One line is sent first to see that the terminal reads and
// captures; then the port stays silent and the application's CPU time is
// measured from its CPU-time clock over a few seconds.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "core/settings/ConfigData.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double kGoalPercent = 0.5;
constexpr auto kIdleSpan = 5s;

// Nanoseconds the process has run on a CPU, all threads together.
long long CpuNanoseconds(pid_t pid) {
  clockid_t clock{};
  timespec ts{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) return -1;
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path GuiPath(int argc, char** argv) {
  if (argc > 1) return argv[1];
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return self.parent_path().parent_path() / "src" / "gui" / "tarnvale";
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path gui = GuiPath(argc, argv);
  if (!fs::exists(gui)) {
    std::printf("idle_cpu: skipped, no desktop application at %s\n", gui.c_str());
    return 0;
  }

  char templ[] = "/tmp/tarnvale-idle-XXXXXX";
  if (mkdtemp(templ) == nullptr) return 1;
  const fs::path root = templ;
  for (const char* d : {"home", "tmp", "config"}) fs::create_directories(root / d);
  fs::create_directories(root / "runtime");
  fs::permissions(root / "runtime", fs::perms::owner_all);
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("TMPDIR", (root / "tmp").c_str(), 1);
  setenv("TARNVALE_CONFIG_DIR", (root / "config").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "xdg").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  // The controller's end of the link.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  const std::string slave = ptsname(master);
  const int keepSlave = open(slave.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  tcgetattr(keepSlave, &tio);
  cfmakeraw(&tio);
  tcsetattr(keepSlave, TCSANOW, &tio);

  {
    tarnvale::ConfigData settings;
    settings.Load();
    settings.SetCOMPort(slave);
    settings.Save();
  }

  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    execl(gui.c_str(), gui.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  // Wait until the terminal shows and captures what the controller sends.
  const fs::path capture = root / "home" / "TarnvaleOutput.txt";
  const std::string line = "RQ700 ready\n\r";
  bool reading = false;
  for (int i = 0; i < 100 && !reading; ++i) {
    std::this_thread::sleep_for(100ms);
    if (write(master, line.data(), line.size()) < 0) break;
    reading = ReadAll(capture).find("RQ700 ready\r\n") != std::string::npos;
  }
  std::this_thread::sleep_for(1s);  // let start-up work settle

  const long long before = CpuNanoseconds(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kIdleSpan);
  const long long after = CpuNanoseconds(pid);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  close(keepSlave);
  std::error_code ec;
  fs::remove_all(root, ec);

  if (before < 0 || after < 0) {
    std::printf("idle_cpu: cannot read the application's CPU clock\n");
    return 1;
  }
  if (!reading) {
    std::printf("idle_cpu: the application did not read the port (is it running?)\n");
    return 1;
  }
  const double percent = 100.0 * static_cast<double>(after - before) / 1e9 / wall;
  std::printf("idle_cpu: desktop application idle on an open silent port: %.4f%% of a core "
              "over %.1f s (goal < %.1f%%, ratio to goal %.4f)\n",
              percent, wall, kGoalPercent, percent / kGoalPercent);
  return percent < kGoalPercent ? 0 : 1;
}
