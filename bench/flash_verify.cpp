// What verifying costs: `flash --verify` time over `flash` time for a
// generation-4 image at 115200 baud against the simulator pacing the link
// like a serial line. The verify reads back only what was programmed, one
// memory line (up to 32 bytes as hex text, or a fill record) per request,
// so its cost is set by the line's speed like the programming's.
//
// No goal: it reports the ratio. Finds tarnvale-sim and tarnvale-cli as
// flash_throughput does; everything lives in a throw-away folder.
#include "BenchTools.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int main(int, char** argv) {
  const fs::path self = fs::weakly_canonical(fs::path(argv[0]));
  const fs::path sim = bench::Tool("TARNVALE_SIM", self, "src/sim/tarnvale-sim");
  const fs::path cli = bench::Tool("TARNVALE_CLI", self, "src/cli/tarnvale-cli");
  const fs::path dir = bench::IsolatedFolder();
  if (dir.empty()) return 1;
  const fs::path image = dir / "gen4.FMF";
  const std::string make = "'" + sim.string() + "' make-image '" + image.string() +
                           "' --generation 4 --app-size 36000";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "cannot make the image with %s\n", sim.c_str());
    return 1;
  }
  const std::vector<std::string> paced{"--baud", "115200", "--erase-ms", "0"};
  const bench::FlashRun plain = bench::FlashThroughSimulator(sim, cli, image, paced);
  const bench::FlashRun verified = bench::FlashThroughSimulator(sim, cli, image, paced, {"--verify"});
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (!plain.ok || !verified.ok || plain.wallSeconds <= 0) {
    std::fprintf(stderr, "a run failed (flash %s, flash --verify %s)\n", plain.ok ? "ok" : "failed",
                 verified.ok ? "ok" : "failed");
    return 1;
  }
  std::printf("flash_verify: generation-4 image, 115200 baud, simulator pacing the pty link (8N1)\n");
  std::printf("  flash %.2f s, flash --verify %.2f s: verify costs %.2fx the flash time (ratio %.2f)\n",
              plain.wallSeconds, verified.wallSeconds, (verified.wallSeconds - plain.wallSeconds) / plain.wallSeconds,
              verified.wallSeconds / plain.wallSeconds);
  return 0;
}
