#include "core/backup/BackupJob.h"

#include <algorithm>

namespace tarnvale::backup {

BackupProgress BackupRunEvents::Progress() {
  return [this](const BackupEvent& e) {
    switch (e.kind) {
      case BackupEvent::Kind::SectionStarted:
        report_.Phase(SectionTitle(e.section));
        total_ = -1;
        break;
      case BackupEvent::Kind::Record:
      case BackupEvent::Kind::SectionFinished:
        if (e.total != total_) {
          total_ = e.total;
          report_.Total(static_cast<std::uint64_t>(std::max(e.total, 0)), 0);
        }
        report_.Progress(static_cast<std::uint64_t>(std::max(e.done, 0)), 0);
        break;
    }
  };
}

bool BackupJob::Start(StoppableWork work, BackupProgress events, Done done) {
  if (running_.load()) return false;
  Join();
  job_.Rearm();
  running_ = true;
  return job_.Start([this, work = std::move(work), events = std::move(events),
                     done = std::move(done)](const StopToken& stop) {
    const RunSummary summary = work(events, stop);
    running_ = false;
    if (done) done(summary);
  });
}

}  // namespace tarnvale::backup
