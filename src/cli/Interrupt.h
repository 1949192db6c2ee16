#pragma once
// Ctrl-C (SIGINT) and SIGTERM while a long command runs: the handler only
// raises a flag; the command sees it between steps, asks the engine to stop
// and ends with exit code 130. A signal handler can reach nothing but a
// process-wide flag, so this is the CLI's one global.

#include <chrono>

#include "core/jobs/JobThread.h"

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

// Runs `work` on a JobThread while this thread watches for the signal (the
// handler can only raise a flag, so the flag is looked at each time the
// wait for the run's end, on a condition, has gone 20 ms without it); on
// one, `stop` is called once and the run is waited for. True when the run
// was interrupted. `work` must end soon after `stop`.
template <typename Work, typename Stop>
bool RunUntilInterrupted(Work work, Stop stop) {
  JobThread job;
  job.Start([&](const StopToken&) { work(); });
  bool stopped = false;
  while (!job.WaitFinished(std::chrono::milliseconds(20))) {
    if (!stopped && Interrupted()) {
      stop();
      stopped = true;
    }
  }
  job.Join();
  return stopped || Interrupted();
}

// The same for a run that takes its runner's stop token: the signal raises
// the token, which also cuts short a wait the run sleeps through.
template <typename Work>
bool RunUntilInterrupted(Work work) {
  JobThread job;
  job.Start([&](const StopToken& stop) { work(stop); });
  bool stopped = false;
  while (!job.WaitFinished(std::chrono::milliseconds(20))) {
    if (!stopped && Interrupted()) {
      job.RequestStop();
      stopped = true;
    }
  }
  job.Join();
  return stopped || Interrupted();
}

}  // namespace tarnvale::cli
