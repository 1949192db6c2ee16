// The programming and dump engines, their dialog models, their time limits
// at their real lengths (six minutes of erase, thirty seconds of silence while
// programming, one second per dump line) and the workflows, against a
// scripted controller on a fake clock that starts a minute before the wrap:
// every wait and time-out costs no real time and is checked to the
// millisecond. (The acknowledgement rules, the packet stream and "Load" with
// its run are checked end to end against the simulator, and through the
// GUI's dialogs.)
#include <gtest/gtest.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <tuple>

#include "flash/FakeDevice.h"
#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/ProgrammingEngine.h"
#include "core/flash/Workflows.h"
#include "core/formats/IntelHexFile.h"
#include "core/protocol/Packet.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "support/FakeLink.h"
#include "support/ImageGen.h"
#include "support/Pty.h"
#include "support/QuietLoadView.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

using Texts = std::vector<std::string>;
constexpr std::uint32_t kStartTick = 0xFFFF0000u;  // about a minute before the wrap

// A packet the program wrote, as the scripted devices see it.
SeenPacket Seen(const FakeLink::Bytes& w) {
  return {w[4], static_cast<std::uint16_t>(w[2] << 8 | w[3]), Bytes(w.begin() + 5, w.end() - 1), w};
}

struct RecordingLoadView : QuietLoadView {
  void SetTitle(const std::string& t) override { title = t; }
  void SetProgramTime(const std::string& t) override { programTime = t; }
  void SetStatus(const std::string& t) override { statuses.push_back(t); }
  void SetProgressRange(std::uint32_t u, std::uint32_t s) override { upper = u, step = s; }
  void SetProgress(std::uint32_t p) override { position = p; }
  void StepProgress() override { position += step, ++steps; }
  void ShowRunOnCompletion(bool v) override { runVisible = v; }
  void Close() override { closed = true; }
  std::string title, programTime;
  Texts statuses;
  std::uint32_t upper = 0, step = 0, position = 0, steps = 0;
  bool runVisible = true, closed = false;
};

struct RecordingReadView : MemoryReadView {
  void AddListText(const std::string& t) override { list.push_back(t); }
  void SetField1(const std::string& t) override { field1 = t; }
  void SetField2(const std::string&) override {}
  void SetProgressRange(std::uint32_t) override {}
  void SetProgressStep(std::uint32_t) override {}
  void SetProgress(std::uint32_t p) override { positions.push_back(p); }
  void EnableOk(bool on) override { ok = on; }
  void EnableRetry(bool on) override { retry = on; }
  void ShowRetry(bool visible) override { retryShown = visible; }
  void Close() override {}
  Texts list;
  std::string field1;
  std::vector<std::uint32_t> positions;
  bool ok = false, retry = false, retryShown = true;
};

class Engines : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("engine");
    FmfSpec recipe;  // code from the ROM start: 4 generation-4 pages' worth
    recipe.generation = 4;
    recipe.version = "5.01.00";
    recipe.codeBytes = 8000;
    recipe.gapEvery = 0;
    WriteFmf(fmf = dir / "small.FMF", recipe);
    link.AttachTo(port);
  }
  // Each packet gets `answer`'s reply `delayMs` later, or none for an empty
  // one; counts the packets whose replies are not yet due as in flight.
  void Answer(std::function<std::string(const SeenPacket&)> answer, std::uint32_t delayMs = 0) {
    link.SetResponder([this, answer, delayMs](const FakeLink::Bytes& w) -> std::vector<FakeLink::Reply> {
      const std::uint32_t now = clock.TickMs();
      std::erase_if(due, [now](std::uint32_t at) { return at <= now; });
      due.push_back(now + delayMs);
      maxInFlight = std::max(maxInFlight, due.size());
      const std::string reply = answer(Seen(w));
      if (reply.empty()) return {};
      return {{delayMs, FakeLink::Bytes(reply.begin(), reply.end())}};
    });
  }
  std::vector<SeenPacket> Packets() const {
    std::vector<SeenPacket> packets;
    for (const FakeLink::Bytes& w : link.Writes()) packets.push_back(Seen(w));
    return packets;
  }
  ProgrammingRequest Request(const std::filesystem::path& path) {
    ProgrammingRequest r;
    r.port = &port;
    r.mode = kModeProgramFlash;
    r.range = LoadRange{0x03C00000, 0x03FFFFFF, 2};
    r.target = Target::Controller;
    r.path = path.string();
    return r;
  }
  MemoryReadRequest DumpRequest(std::uint32_t end, const std::filesystem::path& path) {
    MemoryReadRequest r;
    r.port = &port;
    r.end = end;
    r.path = path.string();
    return r;
  }
  // The programming dialog's model run to its end.
  ResultCode RunModel(ProgrammingRequest r, RecordingLoadView& view, RecordingOperator& who,
                      bool* begun = nullptr) {
    LoadMemoryModel model(std::move(r), view, who, clock);
    model.Open();
    const bool started = model.Begin();
    if (begun) *begun = started;
    model.Wait();
    return model.Result();
  }
  // The read-back dialog's model opened and run to its first end.
  std::unique_ptr<MemoryReadModel> RunReadModel(const MemoryReadRequest& r) {
    auto model = std::make_unique<MemoryReadModel>(r, readView, op, clock);
    model->Open();
    model->Tick();
    model->Wait();
    return model;
  }
  // A fresh scripted controller on the port for one case of a table; the
  // fake time counts from its start.
  FakeLink& Fresh() {
    fresh.push_back(std::make_unique<FakeLink>(clock));
    fresh.back()->AttachTo(port);
    start = clock.TickMs();
    return *fresh.back();
  }
  std::uint32_t Elapsed() const { return clock.TickMs() - start; }
  std::filesystem::path dir, fmf;
  FakeClock clock{kStartTick};
  FakeLink link{clock};
  std::vector<std::unique_ptr<FakeLink>> fresh;
  std::uint32_t start = kStartTick;
  CommPort port;
  std::vector<std::uint32_t> due;
  std::size_t maxInFlight = 0;
  RecordingReadView readView;
  RecordingOperator op;
};

// (A refusal in mid-stream is run by the fault matrix.)
TEST_F(Engines, DialogModelThroughEraseErrorAndSuccess) {
  {  // Erase answered 'H'.
    Answer([](const SeenPacket&) { return std::string("H"); });
    RecordingLoadView view;
    EXPECT_EQ(RunModel(Request(fmf), view, op), rc::kEraseError);
    EXPECT_EQ(op.MessageTexts(), Texts{"Erase Error - 72"});
    EXPECT_EQ(view.statuses.back(), "Erasing Ended");
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(link.Writes(), (std::vector<FakeLink::Bytes>{{0x3A, 0, 0, 0, 0x06, 0xFA}}));
  }
  // Success, with late answers so that the three-packet window is used.
  const std::size_t before = link.Writes().size();
  maxInFlight = 0;
  Answer([](const SeenPacket&) { return std::string("0"); }, 20);
  RecordingLoadView view;
  RecordingOperator done;
  bool begun = false;
  EXPECT_EQ(RunModel(Request(fmf), view, done, &begun), rc::kSuccess);
  EXPECT_TRUE(begun);
  ASSERT_EQ(done.messages.size(), 1u);
  EXPECT_EQ(done.messages[0].text, "Success");
  EXPECT_EQ(done.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(view.statuses.back(), std::to_string(view.upper) + " Records successfully written!");
  EXPECT_EQ(view.position, view.upper);
  EXPECT_EQ(view.programTime, "0 Min. 2 Sec.") << "the answers' time, on the fake clock";
  EXPECT_FALSE(view.closed);
  EXPECT_EQ(maxInFlight, 3u) << "the window is used, never overrun";
  const auto packets = Packets();
  EXPECT_EQ(packets.size() - before, view.upper + 1u) << "the erase, then every packet";
  EXPECT_EQ(packets.back().type, 0x01);
  EXPECT_TRUE(std::none_of(packets.begin(), packets.end(), [](const SeenPacket& p) { return p.type == 0x05; }));

  // An image loaded beforehand is streamed as it is: the file is not read again.
  const auto copy = dir / "gone.FMF";
  std::filesystem::copy_file(fmf, copy);
  ProgrammingRequest again = Request(copy);
  LoadedImage loaded = LoadImage(again);
  ASSERT_EQ(loaded.code, rc::kFileOk);
  again.image = loaded.file;
  std::filesystem::remove(copy);
  RecordingLoadView second;
  EXPECT_EQ(RunModel(again, second, done), rc::kSuccess);
  EXPECT_EQ(second.upper, view.upper);
  EXPECT_TRUE(loaded.file->IsFinished());
}

// ---- dump ------------------------------------------------------------------

// How a target is read back decides the dialog's face: a target the memory
// dump reads gets the dump's texts and "Retry"; any other is read by its own
// routine and gets neither.
TEST_F(Engines, ReadBackDialogFollowsHowTheTargetIsReadBack) {
  for (const TargetInfo& row : AllTargets()) {
    SCOPED_TRACE(std::string(row.cliName));
    FakeLink silent(clock);  // nothing answers: a dump's page request times out
    silent.AttachTo(port);
    MemoryReadRequest r = DumpRequest(0x0F, dir / "face.Bin");
    r.target = row.target;
    r.reader = [](const MemoryReadRequest&, MemoryReadEvents& events, const std::atomic<bool>&) {
      events.OnLine("read by the box");
      events.OnDone(rc::kSuccess, 0x10);
    };
    readView = {};
    const auto model = RunReadModel(r);
    EXPECT_EQ(readView.retryShown, row.readsByMemoryDump);
    if (row.readsByMemoryDump) {
      EXPECT_EQ(model->Result(), rc::kTimeout);
      EXPECT_EQ(readView.list, (Texts{"Reading memory...this could take several minutes\r\n",
                                      "Memory Dump Aborted Unexpectedly\r\n"}));
      EXPECT_FALSE(silent.Writes().empty()) << "the dump asked the device";
    } else {
      EXPECT_EQ(model->Result(), rc::kSuccess);
      // The box's text file is named in full when it is done.
      EXPECT_EQ(readView.list, (Texts{"read by the box", "File saved to " + (dir / "face.Bin").string()}));
      EXPECT_TRUE(silent.Writes().empty()) << "the box routine, not the dump";
    }
  }
}

// A retry reads the whole range again into a fresh file. Its last line is a
// fill whose count is no whole number of patterns and that reaches past the
// end address: what lies past the end is cut, and the dump is complete.
TEST_F(Engines, DumpRetryRewritesTheFileFromTheStart) {
  std::atomic<int> run{1};
  Answer([&](const SeenPacket& p) {
    if (p.type == 0x04) return std::string("0\n\r");
    if (p.type != 0x11) return std::string("E");
    if (run == 1 && p.address == 0x0108) return std::string("00000000:\n\r");  // count 0
    if (p.address == 0x0100) return std::string("00000004.1234\n\r");
    if (p.address == 0x0104) return std::string("00000004:01020304\n\r");
    if (p.address == 0x0108) return std::string("0000000B.AABB\n\r");  // 11 of 2: 12, cut to 8
    return std::string("E");  // nothing may be asked past the end
  });
  // Memory sits at file offset = address, after the header text.
  MemoryReadRequest r = DumpRequest(0x10F, dir / "dump.Bin");
  r.start = 0x100;
  std::string header = DumpHeaderText(0x100);
  header.resize(0x100, '\0');
  const auto model = RunReadModel(r);
  EXPECT_EQ(model->Result(), rc::kDataMismatch);
  EXPECT_TRUE(readView.retry);
  EXPECT_EQ(readView.list, (Texts{"Reading memory...this could take several minutes\r\n",
                                  "Memory Dump Aborted Unexpectedly\r\n",
                                  "What was read is kept in " + PartialDumpPath(r.path)}));
  const std::string head("\x34\x12\x34\x12\x01\x02\x03\x04", 8);
  // The part read is kept under its own name, never under the chosen one.
  EXPECT_EQ(ReadFileBytes(PartialDumpPath(r.path)), header + head);
  EXPECT_FALSE(std::filesystem::exists(r.path));
  run = 2;
  model->Retry();
  EXPECT_FALSE(readView.retry);
  model->Wait();
  EXPECT_EQ(model->Result(), rc::kSuccess);
  EXPECT_EQ(ReadFileBytes(r.path), header + head + "\xBB\xAA\xBB\xAA\xBB\xAA\xBB\xAA");
  EXPECT_FALSE(std::filesystem::exists(PartialDumpPath(r.path)));  // stale once whole
  EXPECT_EQ(readView.list.back(), "File saved to " + r.path);
  EXPECT_EQ(readView.field1, "16 of 16 bytes saved");
  EXPECT_EQ(readView.positions.back(), 1000u);
  EXPECT_TRUE(readView.ok);
}

struct CountingEvents : ProgrammingEvents {
  void OnTotal(std::uint32_t) override {}
  void OnProgress(std::uint32_t) override {}
  void OnNotice(const std::string&) override {}
  void OnResult(ResultCode) override {}
};

// A cable pulled during the erase wait (minutes of time limit) ends the wait
// when the line goes, as a lost link, and the programming run says so.
TEST_F(Engines, APulledCableEndsTheEraseWaitAsALostLink) {
  const EngineTimings real;
  for (const bool wholeRun : {false, true}) {
    FakeLink& line = Fresh();
    line.SetResponder([](const Bytes&) { return std::vector<FakeLink::Reply>{}; });
    line.HangUp(30000);
    if (wholeRun) {
      ProgrammingRequest r = Request(fmf);
      r.timings = real;
      CountingEvents events;
      EXPECT_EQ(EraseAndProgramDevice(r, events, clock, StopToken()), rc::kLinkLost);
    } else {
      EXPECT_EQ(EraseFlash(port, real, nullptr, clock).kind, EraseOutcome::Kind::LinkLost);
    }
    EXPECT_LT(Elapsed(), 31000u) << "not the erase's " << real.eraseTimeoutMs << " ms";
  }
}

// A dump that crosses a 64 KB boundary asks for the next page and reads
// on from its start: each reply says which page and offset it was read at.
TEST_F(Engines, ADumpAcrossA64KBoundaryReadsOnFromTheNextPage) {
  unsigned page = 0xFFFF;
  std::vector<std::pair<unsigned, unsigned>> asked;
  Answer([&](const SeenPacket& p) {
    if (p.type == 0x04) {
      page = static_cast<unsigned>(p.data[0] << 8 | p.data[1]);
      return std::string("0\n\r");
    }
    if (p.type != 0x11) return std::string("E");
    asked.emplace_back(page, p.address);
    char line[32];
    std::snprintf(line, sizeof line, "00000004:%02XA0%02X%02X\n\r", page & 0xFF, p.address >> 8,
                  p.address & 0xFF);
    return std::string(line);
  });
  MemoryReadRequest r = DumpRequest(0x10007, dir / "page.Bin");
  r.start = 0xFFF8;
  EXPECT_EQ(RunReadModel(r)->Result(), rc::kSuccess);
  EXPECT_EQ(asked, (std::vector<std::pair<unsigned, unsigned>>{{0, 0xFFF8}, {0, 0xFFFC}, {1, 0}, {1, 4}}));
  EXPECT_EQ(ReadFileBytes(r.path).substr(0xFFF8),
            std::string("\x00\xA0\xFF\xF8\x00\xA0\xFF\xFC\x01\xA0\x00\x00\x01\xA0\x00\x04", 16));
}

// A dump file that cannot be made: the list names it in full, with why.
TEST_F(Engines, DumpIntoAMissingFolderNamesTheFile) {
  Answer([](const SeenPacket& p) { return p.type == 0x11 ? "00000008.FF\n\r" : "0\n\r"; });
  const MemoryReadRequest r = DumpRequest(0x0F, dir / "gone" / "dump.Bin");
  EXPECT_EQ(RunReadModel(r)->Result(), rc::kCantOpenOutput);
  ASSERT_EQ(readView.list.size(), 3u);
  EXPECT_EQ(readView.list[1], "Memory Dump Aborted Unexpectedly\r\n");
  EXPECT_EQ(readView.list[2].rfind(r.path + ": Can't Open Output File (", 0), 0u) << readView.list[2];
}

// ---- the limits --------------------------------------------------------------

enum class Engine { Erase, Programming, Dump };

// Keeps the size of the file on disk when "done" is heard: whoever hears it
// (the dialog's "File saved to", a retry) must find the file whole.
struct DoneEvents : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t, std::uint32_t) override {}
  void OnDone(ResultCode c, std::uint32_t) override {
    size = std::filesystem::file_size(c == rc::kSuccess ? path : PartialDumpPath(path));
  }
  std::string path;
  std::uintmax_t size = 0;
};

// Each limit is the longest silence of the controller, not the time of the
// whole run: an answer at exactly the limit is taken, the wait restarts with
// every answer, and a silence one step past the limit ends the run 1 ms past
// it. Six minutes for the erase, 30 s per acknowledgement, 1 s per dump line.
TEST_F(Engines, EachTimeLimitGivesEachAnswerTheWholeLimitAndNoMore) {
  const EngineTimings real;
  constexpr std::size_t kAll = 1000000;
  struct Case {
    const char* what;
    Engine engine;
    std::vector<std::uint32_t> delays;  // the n-th answer comes this long after its request (cycled)
    std::size_t answered;               // answers before the controller falls silent
    ResultCode expected;
    std::uintmax_t fileBytes = 0;       // a dump's file when done is heard
  };
  const Case cases[] = {
      {"erased at exactly six minutes", Engine::Erase, {360000}, kAll, rc::kSuccess},
      {"erase answer 100 ms too late", Engine::Erase, {360100}, kAll, rc::kTimeout},
      {"every ack exactly 30 s after its packet", Engine::Programming, {30000}, kAll, rc::kSuccess},
      {"every ack 30.1 s after its packet", Engine::Programming, {30100}, kAll, rc::kProgrammingTimeout},
      {"silent after ten acks", Engine::Programming, {100}, 10, rc::kProgrammingTimeout},
      {"every line at exactly the limit", Engine::Dump, {1000}, kAll, rc::kSuccess, 48},
      {"the second line 2 ms past the limit", Engine::Dump, {500, 1002, 500}, kAll, rc::kTimeout, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLink& line = Fresh();
    std::size_t seen = 0;
    std::vector<std::uint32_t> answersAt;
    line.SetResponder([&](const Bytes& packet) {
      std::string reply = "0";
      if (c.engine == Engine::Dump) {
        // A page selection is answered at once; only the memory lines are timed.
        if (packet[4] != packet_type::kMemoryLine) return std::vector<FakeLink::Reply>{{0, {'0', '\n', '\r'}}};
        reply = "00000010:000102030405060708090A0B0C0D0E0F\n\r";
      }
      if (seen >= c.answered) return std::vector<FakeLink::Reply>{};
      const std::uint32_t delay = c.delays[seen++ % c.delays.size()];
      answersAt.push_back(Elapsed() + delay);
      return std::vector<FakeLink::Reply>{{delay, Bytes(reply.begin(), reply.end())}};
    });
    ResultCode code = 0;
    std::uint32_t limit = 0;
    DoneEvents done;
    if (c.engine == Engine::Erase) {
      const EraseOutcome outcome = EraseFlash(port, real, nullptr, clock);
      code = outcome.kind == EraseOutcome::Kind::Erased ? rc::kSuccess : rc::kTimeout;
      EXPECT_EQ(line.Writes(), (std::vector<Bytes>{{':', 0, 0, 0, 0x06, 0xFA}}));
      limit = real.eraseTimeoutMs;
    } else if (c.engine == Engine::Programming) {
      CountingEvents events;
      code = ProgrammingEngine(Request(fmf), events, clock).Run();
      limit = real.ackTimeoutMs;
    } else {
      MemoryReadRequest r;
      r.port = &port;
      r.end = 0x2F;
      r.path = done.path = (dir / "dump.Bin").string();
      const std::atomic<bool> stop{false};
      code = DumpControllerMemory(r, done, stop, clock);
      limit = real.dumpLineTimeoutMs;
      EXPECT_EQ(done.size, c.fileBytes);
    }
    EXPECT_EQ(code, c.expected);
    if (c.expected == rc::kSuccess) {
      EXPECT_GE(Elapsed(), limit) << "the run may outlast one limit";
    } else {
      // The silence counts from the last answer that came.
      std::uint32_t lastAnswer = 0;
      for (std::uint32_t at : answersAt) {
        if (at <= Elapsed()) lastAnswer = std::max(lastAnswer, at);
      }
      EXPECT_EQ(Elapsed(), lastAnswer + limit + 1);
    }
  }
}

// An erase packet the line did not take whole fails at once: nothing can
// answer it, so the six-minute wait never starts. Only the serial device
// knows how long a write may wait for a peer that stops reading, so this runs
// on a pty nobody drains (about two seconds of that bound).
TEST(EraseTimeLimit, AFullRealLineIsAShortWrite) {
  PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 921600, Parity::None, 8, StopBits::One));
  // Output suspended: the line takes nothing more, however busy the machine
  // is (a filled buffer can drain late into the other side's and take more).
  ASSERT_EQ(::tcflow(port.Descriptor(), TCOOFF), 0);
  FakeClock clock;  // a write that went unnoticed would wait here for ever
  EXPECT_EQ(EraseFlash(port, EngineTimings{}, nullptr, clock).kind, EraseOutcome::Kind::ShortWrite);
}

// A silent controller and a stop (Ctrl-C, a closing window) at fake time T:
// the programming dialog's erase wait ends within one poll of T as stopped
// by the program, never as a time-out.
TEST_F(Engines, AStopEndsTheSilentEraseWaitWithinAPoll) {
  struct StopAt : QuietLoadView {
    StopAt(const FakeClock& c, std::uint32_t from, std::uint32_t at) : tick(c), startMs(from), stopAtMs(at) {}
    bool StopRequested() override { return tick.TickMs() - startMs >= stopAtMs; }
    const FakeClock& tick;
    std::uint32_t startMs, stopAtMs;
  };
  const EngineTimings real;
  ASSERT_LE(real.erasePollMs, 250u) << "a stop must be seen well within a second";
  for (const std::uint32_t stopAtMs : {0u, 1500u, 59999u, 200000u, 359000u}) {
    FakeLink& line = Fresh();
    line.SetResponder([](const Bytes&) { return std::vector<FakeLink::Reply>{}; });
    StopAt view(clock, start, stopAtMs);
    RecordingOperator who;
    // The image is read whole before the erase, so it must be a real one.
    ProgrammingRequest r = Request(fmf);
    r.timings = real;
    bool told = false;
    r.onOutcome = [&] { told = true; };
    LoadMemoryModel model(r, view, who, clock);
    model.Open();
    // The erase is the worker's: the start returns at once.
    ASSERT_TRUE(model.Begin()) << stopAtMs;
    model.Wait();
    EXPECT_EQ(model.Result(), rc::kStoppedByProgram) << stopAtMs;
    EXPECT_TRUE(told) << stopAtMs;
    EXPECT_TRUE(who.messages.empty()) << "no time-out message: "
                                      << ::testing::PrintToString(who.MessageTexts());
    EXPECT_GE(Elapsed(), stopAtMs) << stopAtMs;
    EXPECT_LE(Elapsed(), stopAtMs + real.erasePollMs + 10) << stopAtMs;
    EXPECT_EQ(line.Writes().size(), 1u) << "nothing after the erase packet";
  }
}

// ---- workflows ------------------------------------------------------------------

struct RecordingRunner : JobRunner {
  ResultCode RunProgramming(const ProgrammingRequest& r) override {
    programming.push_back(r);
    return rc::kSuccess;
  }
  ResultCode RunMemoryRead(const MemoryReadRequest& r) override {
    reads.push_back(r);
    return rc::kSuccess;
  }
  std::vector<ProgrammingRequest> programming;
  std::vector<MemoryReadRequest> reads;
};

struct CountingHost : TerminalHost {
  void SetPolling(bool on) override { polling.push_back(on); }
  void SetStatusPanes(const std::string&, const std::string&) override {}
  void FocusTerminal() override {}
  std::vector<bool> polling;
};

class Workflows : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("workflow");
    settings.SetCOMPort(pty.SlavePath());
    link = std::make_unique<LinkState>(settings, &op, &host);
    ASSERT_TRUE(link->OpenLink(Target::Controller));
  }
  // Every command ends with EndCommand: polling off first, back on last.
  void ExpectBracketClosed() {
    ASSERT_GE(host.polling.size(), 2u);
    EXPECT_FALSE(host.polling.front());
    EXPECT_TRUE(host.polling.back());
    host.polling.clear();
  }
  // Puts a scripted link over the fake clock under the primary port for the
  // next command (its end reopens the port on the pty): each packet gets
  // `answer`'s reply at once, or none for an empty one.
  FakeLink& ScriptedPrimary(std::function<std::string(const FakeLink::Bytes&)> answer) {
    scripted = std::make_unique<FakeLink>(clock);
    scripted->AttachTo(link->EnsurePrimaryPort());
    scripted->SetResponder([answer](const FakeLink::Bytes& w) -> std::vector<FakeLink::Reply> {
      const std::string reply = answer(w);
      if (reply.empty()) return {};
      return {{0, FakeLink::Bytes(reply.begin(), reply.end())}};
    });
    return *scripted;
  }
  // A controller of revision C with nothing in flash.
  void ErasedController() {
    memory.Put(0x03FFFFEE, {'C'});
    device = std::make_unique<FakeDevice>(pty, [this](const SeenPacket& p) { return memory.Answer(p); });
  }
  std::filesystem::path dir;
  PtyPair pty;
  MemoryController memory;
  std::unique_ptr<FakeDevice> device;
  ConfigData settings;
  RecordingOperator op;
  CountingHost host;
  std::unique_ptr<LinkState> link;
  RecordingRunner runner;
  FakeClock clock;
  std::unique_ptr<FakeLink> scripted;
};

TEST_F(Workflows, FlashWithoutAControllerExplainsFlashProgramMode) {
  const FakeLink& silent = ScriptedPrimary([](const FakeLink::Bytes&) { return std::string(); });
  EXPECT_EQ(FlashRQ700Series(*link, op, runner, {}, clock), rc::kTimeout);
  EXPECT_EQ(silent.Writes().size(), 1u) << "the page request, then nothing more";
  EXPECT_GT(clock.TickMs(), 1000u) << "the page request's own limit ran out";
  ASSERT_EQ(op.MessageTexts(), Texts{flash_text::kNoCommunication});
  EXPECT_TRUE(runner.programming.empty());
  ExpectBracketClosed();
}

TEST_F(Workflows, FlashOfAnErasedControllerGoesOnAfterNoApplication) {
  memory.Put(0x03FFFFB0, Bytes(16, 0xFF));  // erased boot block: serial length clamped
  ErasedController();
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.model = "RQ720";
  recipe.version = "4.13.00";
  WriteFmf(dir / "rq720.FMF", recipe);
  op.openFile = (dir / "rq720.FMF").string();
  op.answers = {true};
  EXPECT_EQ(FlashRQ700Series(*link, op, runner), rc::kSuccess);
  EXPECT_EQ(op.MessageTexts(), Texts{"No Application in Memory"});
  ASSERT_EQ(op.questions.size(), 1u);
  EXPECT_EQ(op.questions[0].caption, "MAC Address Concerns");
  EXPECT_NE(op.questions[0].text.find("Serial # " + std::string(15, '\xFF') + ". Knowing"), std::string::npos);
  ASSERT_EQ(runner.programming.size(), 1u);
  const ProgrammingRequest& r = runner.programming[0];
  EXPECT_EQ(std::tie(r.mode, r.target), std::make_tuple(kModeProgramFlash, Target::Controller));
  ASSERT_TRUE(r.range);
  EXPECT_EQ(std::tie(r.range->base, r.range->end, r.range->lanes),
            std::make_tuple(0x03C00000u, 0x03FFFFFFu, std::uint8_t{2}));
  // The image the landmarks were read from goes to the engine, loaded.
  ASSERT_NE(r.image, nullptr);
  EXPECT_EQ(std::make_tuple(r.image->BaseAddress(), r.image->EndAddress()), std::make_tuple(0x03C00000u, 0x03FFFFFFu));
  ExpectBracketClosed();
}

TEST_F(Workflows, FlashRefusesFilesItCannotUse) {
  ErasedController();
  const std::vector<std::pair<std::string, std::string>> cases{
      {"16 bit files aren't supported by this application", HexText().ExtendedSegment(0x1000).Data(0, {1}).EndOfFile().Text()},
      {"Un-supported hex record format", HexText().Data(0, {1}).EndOfFile().Text()},
      {"This application only supports Version 1 or higher software", HexText().ExtendedLinear(0x03C1).Data(0, {1}).EndOfFile().Text()},
      {"Internal Hex File Error", "nonsense\n"},
  };
  for (const auto& [text, hex] : cases) {
    SCOPED_TRACE(text);
    op.messages.clear();
    WriteFileBytes(dir / "bad.FMF", hex);
    op.openFile = (dir / "bad.FMF").string();
    EXPECT_NE(FlashRQ700Series(*link, op, runner), rc::kSuccess);
    ASSERT_EQ(op.MessageTexts().size(), 1u);
    EXPECT_EQ(op.MessageTexts()[0].rfind(text, 0), 0u) << op.MessageTexts()[0];
  }
  // A file that never ends is named as such, with its path and the reason,
  // before anything is asked of the controller. (Each kind of file and its
  // reason are the file layer's.)
  const std::string fifo = (dir / "fifo.FMF").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  op.messages.clear();
  op.openFile = fifo;
  EXPECT_EQ(FlashRQ700Series(*link, op, runner), rc::kCantOpenInput);
  EXPECT_EQ(op.MessageTexts(), Texts{"Can't Open Input File: " + fifo + " (is a FIFO, not a regular file)"});
  op.messages.clear();
  op.openFile.reset();
  EXPECT_EQ(FlashRQ700Series(*link, op, runner), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), Texts{"Invalid File"});
  EXPECT_TRUE(runner.programming.empty());
}

TEST_F(Workflows, LoadAlwaysEndsTheCommand) {
  ErasedController();  // load asks the controller's identity first
  EXPECT_EQ(LoadMemoryImage(*link, op, runner), kStoppedByOperator);  // cancelled
  ExpectBracketClosed();
  WriteFileBytes(dir / "bad.HEX", ":zz\n");
  op.openFile = (dir / "bad.HEX").string();
  EXPECT_NE(LoadMemoryImage(*link, op, runner), rc::kSuccess);
  ASSERT_EQ(op.MessageTexts().size(), 2u);
  EXPECT_EQ(op.MessageTexts()[0], "Invalid File");
  EXPECT_EQ(op.MessageTexts()[1].rfind("Internal Hex File Error - " + (dir / "bad.HEX").string(), 0), 0u);
  ExpectBracketClosed();
  // Without extended records the range starts at 0.
  HexText().Data(0x0100, {1, 2, 3}).EndOfFile().WriteTo(dir / "plain.HEX");
  op.openFile = (dir / "plain.HEX").string();
  EXPECT_EQ(LoadMemoryImage(*link, op, runner), rc::kSuccess);
  ASSERT_EQ(runner.programming.size(), 1u);
  EXPECT_EQ(runner.programming[0].mode, kModeLoad);
  EXPECT_EQ(std::tie(runner.programming[0].range->base, runner.programming[0].range->end),
            std::make_tuple(0u, 0x102u));
  // The bytes that were measured are the image the run gets, loaded for a
  // memory load (it ends with a start address packet); the run no longer
  // needs the file.
  const std::shared_ptr<IntelHexFile> image = runner.programming[0].image;
  ASSERT_NE(image, nullptr);
  std::filesystem::remove(dir / "plain.HEX");
  EXPECT_EQ(std::make_tuple(image->BaseAddress(), image->EndAddress(), image->Lanes()),
            std::make_tuple(0u, 0x102u, std::uint8_t{2}));
  EXPECT_EQ(std::make_tuple(image->ImageByte(0x100), image->ImageByte(0x101), image->ImageByte(0x102)),
            std::make_tuple(1u, 2u, 3u));
  EXPECT_FALSE(image->IsFinished());
  ExpectBracketClosed();
}

TEST_F(Workflows, DumpAcceptsOnlyAProperRangeReply) {
  struct Case {
    std::string reply;
    std::uint32_t start, end;  // 0, 0: refused
  };
  const std::vector<Case> cases{
      {"03800000 03FFFFFF 00800000\n\r", 0x03800000, 0x03FFFFFF},
      {"03800000 03FFFFFF 008000000\n\r", 0, 0},           // 27 characters
      {"03800000 037FFFFF 00800000\n\r", 0, 0},            // end below start
      {"", 0, 0},
  };
  op.saveFile = (dir / "out.Bin").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ScriptedPrimary([&c](const FakeLink::Bytes&) { return c.reply; });
    op.messages.clear();
    runner.reads.clear();
    const ResultCode code = DumpRQ700SeriesMemory(*link, op, runner, {}, clock);
    if (c.end != 0) {
      EXPECT_EQ(code, rc::kSuccess);
      ASSERT_EQ(runner.reads.size(), 1u);
      EXPECT_EQ(std::tie(runner.reads[0].start, runner.reads[0].end, runner.reads[0].target),
                std::make_tuple(c.start, c.end, Target::Controller));
      EXPECT_TRUE(op.messages.empty());
    } else {
      EXPECT_NE(code, rc::kSuccess);
      EXPECT_TRUE(runner.reads.empty());
      EXPECT_EQ(op.MessageTexts(), Texts{"Communication Error with RQ700"});
    }
  }
  ScriptedPrimary([&](const FakeLink::Bytes&) { return cases[0].reply; });
  op.saveFile.reset();
  op.messages.clear();
  EXPECT_EQ(DumpRQ700SeriesMemory(*link, op, runner, {}, clock), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), Texts{"Invalid File"});
}

}  // namespace
}  // namespace tarnvale::test
