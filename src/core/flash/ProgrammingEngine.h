#pragma once
// The programming engine: the flash erase and the worker that streams an
// image to a device with a window of packets ahead of their acknowledgements.
//
// Event stream of a run (ProgrammingEvents), always on the worker thread and
// synchronous: the engine waits until each call returns. A front end that
// must update widgets on its own thread marshals each call there and blocks
// until it is handled (Qt: a BlockingQueuedConnection).
//
//   OnBootVersion(text)   the 80386EX boot flash only, before the total
//   OnWarning(text)       at most once, before the total: the image file held
//                         data outside the image, which is not programmed
//                         ("FILE: ignored N bytes in M records at A-B (...)")
//   OnTotalBytes(b)       once, just before OnTotal: the image bytes the
//                         stream carries (framing packets carry none)
//   OnTotal(n)            once: the number of packets the stream will produce
//   OnProgressBytes(b)    just before each OnProgress: the image bytes of
//                         the packets acknowledged so far
//   OnProgress(acked)     each time the acknowledged count reaches a multiple
//                         of the target's progress step
//   OnNotice(text)        a message box the operator must see during the run
//                         ("Bytes Sent do not match Bytes To Send")
//   OnRefused(status)     just before OnResult when the device itself
//                         answered a packet with that status byte (so an '@'
//                         it sent is not taken for a wait of ours that ran out)
//   OnVerifyTotal(b), OnVerifyProgress(b), OnVerifyOutcome(o)
//                         a verifying run only, after every packet was
//                         acknowledged: the read-back of what was programmed
//   OnResult(code)        exactly once, last: '0' every packet acknowledged;
//                         anything else is the ResultCode that ended the run
//                         (0 when the target has no file class)
//
// After RequestStop (the destructor does it) no further event is sent; the
// worker is always joined before the engine goes away.

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/device/Target.h"
#include "core/flash/EngineTimings.h"
#include "core/flash/Verify.h"
#include "core/platform/Clock.h"
#include "core/formats/BoardInfoRecord.h"
#include "core/formats/HexRecord.h"
#include "core/jobs/JobThread.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

class Operator;

class CommPort;
class IntelHexFile;

// Everything one programming run needs, in the order the dialog takes it.
struct ProgrammingRequest {
  CommPort* port = nullptr;
  int mode = kModeProgramFlash;        // 1: erase, then program flash; other: load
  std::optional<LoadRange> range;      // absent: the target's defaults
  Target target = Target::Controller;
  std::string path;                    // empty: the dialog asks for one
  std::optional<BoardInfoRecord> boardInfo;
  Operator* fileOperator = nullptr;    // hears the image reader's own messages
  int layoutMode = 2;
  bool runOnCompletion = false;        // initial state of "Run on completion"
  EngineTimings timings;
  // The image, already loaded by the workflow that checked it (so the file is
  // parsed once). Absent: the engine loads `path` with the target's reader
  // (a target without one ends the run with code 0).
  std::shared_ptr<IntelHexFile> image;
  // Brings the boot flash's revision letters in line (target 4); absent or
  // for any other target: '0'.
  std::function<ResultCode()> normalizeRevision;
  // The boot image's version text (target 4).
  std::function<std::string(IntelHexFile&)> bootVersion;
  // What the step that made the image file left out (a production image's
  // S-records outside it); sent with the reader's own as OnWarning.
  std::string imageWarning;
  // Called once, on the thread that learns it, as soon as the run's outcome
  // is known and before the operator is told of it: the time a result box
  // then stays open is the operator's, not the programming's.
  std::function<void()> onOutcome;
  // Once every packet is acknowledged, read back what was programmed and
  // compare it (only where CanVerify holds; elsewhere it is ignored).
  bool verify = false;
};

// True when the device of a request can read back what the run programs:
// flashing a target that answers the dump's memory-line exchange.
bool CanVerify(const ProgrammingRequest& request);

// The range a request programs: its own or the target's defaults.
LoadRange EffectiveRange(const ProgrammingRequest& request);

// An image opened and loaded with its target's reader: the file on code 0,
// else the first failing code. Code 0 without a file: the target has none.
struct LoadedImage {
  ResultCode code = 0;
  std::shared_ptr<IntelHexFile> file;
  FileFailure failure;  // the record at fault and why, when the load failed
};
// With `from`, the image is read from that stream (taken over and closed
// once loaded) instead of from the request's path. A refused file leaves in
// `failure` the line and reason the reader gave.
LoadedImage LoadImage(const ProgrammingRequest& request, std::FILE* from = nullptr);

struct EraseOutcome {
  enum class Kind { Erased, Timeout, Error, ShortWrite, Stopped, LinkLost };
  Kind kind = Kind::Timeout;
  std::uint8_t reply = 0;          // the first byte of the answer (Erased, Error)
  std::uint32_t elapsedSeconds = 0;
};

class ProgrammingEvents {
 public:
  virtual ~ProgrammingEvents() = default;
  virtual void OnTotal(std::uint32_t packets) = 0;
  virtual void OnProgress(std::uint32_t acknowledged) = 0;
  virtual void OnTotalBytes(std::uint64_t /*bytes*/) {}
  virtual void OnProgressBytes(std::uint64_t /*bytes*/) {}
  virtual void OnBootVersion(const std::string& /*version*/) {}
  virtual void OnWarning(const std::string& /*text*/) {}
  virtual void OnNotice(const std::string& text) = 0;
  virtual void OnRefused(std::uint8_t /*status*/) {}
  virtual void OnResult(ResultCode code) = 0;
  // A run that starts with the erase (EraseAndProgramDevice): the erase
  // packet is about to go; then the seconds waited for its answer (0 once
  // the packet went, then each further whole second); then how it ended.
  // A failed erase is followed by OnResult with its code.
  virtual void OnEraseStarted() {}
  virtual void OnEraseWaited(std::uint32_t /*seconds*/) {}
  virtual void OnEraseEnded(const EraseOutcome& /*outcome*/) {}
  // Asked between erase polls besides the run's stop token (a front end
  // whose stop is not the token's); true ends the erase as Kind::Stopped.
  virtual bool EraseStopRequested() { return false; }
  // A verifying run, after its last acknowledgement and before OnResult:
  // the bytes it will read back, the bytes compared so far, and what the
  // comparison found (also when it failed).
  virtual void OnVerifyTotal(std::uint64_t /*bytes*/) {}
  virtual void OnVerifyProgress(std::uint64_t /*bytes*/) {}
  virtual void OnVerifyOutcome(const VerifyOutcome& /*outcome*/) {}
  // Asked once as the stream starts, besides the request's own choice: a
  // front end whose person may tick "Verify after programming" during the
  // erase. Called on the run's thread.
  virtual bool VerifyRequested() { return false; }
};

// ---- erase ------------------------------------------------------------------

inline constexpr const char* kShortWriteNotice = "Bytes Sent do not match Bytes To Send";

// Called during the erase wait on the caller's thread: Pump after every poll
// (let a dialog repaint), Elapsed with 0 once the erase packet went out and
// then with each further whole second waited. StopRequested is asked before
// every poll, and a poll never sleeps longer than timings.erasePollMs, so a
// stop ends even a six-minute wait within that time.
class EraseObserver {
 public:
  virtual ~EraseObserver() = default;
  virtual void Pump() {}
  virtual void Elapsed(std::uint32_t /*seconds*/) {}
  // True ends the wait at once with Kind::Stopped (the program is closing).
  virtual bool StopRequested() { return false; }
};

// Sends the erase packet ':' 00 00 00 06 FA and waits for the first byte of
// the answer, up to timings.eraseTimeoutMs. A short write of the packet
// fails at once (nothing can answer a packet that was not sent).
EraseOutcome EraseFlash(CommPort& port, const EngineTimings& timings, EraseObserver* observer,
                        const Clock& clock = SystemClock());

// ---- programming --------------------------------------------------------------

// The run itself, on the calling thread: loads the image when the request
// has none, streams it, and sends the events above (no event once `stop` is
// raised; a stop ends it with rc::kStoppedByProgram). `acknowledged`, when
// given, counts the '0' acknowledgements as they come.
ResultCode ProgramDevice(const ProgrammingRequest& request, ProgrammingEvents& events,
                         const Clock& clock, const StopToken& stop,
                         std::atomic<std::uint32_t>* acknowledged = nullptr);

// A flash programming run from its start, on the calling thread: the
// 80386EX's flash-revision rule (when the request has it), the erase with
// its events, then ProgramDevice. A stop during the erase ends the run
// silently; any other failed erase ends it with OnResult of its code
// (rc::kTooFewBytes, rc::kLinkLost, rc::kTimeout, rc::kEraseError,
// rc::kStoppedByProgram for a stop the events asked for).
ResultCode EraseAndProgramDevice(const ProgrammingRequest& request, ProgrammingEvents& events,
                                 const Clock& clock, const StopToken& stop,
                                 std::atomic<std::uint32_t>* acknowledged = nullptr);

// ProgramDevice (or EraseAndProgramDevice) on a JobThread, for the dialogs
// that hold an engine.
class ProgrammingEngine {
 public:
  ProgrammingEngine(ProgrammingRequest request, ProgrammingEvents& events,
                    const Clock& clock = SystemClock());
  ~ProgrammingEngine();
  ProgrammingEngine(const ProgrammingEngine&) = delete;
  ProgrammingEngine& operator=(const ProgrammingEngine&) = delete;

  // Called on the worker thread as its very last act, after Running() has
  // turned false (a front end waiting for the worker wakes up on it).
  void SetExitHook(std::function<void()> hook) { job_.SetFinishedHook(std::move(hook)); }
  // Starts the worker thread (once); with `eraseFirst` the run begins with
  // the erase (EraseAndProgramDevice).
  void Start(bool eraseFirst = false);
  // Waits for the worker; harmless when none runs.
  void Join() { job_.Join(); }
  // Runs the whole stream on the calling thread; returns the final code.
  ResultCode Run();
  // Asks the worker to stop at its next step; it then sends no more events.
  void RequestStop() { job_.RequestStop(); }
  bool Running() const { return job_.Running(); }

  // Acknowledgements '0' counted in this run (the dialog's counter).
  std::uint32_t Acknowledged() const { return acknowledged_.load(); }

 private:
  ProgrammingRequest request_;
  ProgrammingEvents& events_;
  const Clock& clock_;
  bool started_ = false;
  std::atomic<std::uint32_t> acknowledged_{0};
  JobThread job_;  // last: joined before the members the run uses go
};

}  // namespace tarnvale
