// Flashing throughput against the simulator pacing the link like a serial
// line, at 115200 and 921600 baud: packet bytes per second as a share of the
// line's limit (baud / 10 bytes per second), and the CPU the CLI spends.
//
// Goals: at least 97% of the limit at 115200, at least 93% at 921600, and the
// CLI below 10% of one core at 921600.
//
// Finds tarnvale-sim and tarnvale-cli beside the build's bench folder, or
// through TARNVALE_SIM and TARNVALE_CLI. Everything it writes (and the CLI's
// settings) lives in a throw-away folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchTools.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::Spawn;
using bench::Tool;

struct Measurement {
  double ratio = 0;      // packet bytes/s over baud/10
  double cpuShare = 0;   // CLI CPU seconds over its wall seconds
  double seconds = 0;    // stream time
  std::uint64_t bytes = 0;
  bool ok = false;
};

Measurement Measure(const fs::path& sim, const fs::path& cli, const fs::path& dir,
                    const fs::path& image, unsigned baud) {
  Measurement m;
  const fs::path log = dir / ("sim-" + std::to_string(baud) + ".log");
  const bench::FlashRun run = bench::FlashThroughSimulator(
      sim, cli, image, {"--baud", std::to_string(baud), "--erase-ms", "0", "--log", log.string()});
  const double wall = run.wallSeconds;
  const rusage& ru = run.usage;
  const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  m.cpuShare = wall > 0 ? cpu / wall : 0;

  // The stream: every packet after the erase, timed by the simulator as it
  // finished arriving. The first packet's own wire time is not in the span.
  std::ifstream in(log);
  const std::regex re(R"(t=(\d+) packet type=([0-9A-F]{2}) .* count=(\d+))");
  bool erased = false;
  long long first = -1, last = -1;
  std::uint64_t bytes = 0;
  for (std::string l; std::getline(in, l);) {
    std::smatch s;
    if (!std::regex_search(l, s, re)) continue;
    if (s[2] == "06") {
      erased = true;
      continue;
    }
    if (!erased) continue;
    const long long t = std::stoll(s[1]);
    if (first < 0) {
      first = t;
    } else {
      bytes += std::stoull(s[3]) + 6;
    }
    last = t;
  }
  m.seconds = static_cast<double>(last - first) / 1e6;
  m.bytes = bytes;
  m.ok = run.ok && m.seconds > 0;
  if (m.ok) m.ratio = (static_cast<double>(bytes) / m.seconds) / (baud / 10.0);
  return m;
}

}  // namespace

int main(int, char** argv) {
  const fs::path self = fs::weakly_canonical(fs::path(argv[0]));
  const fs::path sim = Tool("TARNVALE_SIM", self, "src/sim/tarnvale-sim");
  const fs::path cli = Tool("TARNVALE_CLI", self, "src/cli/tarnvale-cli");
  const fs::path dir = bench::IsolatedFolder();
  if (dir.empty()) return 1;

  struct Run {
    unsigned baud;
    unsigned appSize;
    double goal;
  };
  // Application sizes chosen for a few seconds of streaming at each speed.
  const std::vector<Run> runs{{115200, 36000, 0.97}, {921600, 280000, 0.93}};
  bool allOk = true;
  std::printf("flash_throughput: generation-4 image, simulator pacing the pty link (8N1)\n");
  for (const Run& r : runs) {
    const fs::path image = dir / ("gen4-" + std::to_string(r.baud) + ".FMF");
    const std::string make = "'" + sim.string() + "' make-image '" + image.string() +
                             "' --generation 4 --app-size " + std::to_string(r.appSize);
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "cannot make the image with %s\n", sim.c_str());
      return 1;
    }
    const Measurement m = Measure(sim, cli, dir, image, r.baud);
    const bool cpuOk = r.baud != 921600 || m.cpuShare < 0.10;
    const bool ok = m.ok && m.ratio >= r.goal && cpuOk;
    allOk = allOk && ok;
    std::printf("  %6u baud: %8llu packet bytes in %6.3f s = %5.1f%% of the line (goal %.0f%%); "
                "CLI CPU %4.1f%% of a core%s  %s\n",
                r.baud, static_cast<unsigned long long>(m.bytes), m.seconds, m.ratio * 100,
                r.goal * 100, m.cpuShare * 100, r.baud == 921600 ? " (goal < 10%)" : "",
                ok ? "ok" : "BELOW GOAL");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return allOk ? 0 : 1;
}
