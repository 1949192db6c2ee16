#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>

namespace tarnvale::cli {
namespace {

// The signal may land on any thread (a worker of the run, as often as not),
// so the flag is a lock-free atomic: safe in a handler and seen by the
// watching thread without a data race.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void OnInterrupt(int) { g_interrupted.store(1); }

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted.store(0);
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, &g_previousInt);
  ::sigaction(SIGTERM, &sa, &g_previousTerm);
}

InterruptGuard::~InterruptGuard() {
  ::sigaction(SIGINT, &g_previousInt, nullptr);
  ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool Interrupted() { return g_interrupted.load() != 0; }

}  // namespace tarnvale::cli
