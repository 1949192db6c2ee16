#pragma once
// A save or load run on a JobThread. The worker reports BackupEvents and
// finally its RunSummary through the sinks given to Start; both are called
// on the worker thread, so a GUI forwards them to its own thread. A stop
// sends no further command: the section under way ends as stopped and the
// summary says so (a save keeps NAME.partial, NAME untouched). The job is
// joined before it is destroyed.

#include <atomic>
#include <functional>

#include "core/backup/BackupTransfer.h"
#include "core/jobs/JobThread.h"
#include "core/jobs/RunEvents.h"

namespace tarnvale::backup {

// A save, load or comparison in the one vocabulary of a run: a phase per
// section (its title), records as units (no bytes), and the summary's text
// and code as the finish.
class BackupRunEvents {
 public:
  explicit BackupRunEvents(RunSink& sink) : report_(sink) {}
  // The progress to hand the run; valid while this object lives.
  BackupProgress Progress();
  void Ended(const RunSummary& summary) { report_.Finish(summary.Result(), summary.Text()); }

 private:
  RunReporter report_;
  int total_ = -1;  // of the section under way; -1 before its first record
};

class BackupJob {
 public:
  // A run that takes the job's stop token (the transfer functions' last
  // argument).
  using StoppableWork = std::function<RunSummary(const BackupProgress&, const StopToken&)>;
  using Done = std::function<void(const RunSummary&)>;

  BackupJob() = default;
  ~BackupJob() { Join(); }
  BackupJob(const BackupJob&) = delete;
  BackupJob& operator=(const BackupJob&) = delete;

  // False when a run is still going.
  bool Start(StoppableWork work, BackupProgress events, Done done);
  // Asks the run to stop; it ends at its next command.
  void RequestStop() { job_.RequestStop(); }
  // False once the run's summary is on its way (before Done is called).
  bool Running() const { return running_.load(); }
  void Join() { job_.Join(); }

 private:
  std::atomic<bool> running_{false};
  JobThread job_;
};

}  // namespace tarnvale::backup
