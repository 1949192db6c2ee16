#pragma once
// Child processes for end-to-end tests: the simulator (its endpoint read from
// its first line) and CLI runs with captured output; and the TN835 images they
// program. Every wait is bounded;
// a child that overstays is killed. Children inherit the isolated test
// environment (HOME, TMPDIR, settings folder).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ImageGen.h"
#include "support/Spawn.h"

namespace tarnvale::test {

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// This process's environment with `name` set to `value`, or without `name`
// when value is null.
inline std::vector<std::string> EnvironmentWith(const std::string& name, const char* value) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind(name + "=", 0) != 0) env.emplace_back(*e);
  }
  if (value != nullptr) env.push_back(name + "=" + value);
  return env;
}

// Packets the simulated controller logged (its --log), in order.
struct LoggedPacket {
  unsigned type, page, offset, count, awaiting;
};
inline std::vector<LoggedPacket> Packets(const std::string& log) {
  std::vector<LoggedPacket> v;
  const std::regex re(R"(packet type=([0-9A-F]{2}) page=([0-9A-F]{4}) offset=([0-9A-F]{4}) count=(\d+) awaiting=(\d+))");
  for (std::sregex_iterator m(log.begin(), log.end(), re), end; m != end; ++m) {
    const auto hex = [&](int i) { return static_cast<unsigned>(std::stoul((*m)[i], nullptr, 16)); };
    v.push_back({hex(1), hex(2), hex(3), static_cast<unsigned>(std::stoul((*m)[4])),
                 static_cast<unsigned>(std::stoul((*m)[5]))});
  }
  return v;
}

// A TN835 S-record image of `size` bytes placed at byte address `base` with
// a version text (length byte first) at `versionAt`.
inline void WriteSRecImage(const std::filesystem::path& path, std::uint64_t base, std::size_t size,
                           std::size_t versionAt, const std::string& version, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes = PseudoRandomBytes(size, seed);
  bytes[versionAt] = static_cast<std::uint8_t>(version.size());
  std::copy(version.begin(), version.end(), bytes.begin() + static_cast<long>(versionAt) + 1);
  SRecText s;
  AppendSRecWords(s, base, bytes);
  s.Record(7, 0);
  s.WriteTo(path);
}

// Waits for a child up to timeoutMs, then kills it (and returns 999). The exit
// code, or 128 + signal when a signal ended it; -1 for one that never started.
inline int WaitChild(pid_t pid, int timeoutMs) {
  if (pid <= 0) return -1;  // never started: waiting would reap any child
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return 999;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

inline int OpenForWriting(const std::filesystem::path& p) {
  return ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Runs to completion (at most timeoutMs, then killed): exit code and output.
struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline RunResult RunCommand(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                            int timeoutMs = 60000, const std::vector<std::string>* env = nullptr) {
  static int counter = 0;
  const std::string n = std::to_string(counter++);
  const auto outPath = dir / ("out-" + n + ".txt"), errPath = dir / ("err-" + n + ".txt");
  const int outFd = OpenForWriting(outPath), errFd = OpenForWriting(errPath);
  const pid_t pid = Spawn(argv, outFd, errFd, env);
  ::close(outFd);
  ::close(errFd);
  const int code = WaitChild(pid, timeoutMs);
  return {code, Slurp(outPath), Slurp(errPath)};
}

// Asks `done` every 10 ms until it holds or guardMs pass (a guard against a
// run that never gets there, not a limit); its last answer.
inline bool WaitUntil(const std::function<bool()>& done, int guardMs = 30000) {
  const auto guard = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
  while (!done() && std::chrono::steady_clock::now() < guard) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// A run in the background with its output in two files named after `name`,
// for tests that signal it or cut its link while it is under way. Killed and
// reaped if the test did not wait for it.
struct Background {
  Background(const std::vector<std::string>& argv, const std::filesystem::path& dir, const std::string& name)
      : outPath(dir / (name + "-out.txt")), errPath(dir / (name + "-err.txt")) {
    const int outFd = OpenForWriting(outPath), errFd = OpenForWriting(errPath);
    pid = Spawn(argv, outFd, errFd);
    ::close(outFd);
    ::close(errFd);
  }
  ~Background() { Wait(0); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  std::string Out() const { return Slurp(outPath); }
  std::string Err() const { return Slurp(errPath); }
  // Whether stdout or stderr shows `text`, waiting for it under the guard.
  bool Shows(const std::string& text) const { return WaitUntil([&] { return Has(Out() + Err(), text); }); }
  // The exit code (see WaitChild); killed after timeoutMs.
  int Wait(int timeoutMs = 30000) {
    const int code = WaitChild(pid, timeoutMs);
    pid = -1;
    return code;
  }

  pid_t pid = -1;
  std::filesystem::path outPath, errPath;
};

// A running tarnvale-sim; stopped with SIGTERM (and reaped) on destruction.
class SimProcess {
 public:
  // `device` is the simulator's subcommand; it names its endpoints on its
  // first `lines` lines of output (the bench serves two).
  SimProcess(const std::vector<std::string>& args, const std::filesystem::path& dir,
             const std::string& device = "rq700", std::size_t lines = 1) {
    int pipeFd[2];
    if (::pipe2(pipeFd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const auto errPath = dir / "sim-err.txt";
    const int errFd = OpenForWriting(errPath);
    std::vector<std::string> argv{TARNVALE_SIM_PATH, device};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = Spawn(argv, pipeFd[1], errFd);
    ::close(pipeFd[1]);
    ::close(errFd);
    out_ = pipeFd[0];
    std::string line;
    char c[256];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n')) < lines &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::read(out_, c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<std::size_t>(n));
    }
    for (std::size_t start = 0, nl; (nl = line.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines_.push_back(line.substr(start, nl - start));
    }
    if (lines_.empty() || lines_[0].find(' ') == std::string::npos) {
      Stop();
      throw std::runtime_error("simulator did not start: " + Slurp(errPath));
    }
    port_ = lines_[0].substr(lines_[0].find(' ') + 1);
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The name to pass as --port: a pty path or "127.0.0.1:PORT".
  const std::string& Port() const { return port_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Stops the simulator; its exit code (0 on a clean exit).
  int Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      exit_ = WaitChild(pid_, 5000);
    }
    if (out_ >= 0) ::close(out_);
    pid_ = out_ = -1;
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int exit_ = -1;
  std::vector<std::string> lines_;
  std::string port_;
};

}  // namespace tarnvale::test
