#pragma once
// Progress of the long jobs on the command line. On a terminal: one line
// redrawn in place with a bar, the rate and the time left. Otherwise: plain
// lines at every tenth of the way. With --progress json: one JSON object per
// engine event on stdout, for programs that drive the CLI.

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/flash/Workflows.h"
#include "core/jobs/RunEvents.h"

namespace tarnvale::cli {

class CliOperator;

enum class ProgressStyle { Bar, Plain, Json };

// Chooses the style: json when asked, a bar when stderr is a terminal.
ProgressStyle ChooseProgressStyle(const std::string& requested, bool stderrIsTerminal);

// Where a run stands at one moment: how much is done, how fast it went and
// how long the rest will take at that pace.
struct RateSample {
  double fraction = 0;        // 0 to 1
  double perSecond = 0;       // units (records, bytes) a second since the start; 0 while unknown
  bool bytesKnown = false;    // the run knows the image bytes behind its units
  double bytes = 0;           // image bytes done
  double bytesPerSecond = 0;  // image bytes a second since the start
  double secondsLeft = -1;    // negative while unknown (nothing done yet, no time gone)
};

// The rate and time-left arithmetic of a run, on a clock the caller gives
// (seconds on a steady clock; tests pass a fake one). Rates are averages
// from the start, so a stall shows as a falling rate and a growing time left.
class RateMeter {
 public:
  using Now = std::function<double()>;
  explicit RateMeter(Now now);

  // A run of `total` units begins now. When `unitsAreBytes` the units are
  // bytes themselves.
  void Start(double total, bool unitsAreBytes = false);
  // `bytes`: the image bytes behind the units done, as the run's event said
  // (without it, and units that are not bytes, no byte figures are known).
  RateSample At(double done, std::optional<std::uint64_t> bytes = std::nullopt) const;
  double Total() const { return total_; }

 private:
  Now now_;
  double total_ = 0;
  double start_ = 0;
  bool unitsAreBytes_ = false;
};

// The seconds of a steady clock, for RateMeter.
double SteadySeconds();

// "[#####.....]  45%  1200 rec/s  37.5 KB/s  0:12 left": a bar of `width`
// (none for 0), the percentage, the unit rate, the image data rate (1 KB =
// 1024 bytes; left out when not known) and the time left.
std::string ProgressLine(const RateSample& sample, const std::string& unit, int width = 30);

// "0:12", "1:02:03" for hours; "--:--" while unknown.
std::string TimeLeftText(double seconds);

class CliJobRunner : public JobRunner {
 public:
  CliJobRunner(CliOperator& op, ProgressStyle style, std::ostream& out, std::ostream& err,
               bool runOnCompletion = false)
      : op_(op), style_(style), out_(out), err_(err), runOnCompletion_(runOnCompletion) {}

  ResultCode RunProgramming(const ProgrammingRequest& request) override;
  ResultCode RunMemoryRead(const MemoryReadRequest& request) override;

 private:
  CliOperator& op_;
  ProgressStyle style_;
  std::ostream& out_;
  std::ostream& err_;
  bool runOnCompletion_;
};

// The renderer of the programming and read runs for a command that runs a
// core function itself (the CPU board test's pin and RAM runs, boot verify,
// the backup transfers): the run's events in the one vocabulary come in as
// a sink, and a bar on `err` or plain lines on `out` at every tenth follow
// them. Nothing is drawn in the JSON style: there the command writes its
// run's own events, as scripts have always read them. What a run says
// beyond its progress the command prints itself, with Say between.
class RunDisplay : public RunSink {
 public:
  RunDisplay(ProgressStyle style, std::ostream& out, std::ostream& err, const std::string& unit,
             bool unitsAreBytes = false);
  ~RunDisplay() override;
  RunDisplay(const RunDisplay&) = delete;
  RunDisplay& operator=(const RunDisplay&) = delete;
  void OnEvent(const RunEvent& event) override;
  RunSink& Sink() { return *this; }
  // A line of the command's own, below a drawn bar.
  void Say(const std::string& text);
  // Takes a drawn bar off its line before the command writes lines of its own.
  void Clear();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tarnvale::cli
