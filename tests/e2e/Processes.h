#pragma once
// Child processes for end-to-end tests: the simulator (its endpoint read from
// its first line) and CLI runs with captured output. Every wait is bounded;
// a child that overstays is killed. Children inherit the isolated test
// environment (HOME, TMPDIR, settings folder).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarnvale::test {

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs to completion (at most timeoutMs, then killed): exit code and output.
struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd, int inFd = -1) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (inFd >= 0) {
    posix_spawn_file_actions_adddup2(&fa, inFd, 0);
  } else {
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  posix_spawn_file_actions_adddup2(&fa, errFd, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

// Waits for a child up to timeoutMs; kills it after that. Returns the exit code
// (128 + signal when killed by one).
inline int WaitChild(pid_t pid, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return 999;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

inline RunResult RunCommand(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                            int timeoutMs = 60000) {
  static int counter = 0;
  const auto outPath = dir / ("out-" + std::to_string(counter) + ".txt");
  const auto errPath = dir / ("err-" + std::to_string(counter++) + ".txt");
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = Spawn(argv, outFd, errFd);
  ::close(outFd);
  ::close(errFd);
  RunResult r;
  r.exitCode = WaitChild(pid, timeoutMs);
  r.out = Slurp(outPath);
  r.err = Slurp(errPath);
  return r;
}

// A running tarnvale-sim; stopped with SIGTERM (and reaped) on destruction.
class SimProcess {
 public:
  SimProcess(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    int pipeFd[2];
    if (::pipe2(pipeFd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    errPath_ = dir / "sim-err.txt";
    const int errFd = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> argv{TARNVALE_SIM_PATH, "rq700"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = Spawn(argv, pipeFd[1], errFd);
    ::close(pipeFd[1]);
    ::close(errFd);
    out_ = pipeFd[0];
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c[256];
      const ssize_t n = ::read(out_, c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<std::size_t>(n));
    }
    endpointLine_ = line.substr(0, line.find('\n'));
    const auto space = endpointLine_.find(' ');
    if (space == std::string::npos) {
      Stop();
      throw std::runtime_error("simulator did not start: " + Slurp(errPath_));
    }
    port_ = endpointLine_.substr(space + 1);
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The name to pass as --port: a pty path or "127.0.0.1:PORT".
  const std::string& Port() const { return port_; }
  const std::string& EndpointLine() const { return endpointLine_; }
  // Stops the simulator; its exit code (0 on a clean exit).
  int Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      exit_ = WaitChild(pid_, 5000);
      pid_ = -1;
    }
    if (out_ >= 0) {
      ::close(out_);
      out_ = -1;
    }
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int exit_ = -1;
  std::string endpointLine_;
  std::string port_;
  std::filesystem::path errPath_;
};

}  // namespace tarnvale::test
