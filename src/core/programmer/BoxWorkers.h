#pragma once
// The two long runs of the CPU board test besides the pin test, each a
// plain function of the link (whose clock its waits run by), its request, a
// stop token and its events: ProbeControlLines (continuous images for a
// scope, until stopped) and RunRamBank (a RAM bank load or test and its
// status records). ControlLineProber and ProgressWatcher run them on a
// JobThread for the test dialog.
//
// ProgressWatcher events, on its worker thread:
//   OnRamProgress(percent)      each running record ('0', state 1)
//   OnRamFinished(code, last)   exactly once, last: the code of the final
//                               record (state not 1 or code not '0'), or the
//                               reader's code when a record could not be read
// After RequestStop no event is sent, and the run ends with
// rc::kStoppedByProgram. Both workers run on a JobThread and are joined by
// Stop/Join and by their destructors.

#include <atomic>
#include <optional>
#include <vector>
#include <cstdint>
#include <thread>

#include "core/jobs/JobThread.h"
#include "core/jobs/RunEvents.h"
#include "core/programmer/BoxCommands.h"
#include "core/protocol/Timer.h"

namespace tarnvale {

// Sends the prober's images, one every `pauseMs`, until `stop`; counts them in `sent`.
void ProbeControlLines(BoxLink& link, const StopToken& stop, std::uint32_t pauseMs,
                       std::atomic<std::uint32_t>* sent = nullptr);

class ControlLineProber {
 public:
  // `pauseMs` between images keeps the box's input from overflowing: the
  // drive command has no reply to pace it.
  explicit ControlLineProber(BoxLink& link, std::uint32_t pauseMs = 5) : link_(link), pauseMs_(pauseMs) {}
  ~ControlLineProber() { Stop(); }
  ControlLineProber(const ControlLineProber&) = delete;
  ControlLineProber& operator=(const ControlLineProber&) = delete;

  void Start();
  // Stops the images and joins the worker; harmless when none runs.
  void Stop();
  bool Running() const { return job_.Running(); }
  std::uint32_t ImagesSent() const { return sent_.load(); }

 private:
  BoxLink& link_;
  std::uint32_t pauseMs_;
  std::atomic<std::uint32_t> sent_{0};
  JobThread job_;  // last: joined before the members the run uses go
};

// A status record of a RAM bank run.
struct RamStatus {
  std::uint8_t state = 0;   // 1: running
  ResultCode code = rc::kSuccess;
  std::uint32_t value = 0;  // a percentage while running; the failing address at the end
  std::uint16_t data1 = 0;
  std::uint16_t data2 = 0;
};
// Decodes the 10 data bytes of a status record; false when too short.
bool DecodeRamStatus(const MemoryRecord& record, RamStatus& status);

// "Failed at address = 0x%X, Data1 = 0x%X, Data2 = 0x%X " (with the trailing space).
std::string RamFailureText(const RamStatus& status);
// "Loading RAM Bank %d" / "Testing RAM Bank %d".
std::string RamBankLine(bool test, int bank);

class RamEvents {
 public:
  virtual ~RamEvents() = default;
  virtual void OnRamProgress(std::uint32_t percent) = 0;
  virtual void OnRamFinished(ResultCode code, const RamStatus& last) = 0;
};

// A RAM bank run in the one vocabulary of a run: its percentages out of 100
// (no bytes: the box does not say them); a failing address is the finish's
// summary.
class RamRunEvents : public RamEvents {
 public:
  RamRunEvents(RunSink& sink, bool test, int bank) : report_(sink), phase_(RamBankLine(test, bank)) {}
  void OnRamProgress(std::uint32_t percent) override;
  void OnRamFinished(ResultCode code, const RamStatus& last) override;
  void Ended(ResultCode code) { report_.Ended(code); }

 private:
  void Begin();
  RunReporter report_;
  std::string phase_;
  bool begun_ = false;
  std::uint32_t percent_ = 0;
};

// One RAM bank run: load (test false) or test bank 1 to 5.
struct RamRequest {
  bool test = true;
  int bank = 1;
};

// Watches the status records of a run whose request has been sent, with
// the events above; a stop gives no more events and drains the stream for
// the stop's grace (so the box is idle again), then ends with
// kStoppedByProgram. Returns the final record's code or the reader's.
ResultCode WatchRamBank(BoxLink& link, const StopToken& stop, RamEvents& events);
// Sends the request, then WatchRamBank.
ResultCode RunRamBank(BoxLink& link, const RamRequest& request, const StopToken& stop, RamEvents& events);

class ProgressWatcher {
 public:
  ProgressWatcher(BoxLink& link, RamEvents& events) : link_(link), events_(events) {}
  ~ProgressWatcher() { RequestStop(0); Join(); }
  ProgressWatcher(const ProgressWatcher&) = delete;
  ProgressWatcher& operator=(const ProgressWatcher&) = delete;

  // Sends the load or test request for `bank` and watches its stream on a worker.
  void Start(bool test, int bank);
  // Runs the watching on the calling thread (the request already sent).
  ResultCode Run() { return Watch(job_.Token()); }
  // No more events; the worker goes on draining the stream until its final
  // record or `graceMs` have passed, so the box is idle when it returns.
  void RequestStop(std::uint32_t graceMs);
  // Waits for the worker; from the worker's own thread it returns at once.
  void Join();
  bool Running() const { return running_.load(); }

 private:
  class Relay;
  ResultCode Watch(const StopToken& stop);

  BoxLink& link_;
  RamEvents& events_;
  // From the request until the final record (or the stop's end): the
  // dialog's buttons follow it, not the thread.
  std::atomic<bool> running_{false};
  JobThread job_;  // last: joined before the members the run uses go
};

}  // namespace tarnvale
