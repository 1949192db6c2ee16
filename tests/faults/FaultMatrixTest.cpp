// Every engine against every fault the link can show: the programming
// stream to a controller and to the box (the controllers' and the box's
// targets share these streams, so one stands for each; their image readers
// are the formats suite's), the dump, the box's read-back, the RAM bank runs
// and the backup save.
// Each cell runs the engine in-process against the device model over an
// in-memory link on a fake clock, and checks what a technician relies on:
// the run ends with the documented code and message, within its time limit
// plus a margin, the port is still open for the terminal (unless the line
// itself went away), no worker thread is left, and no file under its final
// name claims a completeness it does not have.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/backup/BackupDocument.h"
#include "core/backup/BackupTransfer.h"
#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxWorkers.h"
#include "faults/Bench.h"
#include "sim/BoxDevice.h"
#include "sim/Rq700Device.h"
#include "sim/Rq750Device.h"
#include "support/ImageGen.h"
#include "support/DirectRunner.h"

namespace tarnvale::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Fault { None, Refusal, DroppedAck, Silence, StrayByte, Corrupt, Closed, SlowErase, Killed };
// None first: every engine's healthy run, whose time the fault cells may add their limit to.
constexpr Fault kFaults[] = {Fault::None,    Fault::Refusal, Fault::DroppedAck, Fault::Silence, Fault::StrayByte,
                             Fault::Corrupt, Fault::Closed,  Fault::SlowErase,  Fault::Killed};
constexpr const char* kFaultNames[] = {"none",    "refusal",     "dropped ack", "silence",   "stray byte",
                                       "corrupt", "link closed", "slow erase",  "sim killed"};

// What a run may take beyond its limit on the fake clock (polls, settling).
constexpr std::uint32_t kMarginMs = 1500;

// What one run came to.
struct Outcome {
  ResultCode code = 0;
  std::vector<std::string> texts;  // messages and status lines the person saw
  int threadsLeft = 0;             // workers still running after the run ended
  std::string fileProblem;         // a file under its final name that is not whole
};

// ---- the engines -------------------------------------------------------------------

// The programming dialog's model (the erase and the stream on the engine's
// worker), as the GUI and the CLI run it.
void Program(Bench& b, ProgrammingRequest r, Outcome& o) {
  r.port = &b.port;
  r.timings = Timings();
  r.fileOperator = &b.op;
  DirectRunner runner(b.op, b.clock);
  o.code = runner.RunProgramming(r);
  o.texts = runner.Texts();
  o.threadsLeft = runner.workersLeft;
}

struct ReadEvents : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t, std::uint32_t) override {}
  void OnDone(ResultCode, std::uint32_t) override { ++done; }
  // One finish, and the run's code shown.
  void Into(Outcome& o) const {
    if (done != 1) o.fileProblem = "OnDone came " + std::to_string(done) + " times";
    o.texts.push_back(ResultText(o.code));
  }
  int done = 0;
};

// ---- the cells -------------------------------------------------------------------------

using Runner = std::function<void(Bench&, Fault, Outcome&)>;

// The link's faults, landing on reply `n` (the stray byte, the hang-up and
// the death just after it): what the device sends is changed on the wire, so
// every engine meets the same faults whatever its device model can do.
WireFaults OnWire(Fault f, std::uint32_t n, Bytes refusal, Bytes corrupt = {}) {
  WireFaults w;
  switch (f) {
    case Fault::Refusal: w.replaceAt = n, w.replacement = std::move(refusal); break;
    case Fault::DroppedAck: w.dropAt = n; break;
    case Fault::Silence: w.silentAfter = n; break;
    case Fault::StrayByte: w.strayAfter = n; break;
    case Fault::Corrupt: w.replaceAt = n, w.replacement = std::move(corrupt); break;
    case Fault::Closed: w.closeAfter = n; break;
    case Fault::Killed: w.killAfter = n; break;
    default: break;
  }
  return w;
}

Runner ProgramRq700(int mode) {
  return [mode](Bench& b, Fault f, Outcome& o) {
    sim::DeviceOptions options;
    options.eraseMs = f == Fault::SlowErase ? kEraseLimitMs * 4 : 200;
    sim::Rq700Device device(options);
    // The erase's answer is the first reply of a flash run.
    b.Attach(device, OnWire(f, mode == kModeProgramFlash ? 4 : 3, {'D'}));
    ProgrammingRequest r;
    r.mode = mode;
    r.target = Target::Controller;
    if (mode == kModeProgramFlash) {
      FmfSpec recipe;
      recipe.codeBytes = 4000;
      recipe.gapEvery = 0;
      WriteFmf(b.dir / "app.FMF", recipe);
      r.path = (b.dir / "app.FMF").string();
      r.range = LoadRange{0x03C00000, 0x03FFFFFF, 2};
    } else {
      WriteHexImage(b.dir / "ram.HEX", 0x1000, PseudoRandomBytes(2048, 3));
      r.path = (b.dir / "ram.HEX").string();
      r.range = LoadRange{0, 0xFFFFF, 1};
    }
    Program(b, r, o);
  };
}

Runner ProgramBoxTarget(Target target) {
  return [target](Bench& b, Fault f, Outcome& o) {
    ProgrammingRequest r;
    r.mode = kModeProgramFlash;
    r.target = target;
    WriteHexImage(b.dir / "pic.HEX", 0, PseudoRandomBytes(0x800, 6));
    r.path = (b.dir / "pic.HEX").string();
    sim::BoxDevice device{sim::BoxOptions{}};
    b.Attach(device, OnWire(f, 4, {'4'}));  // reply 1 is the select-target answer
    b.Select(target);
    Program(b, r, o);
  };
}

Runner Dump() {
  return [](Bench& b, Fault f, Outcome& o) {
    // A line's refusal is a status reply: the code, LF, CR.
    const WireFaults w = OnWire(f, 3, {'E', '\n', '\r'}, {'2', '0', ':', 'Z', 'Z', '\n', '\r'});
    MemoryReadRequest r;
    const Bytes memory = b.DumpRam(r, 0x400, w);
    ReadEvents events;
    std::atomic<bool> stop{false};
    o.code = DumpControllerMemory(r, events, stop, b.clock);
    events.Into(o);
    // The file under its final name: whole on success, the earlier one on failure.
    const std::string want = o.code == rc::kSuccess ? std::string(memory.begin(), memory.end()) : kOldContent;
    if (ReadFileBytes(r.path) != want) o.fileProblem = "the file is neither whole nor the earlier one";
  };
}

Runner BoxReadBack() {
  return [](Bench& b, Fault f, Outcome& o) {
    sim::BoxOptions options;
    options.recordSize = 32;
    // The second record with one data byte changed: its checksum fails.
    Bytes corrupt = sim::FramedRecord(0x20, 0x00, Bytes(32, 0x00));
    corrupt[7] ^= 0x01;
    // Reply 1 is the select-target answer.
    const BootReadParams p = b.ReadBack(OnWire(f, 3, {'4'}, corrupt), options);
    const fs::path out = p.path;
    ReadEvents events;
    std::atomic<bool> stop{false};
    o.code = ReadBootImage(p, events, stop, nullptr, b.clock);
    events.Into(o);
    // What was read is kept beside a failed run's file, which stays as it
    // was; a whole read-back is 16 lines of 16 bytes, the last at 0xF0.
    const std::string now = ReadFileBytes(out);
    if (o.code != rc::kSuccess && (now != kOldContent || !fs::exists(PartialDumpPath(out.string())))) {
      o.fileProblem = "a failed read-back changed its file or kept nothing beside it";
    } else if (o.code == rc::kSuccess && (std::count(now.begin(), now.end(), '\n') != 16 ||
                                          now.find("\n0x000000F0  ") == std::string::npos)) {
      o.fileProblem = "the read-back file is not whole";
    }
  };
}

struct RamSink : RamEvents {
  void OnRamProgress(std::uint32_t) override {}
  void OnRamFinished(ResultCode c, const RamStatus& last) override {
    std::lock_guard l(m);
    ++finished;
    code = c;
    text = c == rc::kSuccess ? "" : RamFailureText(last);
  }
  std::mutex m;
  int finished = 0;
  ResultCode code = 0;
  std::string text;
};

Runner RamBank(bool test) {
  return [test](Bench& b, Fault f, Outcome& o) {
    sim::BoxOptions options;
    options.ramMs = 400;
    Bytes corrupt = sim::FramedRecord(0, test ? box_type::kTestRam : box_type::kLoadRam, Bytes(10, 0));
    corrupt[5] = 1;  // running, with a checksum that no longer fits
    // 20 running records and the final one: reply 21 ends the run, and a
    // load's refusal is a final record that says 'D'; a test's is the board's.
    WireFaults w = OnWire(f, f == Fault::DroppedAck || (f == Fault::Refusal && !test) ? 21 : 5,
                          sim::FramedRecord(0, box_type::kLoadRam, {0, 'D', 0, 0, 8, 0, 0, 0, 0, 0}), corrupt);
    if (f == Fault::Refusal) {
      options.ramFailAddress = 0x80000, options.ramFailData1 = 0x55AA, options.ramFailData2 = 0x55AB;
      if (test) w = {};
    }
    sim::BoxDevice device(options);
    b.Attach(device, w);
    BoxLink link(b.port, FastBox(), b.clock);
    RamSink sink;
    {
      ProgressWatcher watcher(link, sink);
      watcher.Start(test, 1);
      watcher.Join();
      if (watcher.Running()) o.threadsLeft = 1;
    }
    std::lock_guard l(sink.m);
    if (sink.finished != 1) o.fileProblem = "OnRamFinished came " + std::to_string(sink.finished) + " times";
    o.code = sink.code;
    o.texts.push_back(sink.code == rc::kDataMismatch ? sink.text : ResultText(sink.code));
  };
}

// The backup runs report a summary, not a code: '0' for success, '@' when
// the controller stopped answering, 'D' when a section ended otherwise.
ResultCode SummaryCode(const backup::RunSummary& s) {
  if (s.Success()) return rc::kSuccess;
  if (s.LinkLost()) return rc::kTimeout;
  return rc::kDataMismatch;
}

Runner BackupSave() {
  return [](Bench& b, Fault f, Outcome& o) {
    Bytes corrupt = sim::Rq750Frame("P1$12.5$0");
    corrupt[corrupt.size() - 2] ^= 0x01;  // checksum no longer fits
    WireFaults w = OnWire(f, 4, sim::Rq750Frame("5"), corrupt);
    w.strayByte = 0x02;  // a stray STX
    sim::Rq750Device device(sim::Rq750Options{}, sim::MakeRq750Content(1, true));
    b.Attach(device, w);
    const fs::path out = b.dir / "backup.xml";
    backup::SectionChoice all{true, true, true};
    const backup::RunSummary s = backup::RunSave(b.port, out.string(), all, {}, b.clock);
    o.code = SummaryCode(s);
    o.texts.push_back(s.Text());
    // The saved file always parses; when the run failed its summary must say
    // which section was not saved.
    tinyxml2::XMLDocument doc;
    std::string error;
    if (fs::exists(out) && backup::LoadBackupFile(out.string(), doc, error) != backup::FileState::Loaded) {
      o.fileProblem = "the saved backup does not read back: " + error;
    }
  };
}

// ---- the table ------------------------------------------------------------------------

// What a cell must come to, or why it does not apply.
struct Expect {
  ResultCode code = rc::kSuccess;
  std::string message;           // a text the person must have seen (part of it)
  std::uint32_t limitMs = 0;     // the documented limit the fault may cost
  const char* notApplicable = nullptr;
};

Expect Code(ResultCode code, std::uint32_t limitMs = 0) { return {code, ResultText(code), limitMs, nullptr}; }
Expect Says(ResultCode code, std::string message, std::uint32_t limitMs = 0) { return {code, std::move(message), limitMs, nullptr}; }
Expect NotApplicable(const char* why) { return {0, "", 0, why}; }

struct Row {
  const char* engine;
  Runner run;
  // One per fault, in kFaults order.
  std::vector<Expect> expect;
};

constexpr const char* kStatusBytes = "replies are single status bytes: a changed one is the refusal cell";
constexpr const char* kNoErase = "this run erases nothing";
constexpr const char* kBoxErase = "the box model erases at once: no erase delay to inject";
const std::string kSaveOk = "Save completed successfully";

std::vector<Expect> Programming(ResultCode refusal, bool erases, const char* slowEraseReason) {
  return {Says(rc::kSuccess, "Records successfully written!"),
          Code(refusal),
          Code(rc::kProgrammingTimeout, kAckLimitMs),
          Code(rc::kProgrammingTimeout, kAckLimitMs),
          Code(0x55),  // the stray byte read where an acknowledgement belongs
          NotApplicable(kStatusBytes),
          Code(rc::kLinkLost),
          erases ? Says(rc::kTimeout, load_text::kEraseTimeout, kEraseLimitMs) : NotApplicable(slowEraseReason),
          Code(rc::kLinkLost)};
}

std::vector<Expect> Records(ResultCode refusal, const std::string& refusalText, ResultCode corrupt, std::uint32_t silenceMs) {
  return {Code(rc::kSuccess),
          Says(refusal, refusalText),
          Code(rc::kTimeout, silenceMs),
          Code(rc::kTimeout, silenceMs),
          Code(rc::kSuccess),  // a stray byte between replies is passed over
          Code(corrupt),
          Code(rc::kLinkLost),
          NotApplicable(kNoErase),
          Code(rc::kLinkLost)};
}

// A backup run ends in a summary: '@' when the controller stopped
// answering, 'D' when it answered wrongly. A reply whose checksum does not
// fit is taken and counted, never refused.
std::vector<Expect> Backup(const std::string& ok, const std::string& failed) {
  return {Says(rc::kSuccess, ok),
          Says(rc::kDataMismatch, failed),
          Says(rc::kTimeout, failed, kBackupReplyTimeoutMs),
          Says(rc::kTimeout, failed, kBackupReplyTimeoutMs),
          Says(rc::kSuccess, ok),
          Says(rc::kSuccess, "1 reply had a checksum that did not match"),
          Says(rc::kTimeout, failed),
          NotApplicable(kNoErase),
          Says(rc::kTimeout, failed)};
}

std::vector<Row> Rows() {
  return {
      {"program RQ700", ProgramRq700(kModeProgramFlash), Programming('D', true, "")},
      {"RAM load RQ700", ProgramRq700(kModeLoad), Programming('D', false, kNoErase)},
      {"program PIC18F252", ProgramBoxTarget(Target::Pic18F252), Programming('4', false, kBoxErase)},
      // A line that is no memory line (a status reply in its place) is 'D'.
      {"dump", Dump(), Records('D', ResultText('D'), 'D', kLineLimitMs)},
      // A record replaced or lost leaves a gap in the addresses: 'B'.
      {"box read-back", BoxReadBack(), [] {
         auto e = Records('B', ResultText('B'), rc::kBadChecksum, kRecordSilenceMs);
         e[2] = Code('B');
         return e;
       }()},
      {"RAM bank load", RamBank(false), Records('D', "Failed at address = 0x80000", rc::kBadChecksum, kRecordSilenceMs)},
      {"RAM test", RamBank(true), Records('D', "Failed at address = 0x80000, Data1 = 0x55AA, Data2 = 0x55AB", rc::kBadChecksum, kRecordSilenceMs)},
      {"backup save", BackupSave(), Backup(kSaveOk, "The save did not complete")},
  };
}

}  // namespace

TEST(FaultMatrix, EveryEngineEndsCleanlyUnderEveryFault) {
  for (const Row& row : Rows()) {
    ASSERT_EQ(row.expect.size(), std::size(kFaults)) << row.engine;
    std::uint32_t healthyMs = 0;
    for (std::size_t k = 0; k < std::size(kFaults); ++k) {
      const Fault f = kFaults[k];
      const Expect& want = row.expect[k];
      if (want.notApplicable != nullptr) continue;
      SCOPED_TRACE(std::string(row.engine) + " / " + kFaultNames[k]);
      Bench bench;
      Outcome o;
      const std::uint32_t start = bench.clock.TickMs();
      row.run(bench, f, o);
      const std::uint32_t tookMs = bench.clock.TickMs() - start;
      if (f == Fault::None) healthyMs = tookMs;

      EXPECT_EQ(o.code, want.code);
      std::vector<std::string> said = o.texts;
      for (const auto& m : bench.op.messages) said.push_back(m.text);
      EXPECT_TRUE(std::any_of(said.begin(), said.end(),
                              [&](const std::string& t) { return t.find(want.message) != std::string::npos; }))
          << "never said \"" << want.message << "\"; last said: " << (said.empty() ? "" : said.back());
      EXPECT_LE(tookMs, healthyMs + want.limitMs + kMarginMs) << "on the fake clock";
      if ((o.code == rc::kTimeout || o.code == rc::kProgrammingTimeout) && want.limitMs > 0) {
        EXPECT_GE(tookMs, want.limitMs) << "timed out before its limit";
      }
      EXPECT_TRUE(bench.port.IsOpen());
      EXPECT_EQ(bench.wire && bench.wire->Lost(), f == Fault::Closed || f == Fault::Killed) << "the line lost";
      EXPECT_EQ(o.threadsLeft, 0) << "worker threads left";
      EXPECT_EQ(o.fileProblem, "");
    }
  }
}

}  // namespace tarnvale::test
