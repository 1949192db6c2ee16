#pragma once
// Ctrl-C (SIGINT) and SIGTERM while a long command runs: the handler only
// raises a flag; the command sees it between steps, asks the engine to stop
// and ends with exit code 130. A signal handler can reach nothing but a
// process-wide flag, so this is the CLI's one global.

namespace tarnvale::cli {

// Installs the handlers for its lifetime; the previous ones come back after.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once SIGINT or SIGTERM arrived while a guard was installed.
bool Interrupted();

}  // namespace tarnvale::cli
