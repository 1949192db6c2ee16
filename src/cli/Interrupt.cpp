#include "cli/Interrupt.h"

#include <csignal>

namespace tarnvale::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
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

bool Interrupted() { return g_interrupted != 0; }

}  // namespace tarnvale::cli
