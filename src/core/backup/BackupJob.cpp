#include "core/backup/BackupJob.h"

namespace tarnvale::backup {

bool BackupJob::Start(Work work, BackupProgress events, Done done) {
  if (running_.load()) return false;
  Join();
  running_ = true;
  thread_ = std::thread([this, work = std::move(work), events = std::move(events), done = std::move(done)] {
    const RunSummary summary = work(events);
    running_ = false;
    if (done) done(summary);
  });
  return true;
}

void BackupJob::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace tarnvale::backup
