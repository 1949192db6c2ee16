#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <variant>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/CliOperator.h"
#include "cli/Interrupt.h"
#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/ProgrammingEngine.h"
#include "core/flash/RunEventAdapters.h"
#include "core/jobs/JobThread.h"

namespace tarnvale::cli {
namespace {

using Json = nlohmann::ordered_json;

// Draws progress in the chosen style; plain lines at most every 10%.
class Meter {
 public:
  Meter(ProgressStyle style, std::ostream& out, std::ostream& err, std::string unit)
      : style_(style), out_(out), err_(err), unit_(std::move(unit)), rate_(SteadySeconds) {}
  // A bar or count still drawn in place ends its line, so whatever is said
  // next (an interruption, the shell's prompt) starts on a line of its own.
  ~Meter() {
    if (barOpen_) err_ << std::endl;
  }
  Meter(const Meter&) = delete;
  Meter& operator=(const Meter&) = delete;

  void Start(double total, bool unitsAreBytes = false) {
    rate_.Start(total, unitsAreBytes);
    bytes_.reset();
    lastDraw_ = {};
    nextPlain_ = 0.1;
  }
  // What the units are called ("rec"; empty: the units are bytes).
  void SetUnit(std::string unit) { unit_ = std::move(unit); }
  // The image bytes behind the units done, from the run's own events.
  void SetBytes(std::uint64_t bytes) { bytes_ = bytes; }
  RateSample Sample(double done) const { return rate_.At(done, bytes_); }
  void Update(double done, bool force = false) {
    if (style_ == ProgressStyle::Json || rate_.Total() <= 0) return;
    if (style_ == ProgressStyle::Bar) {
      const auto now = std::chrono::steady_clock::now();
      if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
      lastDraw_ = now;
      err_ << "\r" << ProgressLine(Sample(done), unit_) << "\033[K" << std::flush;
      barOpen_ = true;
      return;
    }
    const RateSample sample = Sample(done);
    if (sample.fraction + 1e-9 >= nextPlain_ || force) {
      out_ << ProgressLine(sample, unit_, 0) << std::endl;
      while (nextPlain_ <= sample.fraction + 1e-9) nextPlain_ += 0.1;
    }
  }
  void Say(const std::string& text) {
    if (style_ == ProgressStyle::Json) return;
    if (style_ == ProgressStyle::Bar) {
      // A drawn bar keeps its line; the text goes below it.
      if (barOpen_) err_ << std::endl;
      barOpen_ = false;
      err_ << "\r\033[K" << text << std::endl;
    } else {
      out_ << text << std::endl;
    }
  }
  // A line that stands for a count going on: redrawn in place on a
  // terminal, a plain line otherwise; nothing in JSON.
  void Redraw(const std::string& text) {
    if (style_ == ProgressStyle::Json) return;
    if (style_ == ProgressStyle::Bar) {
      err_ << "\r" << text << "\033[K" << std::flush;
      barOpen_ = true;
      return;
    }
    out_ << text << std::endl;
  }
  bool RedrawsInPlace() const { return style_ == ProgressStyle::Bar; }
  // Takes a drawn bar off its line, so lines written elsewhere (stdout) on
  // the same terminal start clean; the next progress draws it again.
  void Clear() {
    if (!barOpen_) return;
    err_ << "\r\033[K" << std::flush;
    barOpen_ = false;
    lastDraw_ = {};
  }
  // Ends a bar drawn in place, so what is said next starts a line.
  void EndLine() {
    if (barOpen_) err_ << std::endl;
    barOpen_ = false;
  }
  // Always one line on stderr, below a drawn bar.
  void Warn(const std::string& text) {
    if (barOpen_) err_ << std::endl;
    barOpen_ = false;
    err_ << text << std::endl;
  }

 private:
  ProgressStyle style_;
  std::ostream& out_;
  std::ostream& err_;
  std::string unit_;
  RateMeter rate_;
  std::optional<std::uint64_t> bytes_;
  std::chrono::steady_clock::time_point lastDraw_{};
  double nextPlain_ = 0.1;
  bool barOpen_ = false;
};

// The rate fields of a JSON progress event: image bytes done, their rate
// and the seconds left (null while unknown).
void AddRate(Json& j, const RateSample& s) {
  if (s.bytesKnown) {
    j["bytes"] = static_cast<std::uint64_t>(s.bytes);
    j["bytes_per_s"] = static_cast<std::uint64_t>(std::llround(s.bytesPerSecond));
  }
  j["eta_s"] = s.secondsLeft < 0 ? Json(nullptr) : Json(std::round(s.secondsLeft * 10) / 10);
}

void WriteJson(std::ostream& out, const Json& j) { out << j.dump() << std::endl; }

// Draws any run from the one vocabulary of a run: the bar or the plain
// lines follow its total and progress, its warnings go below them.
class RunRenderer final : public RunSink {
 public:
  RunRenderer(Meter& meter, bool unitsAreBytes) : meter_(meter), unitsAreBytes_(unitsAreBytes) {}
  void OnEvent(const RunEvent& event) override {
    if (const auto* phase = std::get_if<PhaseStarted>(&event)) {
      // A verify counts the bytes it read back: the data rate says it all.
      if (phase->name == kPhaseVerifying) {
        // It starts only once every packet was acknowledged: the
        // programming's bar is drawn whole before the read-back's.
        if (total_ > 0 && !wholeDrawn_) meter_.Update(total_, true);
        meter_.SetUnit({});
        unitsAreBytes_ = true;
      }
    } else if (const auto* total = std::get_if<RunTotal>(&event)) {
      total_ = static_cast<double>(total->units);
      last_ = 0;
      meter_.Start(total_, unitsAreBytes_);
      wholeDrawn_ = false;
      bytes_ = !unitsAreBytes_ && total->bytes != 0;
      if (bytes_) meter_.SetBytes(0);
    } else if (const auto* progress = std::get_if<RunProgress>(&event)) {
      if (bytes_) meter_.SetBytes(progress->bytes);
      last_ = static_cast<double>(progress->units);
      // The whole is always drawn, whatever the bar's pace; once (a run
      // may say its last count twice: a section's last record and its end).
      const bool whole = last_ >= total_ && !wholeDrawn_;
      wholeDrawn_ = wholeDrawn_ || whole;
      meter_.Update(last_, whole);
    } else if (const auto* warning = std::get_if<RunWarning>(&event)) {
      meter_.Warn("warning: " + warning->text);
    } else if (const auto* finished = std::get_if<RunFinished>(&event)) {
      if (finished->code == rc::kSuccess && last_ < total_) meter_.Update(total_, true);
    }
  }

 private:
  Meter& meter_;
  bool unitsAreBytes_;
  bool bytes_ = false;
  double total_ = 0;
  double last_ = 0;
  bool wholeDrawn_ = false;
};

// "Erasing... N s": the seconds a flash erase has waited for its answer.
std::string ErasingText(std::uint32_t seconds) {
  return "Erasing... " + std::to_string(seconds) + " s";
}

class CliLoadView : public LoadMemoryView {
 public:
  CliLoadView(Meter& meter, bool run, bool json, std::ostream& out)
      : meter_(meter), run_(run), json_(json), out_(out) {}
  void SetTitle(const std::string& text) override { meter_.Say(text); }
  void SetFileName(const std::string& text) override {
    if (!text.empty()) meter_.Say("File: " + text);
  }
  void SetLastModified(const std::string& text) override {
    if (!text.empty()) meter_.Say("Last modified: " + text);
  }
  void SetEraseTime(const std::string& text) override {
    // While the erase waits, EraseWaited keeps the count; the time is said
    // once the answer came.
    if (!text.empty() && !erasing_) meter_.Say("Erase time: " + text);
  }
  // A silent controller can keep the erase waiting for minutes: the count
  // shows the wait is alive and how long Ctrl-C has been an option. A bar
  // redraws it every second, plain output every tenth second; JSON gets an
  // event a second.
  void EraseWaited(std::uint32_t seconds) override {
    if (json_) {
      out_ << Json{{"event", "erasing"}, {"elapsed_s", seconds}}.dump() << std::endl;
      return;
    }
    if (seconds % 10 == 0 || meter_.RedrawsInPlace()) meter_.Redraw(ErasingText(seconds));
  }
  void SetProgramTime(const std::string& text) override {
    if (!text.empty()) meter_.Say("Program time: " + text);
  }
  void SetStatus(const std::string& text) override {
    erasing_ = text == load_text::kErasing;
    // While a count event is handled the meter shows the count; the status
    // line that goes with it would only repeat it.
    if (text.empty() || countEvent_) return;
    meter_.Say(text);
  }
  // Set by the sink around the engine's total and progress events.
  void SetCountEvent(bool on) { countEvent_ = on; }
  void SetFreeText(const std::string& text) override { meter_.Say(text); }
  // The bar follows the run's own events (RunRenderer), not the dialog's
  // progress control.
  void SetProgressRange(std::uint32_t, std::uint32_t) override {}
  void SetProgress(std::uint32_t) override {}
  void StepProgress() override {}
  void ShowRunOnCompletion(bool) override {}
  bool RunOnCompletion() const override { return run_; }
  // Ctrl-C stops the run through its token (WaitOrStop), the erase too.
  void Close() override {}

 private:
  Meter& meter_;
  bool run_;
  bool json_;
  std::ostream& out_;
  bool countEvent_ = false;
  bool erasing_ = false;
};

// Passes engine events to the model (which runs the erase and says the
// status texts) and, in the one vocabulary, to the renderer; writes them as
// JSON.
class ProgrammingSink : public ProgrammingEvents {
 public:
  ProgrammingSink(LoadMemoryModel& model, CliLoadView& view, ProgrammingRunEvents& run, Meter& meter,
                  bool json, std::ostream& out)
      : model_(model), view_(view), run_(run), meter_(meter), json_(json), out_(out) {}
  void OnTotalBytes(std::uint64_t bytes) override {
    totalBytes_ = bytes;
    run_.OnTotalBytes(bytes);
  }
  void OnProgressBytes(std::uint64_t bytes) override { run_.OnProgressBytes(bytes); }
  void OnTotal(std::uint32_t packets) override {
    view_.SetCountEvent(true);
    model_.OnTotal(packets);
    view_.SetCountEvent(false);
    run_.OnTotal(packets);
    if (json_) {
      Json j{{"event", "total"}, {"packets", packets}};
      if (totalBytes_ != 0) j["bytes"] = totalBytes_;
      WriteJson(out_, j);
    }
  }
  void OnProgress(std::uint32_t acked) override {
    view_.SetCountEvent(true);
    model_.OnProgress(acked);
    view_.SetCountEvent(false);
    run_.OnProgress(acked);
    if (json_) {
      Json j{{"event", "progress"}, {"acknowledged", acked}};
      AddRate(j, meter_.Sample(acked));
      WriteJson(out_, j);
    }
  }
  void OnBootVersion(const std::string& v) override {
    if (json_) WriteJson(out_, Json{{"event", "boot_version"}, {"text", v}});
    model_.OnBootVersion(v);
  }
  // The model shows a notice as a message of its own.
  void OnNotice(const std::string& text) override {
    if (json_) WriteJson(out_, Json{{"event", "notice"}, {"text", text}});
    model_.OnNotice(text);
  }
  void OnRefused(std::uint8_t status) override { model_.OnRefused(status); }
  // Left out of the image: one line on stderr whatever the style, so that
  // a script reading stdout as JSON sees it there too.
  void OnWarning(const std::string& text) override {
    if (json_) out_ << "{\"event\":\"warning\",\"text\":" << JsonString(text) << "}" << std::endl;
    run_.OnWarning(text);
  }
  // The erase's count is the view's; its end is said by the model.
  void OnEraseStarted() override { model_.OnEraseStarted(); }
  void OnEraseWaited(std::uint32_t seconds) override { model_.OnEraseWaited(seconds); }
  void OnEraseEnded(const EraseOutcome& erase) override {
    eraseFailed_ = erase.kind != EraseOutcome::Kind::Erased;
    model_.OnEraseEnded(erase);
  }
  // The read-back after programming: a phase of its own for the renderer,
  // the model's status lines, JSON events.
  void OnVerifyTotal(std::uint64_t bytes) override {
    if (json_) WriteJson(out_, Json{{"event", "verify_total"}, {"bytes", bytes}});
    run_.OnVerifyTotal(bytes);
    model_.OnVerifyTotal(bytes);  // says once that the read-back began
  }
  void OnVerifyProgress(std::uint64_t bytes) override {
    if (json_) WriteJson(out_, Json{{"event", "verify_progress"}, {"bytes", bytes}});
    view_.SetCountEvent(true);
    model_.OnVerifyProgress(bytes);
    view_.SetCountEvent(false);
    run_.OnVerifyProgress(bytes);
  }
  void OnVerifyOutcome(const VerifyOutcome& o) override {
    if (json_) {
      Json j{{"event", "verified"}, {"bytes", o.bytes}, {"differing", o.differing}};
      if (o.Failed()) {
        j["first_address"] = o.firstAddress;
        j["expected"] = o.expected;
        j["read"] = o.read;
      }
      WriteJson(out_, j);
    }
    model_.OnVerifyOutcome(o);
    run_.OnVerifyOutcome(o);
  }
  // The whole is drawn before the model says what was written. A failed
  // erase has been told by the model; nothing was streamed to draw.
  void OnResult(ResultCode code) override {
    if (eraseFailed_) {
      model_.OnResult(code);
      return;
    }
    if (json_) WriteJson(out_, Json{{"event", "result"}, {"code", static_cast<int>(code)}, {"text", ResultText(code)}});
    run_.OnResult(code);
    // What the model says of the result (a failed verify among it) goes on
    // a line of its own below the bar.
    meter_.EndLine();
    model_.OnResult(code);
  }

 private:
  LoadMemoryModel& model_;
  CliLoadView& view_;
  ProgrammingRunEvents& run_;
  Meter& meter_;
  bool json_;
  std::ostream& out_;
  std::uint64_t totalBytes_ = 0;
  bool eraseFailed_ = false;
};

// A read's events: one JSON line each (as scripts have always read them),
// and the vocabulary for the renderer; the dump's closing lines.
class ReadSink : public MemoryReadEvents {
 public:
  ReadSink(MemoryReadRunEvents& run, Meter& meter, const MemoryReadRequest& r, bool json,
           std::ostream& out)
      : run_(run), meter_(meter), request_(r), json_(json), out_(out) {}
  void OnRange(std::uint32_t upper) override {
    if (json_) WriteJson(out_, Json{{"event", "range"}, {"upper", upper}});
    run_.OnRange(upper);
  }
  void OnStep(std::uint32_t step) override {
    if (json_) WriteJson(out_, Json{{"event", "step"}, {"step", step}});
  }
  void OnProgress(std::uint32_t position, std::uint32_t next) override {
    run_.OnProgress(position, next);
    if (json_) {
      const double done = static_cast<double>(next) - request_.start;
      Json j{{"event", "progress"}, {"position", position}, {"next", next}};
      AddRate(j, meter_.Sample(done));
      WriteJson(out_, j);
    }
  }
  void OnDone(ResultCode code, std::uint32_t next) override {
    if (json_) {
      WriteJson(out_, Json{{"event", "done"}, {"code", static_cast<int>(code)}, {"next", next}, {"text", ResultText(code)}});
    }
    code_ = code;
    run_.OnDone(code, next);
    if (!Info(request_.target).readsByMemoryDump) return;
    if (code == rc::kSuccess) {
      meter_.Say(dump_text::kCompleted);
      meter_.Say("File saved to " + request_.path);
      return;
    }
    meter_.Say(dump_text::kAborted);
    std::error_code ec;
    if (std::filesystem::exists(PartialDumpPath(request_.path), ec)) {
      meter_.Say("What was read is kept in " + PartialDumpPath(request_.path));
    }
  }
  // The programmer box's reads: the lines go to the file; the checksums of
  // a boot flash read are news.
  void OnComputedChecksum(std::uint32_t value) override {
    computed_ = value;
    Checksum("computed_checksum", "Computed", value);
  }
  void OnImageChecksum(std::uint32_t value) override {
    Checksum("image_checksum", "Image", value);
    if (json_) {
      WriteJson(out_, Json{{"event", "checksums"}, {"match", computed_ == value}, {"text", ChecksumVerdict(computed_, value)}});
    } else {
      meter_.Say(ChecksumVerdict(computed_, value));
    }
  }
  void OnLine(const std::string& text) override {
    if (json_) WriteJson(out_, Json{{"event", "line"}, {"text", text}});
  }
  // The read's own code; a stopped read sends none.
  std::optional<ResultCode> Code() const { return code_; }

 private:
  void Checksum(const char* event, const char* label, std::uint32_t value) {
    char text[48];
    std::snprintf(text, sizeof text, "%s Checksum = 0x%04X", label, static_cast<unsigned>(value));
    if (json_) {
      WriteJson(out_, Json{{"event", event}, {"value", value}});
    } else {
      meter_.Say(text);
    }
  }
  std::uint32_t computed_ = 0;
  MemoryReadRunEvents& run_;
  Meter& meter_;
  const MemoryReadRequest& request_;
  bool json_;
  std::ostream& out_;
  std::optional<ResultCode> code_;
};

// Waits while the worker runs; on Ctrl-C asks it to stop. The signal can
// only raise a flag, so the flag is looked at every 50 ms.
template <typename Running, typename Stop>
void WaitOrStop(Running running, Stop stop) {
  while (running()) {
    if (Interrupted()) {
      stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The same for a run on a JobThread, whose end wakes the wait at once.
void WaitOrStop(JobThread& job) {
  while (!job.WaitFinished(std::chrono::milliseconds(50))) {
    if (Interrupted()) {
      job.RequestStop();
      return;
    }
  }
}

}  // namespace

ProgressStyle ChooseProgressStyle(const std::string& requested, bool stderrIsTerminal) {
  if (requested == "json") return ProgressStyle::Json;
  if (requested == "plain") return ProgressStyle::Plain;
  if (requested == "bar") return ProgressStyle::Bar;
  return stderrIsTerminal ? ProgressStyle::Bar : ProgressStyle::Plain;
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RateMeter::RateMeter(Now now) : now_(std::move(now)) {}

void RateMeter::Start(double total, bool unitsAreBytes) {
  total_ = total;
  start_ = now_();
  unitsAreBytes_ = unitsAreBytes;
}

RateSample RateMeter::At(double done, std::optional<std::uint64_t> bytes) const {
  RateSample s;
  done = std::clamp(done, 0.0, std::max(total_, 0.0));
  s.fraction = total_ > 0 ? done / total_ : 0;
  const double elapsed = now_() - start_;
  if (bytes) {
    s.bytesKnown = true;
    s.bytes = static_cast<double>(*bytes);
  } else if (unitsAreBytes_) {
    s.bytesKnown = true;
    s.bytes = done;
  }
  // No time gone (or a clock that went back) gives no rate rather than an
  // infinite one; nothing done gives no time left.
  if (elapsed <= 0) return s;
  s.perSecond = done / elapsed;
  s.bytesPerSecond = s.bytes / elapsed;
  if (done >= total_) {
    s.secondsLeft = 0;
  } else if (done > 0) {
    s.secondsLeft = (total_ - done) / s.perSecond;
  }
  return s;
}

std::string TimeLeftText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  const auto t = static_cast<long long>(seconds + 0.5);
  char buf[48];
  if (t >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", t / 3600, t / 60 % 60, t % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", t / 60, t % 60);
  }
  return buf;
}

std::string ProgressLine(const RateSample& s, const std::string& unit, int width) {
  const double fraction = std::clamp(s.fraction, 0.0, 1.0);
  std::string line;
  if (width > 0) {
    const int filled = static_cast<int>(fraction * width + 0.5);
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "] ";
  }
  char buf[160];
  int n = std::snprintf(buf, sizeof buf, "%3d%%", static_cast<int>(fraction * 100 + 1e-9));
  if (!unit.empty()) n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "  %.0f %s/s", s.perSecond, unit.c_str());
  if (s.bytesKnown) {
    n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "  %.1f KB/s", s.bytesPerSecond / 1024.0);
  }
  std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), "  %s left", TimeLeftText(s.secondsLeft).c_str());
  return line + buf;
}

ResultCode CliJobRunner::RunProgramming(const ProgrammingRequest& request) {
  Meter meter(style_, out_, err_, "rec");
  CliLoadView view(meter, runOnCompletion_, style_ == ProgressStyle::Json, out_);
  LoadMemoryModel model(request, view, op_);
  RunRenderer renderer(meter, false);
  ProgrammingRunEvents run(renderer);
  // The sink hands each engine event to the model and the renderer; the
  // engine is joined (Wait) before the sink goes away.
  ProgrammingSink sink(model, view, run, meter, style_ == ProgressStyle::Json, out_);
  model.Open();
  if (model.Begin(&sink)) {
    WaitOrStop([&] { return model.WorkerRunning(); }, [&] { model.Stop(); });
    model.Wait();
  }
  return model.Result();
}

ResultCode CliJobRunner::RunMemoryRead(const MemoryReadRequest& request) {
  // The units of a read are bytes: the data rate says it all.
  Meter meter(style_, out_, err_, "");
  RunRenderer renderer(meter, true);
  MemoryReadRunEvents run(renderer, request.start, std::uint64_t{request.end} - request.start + 1);
  ReadSink sink(run, meter, request, style_ == ProgressStyle::Json, out_);
  if (!request.warning.empty()) {
    if (style_ == ProgressStyle::Json) out_ << "{\"event\":\"warning\",\"text\":" << JsonString(request.warning) << "}" << std::endl;
    meter.Warn("warning: " + request.warning);
  }
  if (Info(request.target).readsByMemoryDump) meter.Say(dump_text::kReading);
  // The read's events are drawn on its own thread; this one only watches
  // for Ctrl-C, and the job is joined before the sink goes away.
  JobThread job;
  job.Start([&](const StopToken& stop) { ReadMemory(request, sink, stop); });
  WaitOrStop(job);
  job.Join();
  const ResultCode code = sink.Code().value_or(rc::kStoppedByProgram);
  run.Ended(code);
  return code;
}

struct RunDisplay::Parts {
  Parts(ProgressStyle style, std::ostream& out, std::ostream& err, const std::string& unit, bool unitsAreBytes)
      : meter(style, out, err, unit), renderer(meter, unitsAreBytes) {}
  Meter meter;
  RunRenderer renderer;
};

RunDisplay::RunDisplay(ProgressStyle style, std::ostream& out, std::ostream& err, const std::string& unit,
                       bool unitsAreBytes)
    : parts_(std::make_unique<Parts>(style, out, err, unit, unitsAreBytes)) {}

RunDisplay::~RunDisplay() = default;

void RunDisplay::OnEvent(const RunEvent& event) { parts_->renderer.OnEvent(event); }

void RunDisplay::Say(const std::string& text) { parts_->meter.Say(text); }

void RunDisplay::Clear() { parts_->meter.Clear(); }

}  // namespace tarnvale::cli
