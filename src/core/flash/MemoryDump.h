#pragma once
// Reading a controller's memory into a binary file ("Dump RQ700 Series
// Memory"), and the logic of the read-back dialog ("Read Memory").
//
// Event stream of a read (MemoryReadEvents), on the reading thread and
// synchronous (a GUI queues them for its own thread, never blocking it):
//
//   OnRange(upper)                 progress range 0..upper (1000 for a dump)
//   OnStep(step)                   progress step
//   OnProgress(position, next)     before every line; position in 0..upper,
//                                  next = the next address to read
//   OnLine(text)                   programmer-box reads: one text line of the
//                                  read-back (for the dialog's list)
//   OnImageChecksum(v), OnComputedChecksum(v)   programmer-box reads only
//   OnDone(code, next)             exactly once: '0' or the failing code;
//                                  after '0' one more OnProgress(upper, next)

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/device/Target.h"
#include "core/flash/EngineTimings.h"
#include "core/jobs/JobThread.h"
#include "core/platform/Clock.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

class CommPort;
class ConfigData;
class Operator;

namespace dump_text {
inline constexpr const char* kCommError = "Communication Error with RQ700";
inline constexpr const char* kFilterBin = "Binary File (*.Bin)|*.Bin|";
inline constexpr const char* kReading = "Reading memory...this could take several minutes";
inline constexpr const char* kCompleted = "Memory Dump Completed Successfully!";
inline constexpr const char* kAborted = "Memory Dump Aborted Unexpectedly";
inline constexpr const char* kLineEnd = "\r\n";
}  // namespace dump_text

inline constexpr std::uint32_t kDumpProgressUpper = 1000;
inline constexpr std::uint32_t kRangeReplyLength = 26;

// The range a controller reports for its memory image (0x10 query).
struct MemoryRange {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint32_t third = 0;  // reported, not used
};

// Parses the 26-character range reply: three 8-digit hex numbers at 0, 9, 18.
// False for another length, a digit that is not hex, or an end below start.
bool ParseRangeReply(const std::string& line, MemoryRange& range);

// One memory line of a dump, decoded.
struct DumpLine {
  std::uint32_t count = 0;
  bool fill = false;
  std::vector<std::uint8_t> bytes;  // the bytes (':'), or the fill pattern ('.')
  // A fill is cut here: the bytes left up to the end address.
  std::uint64_t limit = UINT64_MAX;
  // Bytes the line puts into the file: count, or for a fill the pattern
  // repeated until at least count bytes are written, cut at the limit.
  std::uint64_t Written() const;
};

// Decodes a memory line: hex count, then ':' with count pairs or '.' with a
// 1- to 8-digit pattern. 'D' for no separator, count 0, missing or non-hex
// pairs, or a '.' without pattern digits. A fill that reaches past `room`
// bytes (what is left of the range) is cut there: the last fill of a range
// completes the dump rather than aborting it.
ResultCode ParseDumpLine(const std::string& line, std::uint64_t room, DumpLine& out);

// The text at the head of a dump that does not start at address 0.
std::string DumpHeaderText(std::uint32_t start);

class MemoryReadEvents {
 public:
  virtual ~MemoryReadEvents() = default;
  virtual void OnRange(std::uint32_t upper) = 0;
  virtual void OnStep(std::uint32_t step) = 0;
  virtual void OnProgress(std::uint32_t position, std::uint32_t next) = 0;
  virtual void OnDone(ResultCode code, std::uint32_t next) = 0;
  // The boot image's sums are 32-bit words; they are shown as "0x%04X".
  virtual void OnComputedChecksum(std::uint32_t /*value*/) {}
  virtual void OnImageChecksum(std::uint32_t /*value*/) {}
  virtual void OnLine(const std::string& /*text*/) {}
};

struct MemoryReadRequest {
  CommPort* port = nullptr;
  ConfigData* settings = nullptr;
  Target target = Target::Controller;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint8_t flag = 1;
  std::string path;
  bool visible = true;
  EngineTimings timings;
  // The reading routine of targets the memory dump does not read
  // (programmer-box reads).
  std::function<void(const MemoryReadRequest&, MemoryReadEvents&, const std::atomic<bool>& stop)>
      reader;
  // Said before the run starts (the list; the CLI's stderr): e.g. that the
  // range the device reported was cut to what it can hold.
  std::string warning;
};

// The top of an RQ700 controller's 26-bit address space: a dump never reads
// past it, whatever range the controller reports.
inline constexpr std::uint32_t kControllerTopAddress = 0x03FFFFFF;

// The warning for a reported range cut to the address space, or empty when
// it fits. `end` becomes kControllerTopAddress when it was above.
std::string ClipDumpRange(std::uint32_t start, std::uint32_t& end);

// Where a dump that failed or was stopped keeps what it read ("OUT.partial");
// the file under the chosen name is left as it was.
std::string PartialDumpPath(const std::string& path);

// Reads the controller's memory from start to end into the request's file,
// on the calling thread. Returns the final code (also sent as OnDone).
// Each line has its own time-out (timings.dumpLineTimeoutMs on `clock`).
// A stop ends it with rc::kStoppedByProgram (no OnDone) and keeps what was
// read under PartialDumpPath.
ResultCode DumpControllerMemory(const MemoryReadRequest& request, MemoryReadEvents& events,
                                const StopToken& stop, const Clock& clock = SystemClock());

// The run of a read request: the dump, or the request's own reader for the
// targets the dump does not read.
void ReadMemory(const MemoryReadRequest& request, MemoryReadEvents& events, const StopToken& stop,
                const Clock& clock = SystemClock());

// Runs one read on a JobThread; joined before it goes away.
class MemoryReadEngine {
 public:
  // `clock` times the dump's lines (a box reader keeps its own timing).
  MemoryReadEngine(MemoryReadRequest request, MemoryReadEvents& events,
                   const Clock& clock = SystemClock());
  ~MemoryReadEngine();
  MemoryReadEngine(const MemoryReadEngine&) = delete;
  MemoryReadEngine& operator=(const MemoryReadEngine&) = delete;
  // Called on the worker thread as its very last act, after Running() has
  // turned false.
  void SetExitHook(std::function<void()> hook) { job_.SetFinishedHook(std::move(hook)); }
  void Start();
  void Join() { job_.Join(); }
  void RequestStop() { job_.RequestStop(); }
  bool Running() const { return job_.Running(); }

 private:
  MemoryReadRequest request_;
  MemoryReadEvents& events_;
  const Clock& clock_;
  bool started_ = false;
  JobThread job_;  // last: joined before the members the run uses go
};

// ---- the read-back dialog without its widgets -------------------------------------

class MemoryReadView {
 public:
  virtual ~MemoryReadView() = default;
  virtual void AddListText(const std::string& text) = 0;   // list box of messages
  virtual void SetField1(const std::string& text) = 0;
  virtual void SetField2(const std::string& text) = 0;
  virtual void SetProgressRange(std::uint32_t upper) = 0;
  virtual void SetProgressStep(std::uint32_t step) = 0;
  virtual void SetProgress(std::uint32_t position) = 0;
  virtual void EnableOk(bool on) = 0;
  virtual void EnableRetry(bool on) = 0;
  // Targets the memory dump does not read hide "Retry" and centre "OK".
  virtual void ShowRetry(bool visible) = 0;
  virtual void Close() = 0;
};

// Drives a MemoryReadView:
//   Open()      when the dialog opens
//   Tick()      on every 100 ms timer tick (the first starts the run; later
//               ones show the elapsed time while it runs)
//   Retry()     the "Retry" button
//   On*         the reading thread's events (see above), on the UI thread
// The verdict on a boot flash read-back's two checksums (computed from the
// bytes read, and stored at the top of the image), said after both.
std::string ChecksumVerdict(std::uint32_t computed, std::uint32_t image);

class MemoryReadModel : public MemoryReadEvents {
 public:
  MemoryReadModel(MemoryReadRequest request, MemoryReadView& view, Operator& op,
                  const Clock& clock = SystemClock());
  ~MemoryReadModel() override;

  void Open();
  // `sink` receives the engine's events (default: this model).
  void Tick(MemoryReadEvents* sink = nullptr);
  void Retry(MemoryReadEvents* sink = nullptr);
  void Wait();
  // Asks a running read to stop at its next step without waiting for it (a
  // dialog closing under it, whose worker calls must still be drained);
  // Wait() then collects the thread.
  void RequestStop();
  // The program stops the read (Ctrl-C): the reading thread stops at its
  // next line and sends nothing more; unless it had already ended, the
  // outcome is rc::kStoppedByProgram. Joins the thread, so only for a front
  // end whose events are handled on the reading thread itself (the CLI).
  void Stop();

  bool Running() const { return running_; }
  ResultCode Result() const { return result_; }
  // True while a reading thread exists that has not ended (any thread).
  bool WorkerRunning() const { return engine_ && engine_->Running(); }
  // Given to every reading thread started from now on (see the engine).
  void SetWorkerExitHook(std::function<void()> hook) { exitHook_ = std::move(hook); }

  // "%lu of %lu bytes saved".
  static std::string BytesSavedText(std::uint64_t saved, std::uint64_t length);

  void OnRange(std::uint32_t upper) override;
  void OnStep(std::uint32_t step) override;
  void OnProgress(std::uint32_t position, std::uint32_t next) override;
  void OnDone(ResultCode code, std::uint32_t next) override;
  void OnComputedChecksum(std::uint32_t value) override;
  void OnImageChecksum(std::uint32_t value) override;
  void OnLine(const std::string& text) override;

 private:
  void StartRun(MemoryReadEvents* sink);

  MemoryReadRequest request_;
  MemoryReadView& view_;
  Operator& op_;
  const Clock& clock_;
  std::function<void()> exitHook_;
  std::unique_ptr<MemoryReadEngine> engine_;
  bool started_ = false;
  bool running_ = false;
  std::uint32_t runStart_ = 0;
  ResultCode result_ = rc::kTimeout;
  bool checksumShown_ = false;  // the elapsed time no longer takes field 2
  std::uint32_t computedChecksum_ = 0;
};

}  // namespace tarnvale
