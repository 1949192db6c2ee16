#include "core/backup/BackupJob.h"

namespace tarnvale::backup {

bool BackupJob::Start(Work work, BackupProgress events, Done done) {
  return Start(StoppableWork([work = std::move(work)](const BackupProgress& progress, StopFlag) {
                 return work(progress);
               }),
               std::move(events), std::move(done));
}

bool BackupJob::Start(StoppableWork work, BackupProgress events, Done done) {
  if (running_.load()) return false;
  Join();
  job_.Rearm();
  running_ = true;
  return job_.Start([this, work = std::move(work), events = std::move(events),
                     done = std::move(done)](const StopToken& stop) {
    const std::atomic<bool>& flag = stop;
    const RunSummary summary = work(events, &flag);
    running_ = false;
    if (done) done(summary);
  });
}

}  // namespace tarnvale::backup
