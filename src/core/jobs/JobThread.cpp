#include "core/jobs/JobThread.h"

namespace tarnvale {

JobThread::JobThread() : stop_(std::make_shared<StopState>()) {}

JobThread::~JobThread() {
  RequestStop();
  Join();
}

bool JobThread::Start(Work work) {
  // From the run's own finished hook: the thread has not ended yet.
  if (workerId_.load() == std::this_thread::get_id()) return false;
  if (running_.load()) return false;
  Join();  // a run that ended has still to be collected
  std::shared_ptr<StopState> stop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) stop_ = std::make_shared<StopState>();
    started_ = true;
    stop = stop_;
    running_.store(true);
  }
  thread_ = std::thread([this, work = std::move(work), stop] {
    workerId_.store(std::this_thread::get_id());
    work(StopToken(stop));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_.store(false);
    }
    ended_.notify_all();
    if (finishedHook_) finishedHook_();
    workerId_.store(std::thread::id());
  });
  return true;
}

void JobThread::Rearm() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!running_.load()) stop_ = std::make_shared<StopState>();
}

void JobThread::RequestStop(std::uint32_t graceMs) {
  std::shared_ptr<StopState> stop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop = stop_;
  }
  stop->RequestStop(graceMs);
}

void JobThread::Join() {
  if (workerId_.load() == std::this_thread::get_id()) return;
  if (thread_.joinable()) thread_.join();
}

bool JobThread::WaitFinished(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return ended_.wait_for(lock, limit, [this] { return !running_.load(); });
}

bool JobThread::StopRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_->StopRequested();
}

StopToken JobThread::Token() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return StopToken(stop_);
}

}  // namespace tarnvale
