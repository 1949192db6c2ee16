#pragma once
// The one owner of a long run's worker thread. A run is a plain function of
// its stop token; everything else it needs (the link, its request, a clock,
// a sink for its events) it takes when it is made. The engines and jobs of
// the front ends keep their own interfaces and run on one of these.
//
//   Start(work)          runs `work` on a new thread; false while one runs
//   RequestStop(grace)   raises the run's token (at once, from any thread)
//   Join()               waits for the thread; from the run's own thread (a
//                        last event that asks for the end) it returns at once
//   WaitFinished(limit)  sleeps on a condition until the run has ended
//   finished hook        the worker's very last act, after Running() turned
//                        false: a front end waiting for the end wakes on it
//
// A stop asked for before the first start holds for that run (unless Rearm
// is called); every later start begins unstopped. The destructor stops and joins.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/jobs/StopToken.h"

namespace tarnvale {

class JobThread {
 public:
  using Work = std::function<void(const StopToken&)>;

  JobThread();
  ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Set before Start; called on the worker thread.
  void SetFinishedHook(std::function<void()> hook) { finishedHook_ = std::move(hook); }
  bool Start(Work work);
  // Forgets a stop asked for while no run went on, so the next start begins
  // unstopped (a reader that is stopped and started again).
  void Rearm();
  void RequestStop(std::uint32_t graceMs = 0);
  void Join();
  // True when the run has ended (or none was started) within `limit`.
  bool WaitFinished(std::chrono::milliseconds limit);
  bool Running() const { return running_.load(); }
  bool StopRequested() const;
  // The token of the current (or next) run, for running it on this thread.
  StopToken Token() const;

 private:
  std::thread thread_;  // touched only by the threads that start and join it
  // The worker's id while its work and hook run: its own Join and Start see
  // it without touching thread_, which the joining thread may be changing.
  std::atomic<std::thread::id> workerId_{};
  std::shared_ptr<StopState> stop_;
  bool started_ = false;
  std::atomic<bool> running_{false};
  mutable std::mutex mutex_;  // guards stop_ and the end of a run
  std::condition_variable ended_;
  std::function<void()> finishedHook_;
};

}  // namespace tarnvale
