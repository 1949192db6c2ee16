// CPU used by a reader waiting out a time-out on a silent link.
//
// Baseline, measured in the same run: the same wait done by spinning on the
// input-queue count, as a polling loop without readiness notification would.
// Goal: waiting out 5000 ms costs under 2% of a core.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "core/link/CommPort.h"
#include "core/protocol/Timer.h"
#include "core/protocol/Util.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

template <typename F>
double CoreShare(F&& wait) {
  const double c0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  wait();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return (CpuSeconds() - c0) / wall;
}

}  // namespace

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::fprintf(stderr, "wait_cpu: cannot create a pseudo-terminal\n");
    return 1;
  }
  tarnvale::CommPort port;
  if (!port.Open(ptsname(master), 115200, tarnvale::Parity::None, 8, tarnvale::StopBits::One)) {
    std::fprintf(stderr, "wait_cpu: %s\n", port.LastError().c_str());
    return 1;
  }
  const double spin = CoreShare([&] {
    tarnvale::Timer t(1000);
    while (!t.IsExpired() && port.GetInQueue() == 0) {
    }
  });
  tarnvale::HexReply reply;
  tarnvale::ResultCode code = 0;
  const double ours = CoreShare([&] { code = tarnvale::ReadHexReply(port, 5000, reply); });
  std::printf("wait_cpu: ReadHexReply 5000 ms time-out ('%c'): %.3f%% of a core; "
              "spinning baseline %.1f%%; ratio %.4f (goal < 2%% of a core)\n",
              code, ours * 100, spin * 100, spin > 0 ? ours / spin : 0.0);
  close(master);
  return ours < 0.02 ? 0 : 1;
}
