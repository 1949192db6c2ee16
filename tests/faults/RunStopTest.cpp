// Every kind of long run, in the one vocabulary of a run, on a fake clock:
// left alone it says its phase, its total, progress that never goes back and
// one finish, last; stopped part way it goes silent at once, ends as stopped
// by the program (never as a time-out), and keeps what it did where it keeps
// anything: the file under its own name as it was, what was read beside it.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/backup/BackupJob.h"
#include "core/flash/RunEventAdapters.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxWorkers.h"
#include "faults/Bench.h"
#include "sim/BoxDevice.h"
#include "sim/Rq700Device.h"
#include "sim/Rq750Device.h"
#include "support/ImageGen.h"

namespace tarnvale::test {
namespace {

namespace fs = std::filesystem;

constexpr int kNever = std::numeric_limits<int>::max();

// Records the events and raises the stop at the Nth progress event; from
// then on the run must say nothing but the finish Ended supplies.
class StopSink final : public RunSink {
 public:
  StopSink(int stopAtProgress, std::function<void()> raise)
      : stopAt_(stopAtProgress), raise_(std::move(raise)) {}
  void OnEvent(const RunEvent& e) override {
    if (raised_ && !std::holds_alternative<RunFinished>(e)) ++afterStop;
    events.push_back(e);
    if (std::holds_alternative<RunProgress>(e) && ++progress_ == stopAt_) {
      raised_ = true;
      raise_();
    }
  }
  bool Raised() const { return raised_; }
  std::vector<RunEvent> events;
  int afterStop = 0;

 private:
  int stopAt_;
  std::function<void()> raise_;
  int progress_ = 0;
  bool raised_ = false;
};

// The order every run keeps; empty when it did.
std::string OrderProblem(const std::vector<RunEvent>& events) {
  if (events.empty() || !std::holds_alternative<PhaseStarted>(events.front())) return "no phase first";
  bool total = false;
  RunProgress last;
  int finishes = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const RunEvent& e = events[i];
    if (std::holds_alternative<PhaseStarted>(e)) {
      total = false;
      last = {};
    } else if (std::holds_alternative<RunTotal>(e)) {
      total = true;
    } else if (const auto* p = std::get_if<RunProgress>(&e)) {
      if (!total) return "progress before its total";
      if (p->units < last.units || p->bytes < last.bytes) return "progress went back";
      last = *p;
    } else if (std::holds_alternative<RunFinished>(e)) {
      ++finishes;
      if (i + 1 != events.size()) return "events after the finish";
    }
  }
  return finishes == 1 ? "" : "not exactly one finish";
}

// What one run did: its code, its file (empty path: it keeps none).
struct Done {
  ResultCode code = 0;
  fs::path file;
  std::string old = kOldContent;  // what the file held before the run
};
using RunKind = std::function<Done(Bench&, RunSink&, const std::shared_ptr<StopState>&)>;

Done LoadRam(Bench& b, RunSink& sink, const std::shared_ptr<StopState>& stop) {
  sim::Rq700Device device{sim::DeviceOptions{}};
  b.Attach(device);
  WriteHexImage(b.dir / "ram.HEX", 0x1000, PseudoRandomBytes(16384, 3));
  ProgrammingRequest r;
  r.port = &b.port;
  r.mode = kModeLoad;
  r.target = Target::Controller;
  r.path = (b.dir / "ram.HEX").string();
  r.range = LoadRange{0, 0xFFFFF, 1};
  r.timings = Timings();
  ProgrammingRunEvents events(sink);
  const ResultCode code = ProgramDevice(r, events, b.clock, StopToken(stop));
  events.Ended(code);
  return {code, {}};
}

Done DumpMemory(Bench& b, RunSink& sink, const std::shared_ptr<StopState>& stop) {
  MemoryReadRequest r;
  b.DumpRam(r, 0x800);
  MemoryReadRunEvents events(sink, r.start, std::uint64_t{r.end} - r.start + 1);
  const ResultCode code = DumpControllerMemory(r, events, StopToken(stop), b.clock);
  events.Ended(code);
  return {code, r.path};
}

Done ReadBack(Bench& b, RunSink& sink, const std::shared_ptr<StopState>& stop, bool toFile) {
  BootReadParams p = b.ReadBack();
  p.toFile = toFile;
  std::vector<std::uint8_t> buffer;
  MemoryReadRunEvents events(sink, p.start, p.length);
  const ResultCode code = ReadBootImage(p, events, StopToken(stop), &buffer, b.clock);
  events.Ended(code);
  return {code, toFile ? fs::path(p.path) : fs::path()};
}

Done RamTest(Bench& b, RunSink& sink, const std::shared_ptr<StopState>& stop) {
  sim::BoxOptions options;
  options.ramMs = 400;  // twenty running records, then the final one
  sim::BoxDevice device(options);
  b.Attach(device);
  BoxLink link(b.port, FastBox(), b.clock);
  RamRunEvents events(sink, true, 1);
  // The person's stop reaches the watcher as a dialog's button does: by its
  // RequestStop, here from the event that pulled the trigger.
  struct StopOnTrigger final : RamEvents {
    StopOnTrigger(RamRunEvents& to, const StopState& trigger) : to_(to), trigger_(trigger) {}
    void OnRamProgress(std::uint32_t percent) override {
      to_.OnRamProgress(percent);
      if (trigger_.StopRequested()) watcher->RequestStop(0);
    }
    void OnRamFinished(ResultCode code, const RamStatus& last) override { to_.OnRamFinished(code, last); }
    ProgressWatcher* watcher = nullptr;

   private:
    RamRunEvents& to_;
    const StopState& trigger_;
  } forward(events, *stop);
  ProgressWatcher watcher(link, forward);
  forward.watcher = &watcher;
  link.Send(RamBankPacket(true, 1));
  const ResultCode code = watcher.Run();
  events.Ended(code);
  return {code, {}};
}

Done SaveBackup(Bench& b, RunSink& sink, const std::shared_ptr<StopState>& stop) {
  sim::Rq750Device device(sim::Rq750Options{}, sim::MakeRq750Content(1, true));
  b.Attach(device);
  const fs::path out = b.dir / "backup.xml";
  // A save merges into the file it replaces, so the earlier file is a
  // backup: the one a first, whole save made.
  EXPECT_EQ(backup::RunSave(b.port, out.string(), {true, false, false}, {}, b.clock).Result(), rc::kSuccess);
  const std::string old = ReadFileBytes(out);
  backup::BackupRunEvents events(sink);
  const backup::RunSummary s =
      backup::RunSave(b.port, out.string(), {true, true, true}, events.Progress(), b.clock, StopToken(stop));
  events.Ended(s);
  return {s.Result(), out, old};
}

struct Case {
  const char* name;
  RunKind run;
  bool keepsPartial;  // a stopped run leaves NAME.partial with what it read
  int closing = 0;    // events a stopped run may still send: a backup closes its section,
                      // unless the stop came at its close
};

// How a failing case is shown.
void showValue(const Case& c, std::ostream& os) { os << c.name; }

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"RAM load", LoadRam, false},
      {"memory dump", DumpMemory, true},
      {"EEPROM read-back", [](Bench& b, RunSink& s, const std::shared_ptr<StopState>& st) { return ReadBack(b, s, st, true); }, true},
      {"verify read-back", [](Bench& b, RunSink& s, const std::shared_ptr<StopState>& st) { return ReadBack(b, s, st, false); }, false},
      {"RAM bank test", RamTest, false},
      {"backup save", SaveBackup, true, 1},
  };
  return cases;
}

struct Outcome {
  Done done;
  StopSink sink;
};

Outcome RunStoppedAt(const Case& c, int stopAt) {
  Bench bench;
  auto stop = std::make_shared<StopState>();
  StopSink sink(stopAt, [stop] { stop->RequestStop(); });
  Done done = c.run(bench, sink, stop);
  return {std::move(done), std::move(sink)};
}

long ProgressEvents(const StopSink& sink) {
  return std::count_if(sink.events.begin(), sink.events.end(),
                       [](const RunEvent& e) { return std::holds_alternative<RunProgress>(e); });
}

// Any run, stopped at any of its progress events or left alone. A stop at
// one of the last two may come after the last piece is in: such a run may
// still end whole.
RC_GTEST_PROP(RunStop, EveryRunInOrderWhereverItIsStopped, ()) {
  const Case c = *::rc::gen::elementOf(Cases());
  const long whole = ProgressEvents(RunStoppedAt(c, kNever).sink);
  const int lastEvent = static_cast<int>(whole);
  const int stopAt = *::rc::gen::oneOf(::rc::gen::just(lastEvent + 1), ::rc::gen::inRange(1, lastEvent + 1));
  const auto [done, sink] = RunStoppedAt(c, stopAt);
  RC_TAG(c.name, stopAt > whole ? "left alone" : "stopped");
  RC_ASSERT(OrderProblem(sink.events) == std::string());
  RC_ASSERT(std::get<RunFinished>(sink.events.back()).code == done.code);
  if (stopAt > whole || (stopAt >= whole - 1 && done.code == rc::kSuccess)) {
    RC_ASSERT(done.code == rc::kSuccess);
    RC_ASSERT(done.file.empty() || ReadFileBytes(done.file) != done.old);
    if (stopAt <= whole) return;
    const auto* total = std::get_if<RunTotal>(&sink.events[1]);
    const auto* last = std::get_if<RunProgress>(&sink.events[sink.events.size() - 2]);
    RC_ASSERT(total != nullptr && last != nullptr);
    RC_ASSERT(last->bytes == total->bytes);  // a whole run carried all its bytes
    return;
  }
  RC_ASSERT(done.code == rc::kStoppedByProgram);
  RC_ASSERT(sink.afterStop <= c.closing);  // silent after the stop
  if (done.file.empty()) return;
  RC_ASSERT(ReadFileBytes(done.file) == done.old);  // the file under its own name
  const fs::path partial = done.file.string() + ".partial";
  RC_ASSERT(fs::exists(partial) == c.keepsPartial);
  RC_ASSERT(!c.keepsPartial || fs::file_size(partial) > 0u);
}

}  // namespace
}  // namespace tarnvale::test
