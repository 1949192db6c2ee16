// The engines' time limits at their real lengths (six minutes of erase,
// thirty seconds of silence while programming, one second per dump line),
// run on a fake clock against a scripted controller: answers just inside and
// just past each limit, checked to the millisecond, without waiting.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <numeric>
#include <string>
#include <vector>

#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/ProgrammingEngine.h"
#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"
#include "support/FakeLink.h"
#include "support/ImageGen.h"
#include "support/Pty.h"
#include "support/QuietLoadView.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

using Bytes = FakeLink::Bytes;
constexpr std::uint32_t kStartTick = 0xFFFF0000u;  // about a minute before the wrap

struct Controller {
  Controller() { link.AttachTo(port); }
  std::uint32_t Elapsed() const { return clock.TickMs() - kStartTick; }
  // A flash programming request for a small image made in `folder`.
  ProgrammingRequest Request(const char* folder) {
    FmfSpec recipe;
    recipe.generation = 4;
    recipe.version = "5.01.00";
    recipe.codeBytes = 2000;
    recipe.gapEvery = 0;
    const std::filesystem::path fmf = MakeTempDir(folder) / "small.FMF";
    WriteFmf(fmf, recipe);
    ProgrammingRequest r;
    r.port = &port;
    r.mode = kModeProgramFlash;
    r.range = LoadRange{0x03C00000, 0x03FFFFFF, 2};
    r.target = Target::Controller;
    r.path = fmf.string();
    return r;
  }
  FakeClock clock{kStartTick};
  FakeLink link{clock};
  CommPort port;
};

// ---- erase ------------------------------------------------------------------

struct ElapsedTicks : EraseObserver {
  void Pump() override { ++pumps; }
  void Elapsed(std::uint32_t s) override { seconds.push_back(s); }
  int pumps = 0;
  std::vector<std::uint32_t> seconds;
};

TEST(EraseTimeLimit, SixMinutesForTheAnswer) {
  const EngineTimings real;
  ASSERT_EQ(real.eraseTimeoutMs, 360000u);
  struct Case {
    const char* what;
    bool answers;
    std::uint32_t answerAfterMs;
    std::uint8_t answer;
    EraseOutcome::Kind kind;
    std::uint32_t returnsAtMs;
  };
  const Case cases[] = {
      {"erased after 5 min 59.9 s", true, 359900, '0', EraseOutcome::Kind::Erased, 359900},
      {"erased at exactly six minutes", true, 360000, '0', EraseOutcome::Kind::Erased, 360000},
      {"refused after 2 s", true, 2000, 'H', EraseOutcome::Kind::Error, 2000},
      {"answer 100 ms too late", true, 360100, '0', EraseOutcome::Kind::Timeout, 360001},
      {"no answer", false, 0, 0, EraseOutcome::Kind::Timeout, 360001},
  };
  for (const Case& c : cases) {
    Controller d;
    d.link.SetResponder([&](const Bytes&) {
      return c.answers ? std::vector<FakeLink::Reply>{{c.answerAfterMs, {c.answer}}} : std::vector<FakeLink::Reply>{};
    });
    ElapsedTicks ticks;
    const EraseOutcome outcome = EraseFlash(d.port, real, &ticks, d.clock);
    EXPECT_EQ(outcome.kind, c.kind) << c.what;
    EXPECT_EQ(d.Elapsed(), c.returnsAtMs) << c.what;
    EXPECT_EQ(outcome.elapsedSeconds, c.returnsAtMs / 1000) << c.what;
    if (c.kind != EraseOutcome::Kind::Timeout) {
      EXPECT_EQ(outcome.reply, c.answer) << c.what;
    }
    EXPECT_EQ(d.link.Writes(), (std::vector<Bytes>{{':', 0, 0, 0, 0x06, 0xFA}})) << c.what;
    // The dialog hears the seconds go by throughout the wait, once a second.
    if (c.returnsAtMs >= 300000) {
      ASSERT_FALSE(ticks.seconds.empty()) << c.what;
      EXPECT_GE(ticks.seconds.back(), c.returnsAtMs / 1000 - 1) << c.what;
      EXPECT_TRUE(std::is_sorted(ticks.seconds.begin(), ticks.seconds.end())) << c.what;
      EXPECT_GE(ticks.pumps, static_cast<int>(c.returnsAtMs / 100) - 1) << c.what;
    }
  }
}

// An erase packet the line did not take whole fails at once: nothing can
// answer it, so the six-minute wait never starts.
TEST(EraseTimeLimit, AShortWriteFailsAtOnce) {
  struct FullLine final : platform::Stream {
    explicit FullLine(const FakeClock& c) : clock(c) {}
    std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
    std::size_t Write(const std::uint8_t*, std::size_t count) override { return count - 1; }
    std::size_t BytesWaiting() override { return 0; }
    bool Purge() override { return true; }
    bool WaitReadable(std::uint32_t ms) override {
      clock.Advance(ms);
      return false;
    }
    bool Close() override { return true; }
    int Descriptor() const override { return -1; }
    bool IsTcp() const override { return false; }
    const FakeClock& clock;
  };
  Controller d;
  d.port.Attach(std::make_unique<FullLine>(d.clock));
  EXPECT_EQ(EraseFlash(d.port, EngineTimings{}, nullptr, d.clock).kind, EraseOutcome::Kind::ShortWrite);
  EXPECT_EQ(d.Elapsed(), 0u);
}

// The same over a real line nobody drains: only the serial device knows how
// long a write may wait for the peer, so this one case runs on a pty (about
// two seconds of that bound).
TEST(EraseTimeLimit, AFullRealLineIsAShortWrite) {
  PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 921600, Parity::None, 8, StopBits::One));
  // Fill the line straight through the descriptor until it takes nothing for 50 ms.
  const std::vector<std::uint8_t> filler(4096, 'j');
  for (int i = 0; i < 5000; ++i) {
    if (::write(port.Descriptor(), filler.data(), filler.size()) > 0) continue;
    pollfd p{port.Descriptor(), POLLOUT, 0};
    if (::poll(&p, 1, 50) <= 0) break;
  }
  FakeClock clock;  // a write that went unnoticed would wait here for ever
  EXPECT_EQ(EraseFlash(port, EngineTimings{}, nullptr, clock).kind, EraseOutcome::Kind::ShortWrite);
}

// A silent controller and a stop (Ctrl-C, a closing window) at fake time T:
// the programming dialog's erase wait ends within one poll of T as stopped
// by the program, never as a time-out, having counted every second waited.
TEST(EraseTimeLimit, AStopEndsTheSilentWaitWithinAPoll) {
  struct StopAt : QuietLoadView {
    StopAt(const FakeClock& c, std::uint32_t at) : clock(c), stopAtMs(at) {}
    bool StopRequested() override { return clock.TickMs() - kStartTick >= stopAtMs; }
    void EraseWaited(std::uint32_t s) override { seconds.push_back(s); }
    void SetEraseTime(const std::string& t) override { eraseTimes.push_back(t); }
    const FakeClock& clock;
    std::uint32_t stopAtMs;
    std::vector<std::uint32_t> seconds;
    std::vector<std::string> eraseTimes;
  };
  const EngineTimings real;
  ASSERT_LE(real.erasePollMs, 250u) << "a stop must be seen well within a second";
  for (const std::uint32_t stopAtMs : {0u, 1500u, 59999u, 200000u, 359000u}) {
    Controller d;
    d.link.SetResponder([](const Bytes&) { return std::vector<FakeLink::Reply>{}; });
    StopAt view(d.clock, stopAtMs);
    RecordingOperator op;
    // The image is read whole before the erase, so it must be a real one.
    ProgrammingRequest r = d.Request("stoperase");
    r.timings = real;
    bool told = false;
    r.onOutcome = [&] { told = true; };
    LoadMemoryModel model(r, view, op, d.clock);
    model.Open();
    // The erase is the worker's: the start returns at once.
    ASSERT_TRUE(model.Begin()) << stopAtMs;
    model.Wait();
    EXPECT_EQ(model.Result(), rc::kStoppedByProgram) << stopAtMs;
    EXPECT_TRUE(told) << stopAtMs;
    EXPECT_TRUE(op.messages.empty()) << "no time-out message: " << ::testing::PrintToString(op.MessageTexts());
    EXPECT_GE(d.Elapsed(), stopAtMs) << stopAtMs;
    EXPECT_LE(d.Elapsed(), stopAtMs + real.erasePollMs + 10) << stopAtMs;
    // 0 at once, then every whole second up to the stop, each once.
    std::vector<std::uint32_t> expected(d.Elapsed() / 1000 + 1);
    std::iota(expected.begin(), expected.end(), 0u);
    EXPECT_EQ(view.seconds, expected) << stopAtMs;
    ASSERT_FALSE(view.eraseTimes.empty());
    EXPECT_EQ(view.eraseTimes.back(), FormatElapsed(expected.back())) << stopAtMs;
    EXPECT_EQ(d.link.Writes().size(), 1u) << "nothing after the erase packet";
  }
}

// ---- programming ------------------------------------------------------------

struct CountingEvents : ProgrammingEvents {
  void OnTotal(std::uint32_t n) override { total = n; }
  void OnProgress(std::uint32_t) override {}
  void OnNotice(const std::string&) override {}
  void OnResult(ResultCode) override {}
  std::uint32_t total = 0;
};

// The 30 s limit is the longest silence of the controller, not the time of
// the whole stream: it starts again with every acknowledgement.
TEST(ProgrammingTimeLimit, SilenceNotTheWholeRunIsLimited) {
  const EngineTimings real;
  ASSERT_EQ(real.ackTimeoutMs, 30000u);

  struct Case {
    const char* what;
    std::uint32_t ackAfterMs;   // every packet is answered this long after it went out
    std::size_t answeredPackets;  // packets answered before the controller falls silent
    ResultCode expected;
  };
  constexpr std::size_t kAll = 1000000;
  const Case cases[] = {
      {"every answer 29.9 s after its packet", 29900, kAll, rc::kSuccess},
      {"every answer exactly 30 s after its packet", 30000, kAll, rc::kSuccess},
      {"every answer 30.1 s after its packet", 30100, kAll, rc::kProgrammingTimeout},
      {"silent after ten answers", 100, 10, rc::kProgrammingTimeout},
  };
  for (const Case& c : cases) {
    Controller d;
    std::size_t seen = 0;
    std::uint32_t lastAnswerAt = 0;
    d.link.SetResponder([&](const Bytes&) {
      if (++seen > c.answeredPackets) return std::vector<FakeLink::Reply>{};
      lastAnswerAt = d.Elapsed() + c.ackAfterMs;
      return std::vector<FakeLink::Reply>{{c.ackAfterMs, {'0'}}};
    });
    CountingEvents events;
    ProgrammingEngine engine(d.Request("limits"), events, d.clock);
    EXPECT_EQ(engine.Run(), c.expected) << c.what;
    ASSERT_GT(events.total, 20u) << c.what;
    if (c.expected == rc::kSuccess) {
      EXPECT_EQ(engine.Acknowledged(), events.total) << c.what;
      EXPECT_GT(d.Elapsed(), events.total / 3 * real.ackTimeoutMs / 2) << c.what << ": the run outlasts the limit";
    } else if (c.answeredPackets != kAll) {
      EXPECT_EQ(engine.Acknowledged(), c.answeredPackets) << c.what;
      EXPECT_EQ(d.Elapsed(), lastAnswerAt + real.ackTimeoutMs + 1) << c.what;
    } else {
      EXPECT_EQ(engine.Acknowledged(), 0u) << c.what;
      EXPECT_EQ(d.Elapsed(), real.ackTimeoutMs + 1) << c.what;
    }
  }
}

// ---- dump -------------------------------------------------------------------

// Keeps the code and the size of the file on disk when "done" is heard:
// whoever hears it (the dialog's "File saved to", a retry) must find the
// file whole.
struct DoneEvents : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t, std::uint32_t) override {}
  void OnDone(ResultCode c, std::uint32_t) override {
    code = c;
    size = std::filesystem::file_size(c == rc::kSuccess ? path : PartialDumpPath(path));
  }
  std::string path;
  ResultCode code = 0;
  std::uintmax_t size = 0;
};

// Each memory line has its own second; a dump of many lines takes as long
// as it takes. A dump cut short keeps what it read under the partial name
// only: an earlier whole dump of the same name stays.
TEST(DumpLineTimeLimit, EachLineHasItsOwnLimit) {
  const std::filesystem::path dir = MakeTempDir("dumplimits");
  const EngineTimings real;
  ASSERT_EQ(real.dumpLineTimeoutMs, 1000u);
  struct Case {
    const char* what;
    std::uint32_t lineAfterMs[3];
    ResultCode expected;
    std::uint32_t returnsAtMs;
    std::uintmax_t fileBytes;
  };
  const Case cases[] = {
      {"every line after 0.9 s", {900, 900, 900}, rc::kSuccess, 2700, 48},
      {"every line at exactly the limit", {1000, 1000, 1000}, rc::kSuccess, 3000, 48},
      {"the second line 2 ms past the limit", {500, 1002, 500}, rc::kTimeout, 500 + 1001, 16},
  };
  for (const Case& c : cases) {
    Controller d;
    std::size_t line = 0;
    d.link.SetResponder([&](const Bytes& packet) {
      if (packet.size() < 6 || packet[4] != packet_type::kMemoryLine) {
        return std::vector<FakeLink::Reply>{{0, {'0', '\n', '\r'}}};
      }
      const std::string text = "00000010:000102030405060708090A0B0C0D0E0F\n\r";
      return std::vector<FakeLink::Reply>{{c.lineAfterMs[line++ % 3], Bytes(text.begin(), text.end())}};
    });
    MemoryReadRequest r;
    r.port = &d.port;
    r.end = 0x2F;
    r.path = (dir / "dump.Bin").string();
    DoneEvents events;
    events.path = r.path;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(DumpControllerMemory(r, events, stop, d.clock), c.expected) << c.what;
    EXPECT_EQ(events.code, c.expected) << c.what;
    EXPECT_EQ(d.Elapsed(), c.returnsAtMs) << c.what;
    EXPECT_EQ(events.size, c.fileBytes) << c.what;
    EXPECT_EQ(std::filesystem::file_size(r.path), 48u) << c.what;
  }
}

}  // namespace
}  // namespace tarnvale::test
