#pragma once
// Shared by the benchmarks that drive the real programs: finding them in the
// build and starting them with their output sent where the bench wants it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Spawn.h"

namespace bench {

// The program at `rel` beside the build's bench folder, or the path in `env`.
inline std::filesystem::path Tool(const char* env, const std::filesystem::path& self,
                                  const char* rel) {
  if (const char* p = std::getenv(env); p && *p) return p;
  return std::filesystem::weakly_canonical(self.parent_path() / ".." / rel);
}

using tarnvale::test::Spawn;

// A new folder in the temp folder that becomes this run's home, temp folder
// and settings folder, so a bench never touches the person's own; empty when
// it cannot be made.
inline std::filesystem::path IsolatedFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "tarnvale-bench-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) return {};
  for (const char* v : {"HOME", "TMPDIR", "TARNVALE_CONFIG_DIR", "XDG_CONFIG_HOME"}) {
    ::setenv(v, templ.c_str(), 1);
  }
  return templ;
}

// One `tarnvale-cli flash` of `image` into a fresh simulator on a pty
// started with `simArgs` (after "rq700 --pty"), the CLI given `cliArgs`
// after its own: the CLI's wall time and its
// resource use (CPU, peak memory).
struct FlashRun {
  bool ok = false;  // the CLI exited with 0
  double wallSeconds = 0;
  rusage usage{};
};

inline FlashRun FlashThroughSimulator(const std::filesystem::path& sim,
                                      const std::filesystem::path& cli,
                                      const std::filesystem::path& image,
                                      const std::vector<std::string>& simArgs,
                                      const std::vector<std::string>& cliArgs = {}) {
  FlashRun run;
  int pipeFd[2];
  if (::pipe(pipeFd) != 0) return run;
  const int devnull = ::open("/dev/null", O_WRONLY);
  std::vector<std::string> argv{sim.string(), "rq700", "--pty"};
  argv.insert(argv.end(), simArgs.begin(), simArgs.end());
  const pid_t simPid = Spawn(argv, pipeFd[1], devnull);
  ::close(pipeFd[1]);
  // The simulator's first line names its endpoint: "pty /dev/pts/N".
  std::string line;
  char c;
  pollfd p{pipeFd[0], POLLIN, 0};
  while (::poll(&p, 1, 5000) > 0 && ::read(pipeFd[0], &c, 1) == 1 && c != '\n') line += c;
  const std::string port = line.substr(line.find(' ') + 1);

  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::string> cliArgv{cli.string(), "flash", image.string(), "--port", port, "--yes",
                                   "--progress", "plain"};
  cliArgv.insert(cliArgv.end(), cliArgs.begin(), cliArgs.end());
  const pid_t cliPid = Spawn(cliArgv, devnull, devnull);
  int status = 0;
  ::wait4(cliPid, &status, 0, &run.usage);
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.ok = cliPid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (simPid > 0) {
    ::kill(simPid, SIGTERM);
    ::waitpid(simPid, nullptr, 0);
  }
  ::close(pipeFd[0]);
  ::close(devnull);
  return run;
}

}  // namespace bench
