#include "cli/Progress.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/CliOperator.h"
#include "cli/Interrupt.h"
#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"

namespace tarnvale::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point t) {
  return std::chrono::duration<double>(SteadyClock::now() - t).count();
}

std::string TimeText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  const auto s = static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// Draws progress in the chosen style; plain lines at most every 10%.
class Meter {
 public:
  Meter(ProgressStyle style, std::ostream& out, std::ostream& err, std::string unit)
      : style_(style), out_(out), err_(err), unit_(std::move(unit)) {}

  void Start(double total) {
    total_ = total;
    start_ = SteadyClock::now();
    lastDraw_ = {};
    nextPlain_ = 0.1;
  }
  void Update(double done, bool force = false) {
    if (style_ == ProgressStyle::Json || total_ <= 0) return;
    const double fraction = std::min(1.0, done / total_);
    const double elapsed = SecondsSince(start_);
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const double left = rate > 0 ? (total_ - done) / rate : NAN;
    if (style_ == ProgressStyle::Bar) {
      const auto now = SteadyClock::now();
      if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
      lastDraw_ = now;
      err_ << "\r" << ProgressLine(fraction, rate, unit_, left) << std::flush;
      barOpen_ = true;
      return;
    }
    if (fraction + 1e-9 >= nextPlain_ || force) {
      out_ << ProgressLine(fraction, rate, unit_, left, 0) << std::endl;
      while (nextPlain_ <= fraction + 1e-9) nextPlain_ += 0.1;
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
  double total_ = 0;
  SteadyClock::time_point start_{};
  SteadyClock::time_point lastDraw_{};
  double nextPlain_ = 0.1;
  bool barOpen_ = false;
};

class CliLoadView : public LoadMemoryView {
 public:
  CliLoadView(Meter& meter, bool run) : meter_(meter), run_(run) {}
  void SetTitle(const std::string& text) override { meter_.Say(text); }
  void SetFileName(const std::string& text) override {
    if (!text.empty()) meter_.Say("File: " + text);
  }
  void SetLastModified(const std::string& text) override {
    if (!text.empty()) meter_.Say("Last modified: " + text);
  }
  void SetEraseTime(const std::string& text) override {
    if (!text.empty()) meter_.Say("Erase time: " + text);
  }
  void SetProgramTime(const std::string& text) override {
    if (!text.empty()) meter_.Say("Program time: " + text);
  }
  void SetStatus(const std::string& text) override {
    // While a count event is handled the meter shows the count; the status
    // line that goes with it would only repeat it.
    if (text.empty() || countEvent_) return;
    meter_.Say(text);
  }
  // Set by the sink around the engine's total and progress events.
  void SetCountEvent(bool on) { countEvent_ = on; }
  void SetFreeText(const std::string& text) override { meter_.Say(text); }
  void Warn(const std::string& text) { meter_.Warn(text); }
  void SetProgressRange(std::uint32_t upper, std::uint32_t) override {
    meter_.Start(upper);
    done_ = 0;
  }
  void SetProgress(std::uint32_t position) override {
    done_ = position;
    meter_.Update(done_, true);
  }
  void StepProgress() override {}
  void Acknowledged(std::uint32_t n) {
    done_ = n;
    meter_.Update(n);
  }
  void ShowRunOnCompletion(bool) override {}
  bool RunOnCompletion() const override { return run_; }
  void Close() override {}
  bool StopRequested() override { return Interrupted(); }

 private:
  Meter& meter_;
  bool run_;
  bool countEvent_ = false;
  double done_ = 0;
};

// Passes engine events to the model (and the meter), and writes them as JSON.
class ProgrammingSink : public ProgrammingEvents {
 public:
  ProgrammingSink(LoadMemoryModel& model, CliLoadView& view, bool json, std::ostream& out)
      : model_(model), view_(view), json_(json), out_(out) {}
  void OnTotal(std::uint32_t packets) override {
    if (json_) out_ << "{\"event\":\"total\",\"packets\":" << packets << "}" << std::endl;
    view_.SetCountEvent(true);
    model_.OnTotal(packets);
    view_.SetCountEvent(false);
  }
  void OnProgress(std::uint32_t acked) override {
    if (json_) out_ << "{\"event\":\"progress\",\"acknowledged\":" << acked << "}" << std::endl;
    view_.SetCountEvent(true);
    model_.OnProgress(acked);
    view_.SetCountEvent(false);
    view_.Acknowledged(acked);
  }
  void OnBootVersion(const std::string& v) override {
    if (json_) out_ << "{\"event\":\"boot_version\",\"text\":" << JsonString(v) << "}" << std::endl;
    model_.OnBootVersion(v);
  }
  void OnNotice(const std::string& text) override {
    if (json_) out_ << "{\"event\":\"notice\",\"text\":" << JsonString(text) << "}" << std::endl;
    model_.OnNotice(text);
  }
  // Left out of the image: one line on stderr whatever the style, so that
  // a script reading stdout as JSON sees it there too.
  void OnWarning(const std::string& text) override {
    if (json_) out_ << "{\"event\":\"warning\",\"text\":" << JsonString(text) << "}" << std::endl;
    view_.Warn("warning: " + text);
  }
  void OnResult(ResultCode code) override {
    if (json_) {
      out_ << "{\"event\":\"result\",\"code\":" << static_cast<int>(code)
           << ",\"text\":" << JsonString(ResultText(code)) << "}" << std::endl;
    }
    model_.OnResult(code);
  }

 private:
  LoadMemoryModel& model_;
  CliLoadView& view_;
  bool json_;
  std::ostream& out_;
};

class CliReadView : public MemoryReadView {
 public:
  explicit CliReadView(Meter& meter) : meter_(meter) {}
  void AddListText(const std::string& text) override {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    meter_.Say(t);
  }
  void SetField1(const std::string&) override {}
  void SetField2(const std::string&) override {}
  void SetProgressRange(std::uint32_t) override {}
  void SetProgressStep(std::uint32_t) override {}
  void SetProgress(std::uint32_t) override {}
  void EnableOk(bool) override {}
  void EnableRetry(bool) override {}
  void ShowRetry(bool) override {}
  void Close() override {}

 private:
  Meter& meter_;
};

class ReadSink : public MemoryReadEvents {
 public:
  ReadSink(MemoryReadModel& model, Meter& meter, const MemoryReadRequest& r, bool json,
           std::ostream& out)
      : model_(model), meter_(meter), request_(r), json_(json), out_(out) {}
  void OnRange(std::uint32_t upper) override {
    if (json_) out_ << "{\"event\":\"range\",\"upper\":" << upper << "}" << std::endl;
    meter_.Start(static_cast<double>(request_.end) - request_.start + 1);
    model_.OnRange(upper);
  }
  void OnStep(std::uint32_t step) override {
    if (json_) out_ << "{\"event\":\"step\",\"step\":" << step << "}" << std::endl;
    model_.OnStep(step);
  }
  void OnProgress(std::uint32_t position, std::uint32_t next) override {
    if (json_) {
      out_ << "{\"event\":\"progress\",\"position\":" << position << ",\"next\":" << next << "}"
           << std::endl;
    }
    meter_.Update(static_cast<double>(next) - request_.start);
    model_.OnProgress(position, next);
  }
  void OnDone(ResultCode code, std::uint32_t next) override {
    if (json_) {
      out_ << "{\"event\":\"done\",\"code\":" << static_cast<int>(code) << ",\"next\":" << next
           << ",\"text\":" << JsonString(ResultText(code)) << "}" << std::endl;
    }
    if (code == rc::kSuccess) meter_.Update(static_cast<double>(request_.end) - request_.start + 1, true);
    model_.OnDone(code, next);
  }
  // The programmer box's reads: the lines go to the file; the checksums of
  // a boot flash read are news.
  void OnComputedChecksum(std::uint32_t value) override { Checksum("computed_checksum", "Computed", value); }
  void OnImageChecksum(std::uint32_t value) override { Checksum("image_checksum", "Image", value); }
  void OnLine(const std::string& text) override {
    if (json_) out_ << "{\"event\":\"line\",\"text\":" << JsonString(text) << "}" << std::endl;
  }

 private:
  void Checksum(const char* event, const char* label, std::uint32_t value) {
    char text[48];
    std::snprintf(text, sizeof text, "%s Checksum = 0x%04X", label, static_cast<unsigned>(value));
    if (json_) {
      out_ << "{\"event\":\"" << event << "\",\"value\":" << value << "}" << std::endl;
    } else {
      meter_.Say(text);
    }
  }
  MemoryReadModel& model_;
  Meter& meter_;
  const MemoryReadRequest& request_;
  bool json_;
  std::ostream& out_;
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

}  // namespace

ProgressStyle ChooseProgressStyle(const std::string& requested, bool stderrIsTerminal) {
  if (requested == "json") return ProgressStyle::Json;
  if (requested == "plain") return ProgressStyle::Plain;
  if (requested == "bar") return ProgressStyle::Bar;
  return stderrIsTerminal ? ProgressStyle::Bar : ProgressStyle::Plain;
}

std::string ProgressLine(double fraction, double rate, const std::string& unit, double left,
                         int width) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  std::string line;
  if (width > 0) {
    const int filled = static_cast<int>(fraction * width + 0.5);
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "] ";
  }
  char buf[96];
  std::snprintf(buf, sizeof buf, "%3d%%  %.0f %s/s  %s left", static_cast<int>(fraction * 100 + 1e-9),
                rate, unit.c_str(), TimeText(left).c_str());
  return line + buf;
}

ResultCode CliJobRunner::RunProgramming(const ProgrammingRequest& request) {
  Meter meter(style_, out_, err_, "records");
  CliLoadView view(meter, runOnCompletion_);
  LoadMemoryModel model(request, view, op_);
  // The sink hands each engine event to the model; the engine is joined
  // (Wait) before the sink goes away.
  ProgrammingSink sink(model, view, style_ == ProgressStyle::Json, out_);
  model.Open();
  if (model.Begin(&sink)) {
    WaitOrStop([&] { return model.WorkerRunning(); }, [&] { model.Stop(); });
    model.Wait();
  }
  return model.Result();
}

ResultCode CliJobRunner::RunMemoryRead(const MemoryReadRequest& request) {
  Meter meter(style_, out_, err_, "bytes");
  CliReadView view(meter);
  // The warning goes to stderr below, not into the list as well.
  MemoryReadRequest quiet = request;
  quiet.warning.clear();
  MemoryReadModel model(quiet, view, op_);
  ReadSink sink(model, meter, request, style_ == ProgressStyle::Json, out_);
  if (!request.warning.empty()) {
    if (style_ == ProgressStyle::Json) out_ << "{\"event\":\"warning\",\"text\":" << JsonString(request.warning) << "}" << std::endl;
    meter.Warn("warning: " + request.warning);
  }
  model.Open();
  model.Tick(&sink);
  WaitOrStop([&] { return model.WorkerRunning(); }, [&] { model.Stop(); });
  model.Wait();
  return model.Result();
}

}  // namespace tarnvale::cli
