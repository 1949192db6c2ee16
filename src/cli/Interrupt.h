#pragma once
// Ctrl-C (SIGINT) and SIGTERM while a long command runs: the handler only
// raises a flag; the command sees it between steps, asks the engine to stop
// and ends with exit code 130. A signal handler can reach nothing but a
// process-wide flag, so this is the CLI's one global.

#include <atomic>
#include <chrono>
#include <thread>

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

// Runs `work` on a worker thread while this thread watches for the signal
// (the handler can only raise a flag, so it is looked at every 20 ms); on
// one, `stop` is called once and the worker is waited for. True when the
// run was interrupted. `work` must end soon after `stop`.
template <typename Work, typename Stop>
bool RunUntilInterrupted(Work work, Stop stop) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work();
    finished.store(true);
  });
  bool stopped = false;
  while (!finished.load()) {
    if (!stopped && Interrupted()) {
      stop();
      stopped = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
  return stopped || Interrupted();
}

}  // namespace tarnvale::cli
