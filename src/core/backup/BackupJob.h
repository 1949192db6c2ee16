#pragma once
// A save or load run on a worker thread. The worker reports BackupEvents and
// finally its RunSummary through the sinks given to Start; both are called
// on the worker thread, so a GUI forwards them to its own thread. The job is
// joined before it is destroyed.

#include <atomic>
#include <functional>
#include <thread>

#include "core/backup/BackupTransfer.h"

namespace tarnvale::backup {

class BackupJob {
 public:
  using Work = std::function<RunSummary(const BackupProgress&)>;
  using Done = std::function<void(const RunSummary&)>;

  BackupJob() = default;
  ~BackupJob() { Join(); }
  BackupJob(const BackupJob&) = delete;
  BackupJob& operator=(const BackupJob&) = delete;

  // False when a run is still going.
  bool Start(Work work, BackupProgress events, Done done);
  bool Running() const { return running_.load(); }
  void Join();

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace tarnvale::backup
