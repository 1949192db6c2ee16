// Peak memory of `tarnvale-cli flash` with a full 8 MB generation-5 image
// (half of it application code) against the simulator, unpaced.
// Goal: peak resident set below 64 MB.
//
// Finds tarnvale-sim and tarnvale-cli beside the build's bench folder, or
// through TARNVALE_SIM and TARNVALE_CLI; works in a throw-away folder.
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
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::Spawn;
using bench::Tool;

}  // namespace

int main(int, char** argv) {
  const fs::path self = fs::weakly_canonical(fs::path(argv[0]));
  const fs::path sim = Tool("TARNVALE_SIM", self, "src/sim/tarnvale-sim");
  const fs::path cli = Tool("TARNVALE_CLI", self, "src/cli/tarnvale-cli");
  const fs::path dir = bench::IsolatedFolder();
  if (dir.empty()) return 1;
  const fs::path image = dir / "gen5.FMF";
  const std::string make = "'" + sim.string() + "' make-image '" + image.string() +
                           "' --generation 5 --app-size 4194304";
  if (std::system(make.c_str()) != 0) return 1;

  const bench::FlashRun run = bench::FlashThroughSimulator(sim, cli, image, {"--erase-ms", "0"});
  const double wall = run.wallSeconds;
  const rusage& ru = run.usage;

  const double peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;  // ru_maxrss is in KB
  const bool ran = run.ok;
  const bool ok = ran && peakMb < 64.0;
  std::printf("flash_memory: %s (%.1f MB FMF), flashed in %.2f s: peak RSS %.1f MB (goal < 64 MB)  %s\n",
              image.filename().c_str(), static_cast<double>(fs::file_size(image)) / 1048576.0, wall,
              peakMb, ok ? "ok" : (ran ? "ABOVE GOAL" : "FLASH FAILED"));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return ok ? 0 : 1;
}
