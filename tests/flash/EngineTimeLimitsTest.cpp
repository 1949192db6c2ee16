// The engines' time limits at their real lengths (six minutes of erase,
// thirty seconds of silence while programming, one second per dump line),
// run on a fake clock against a scripted controller: answers at and just past
// each limit, checked to the millisecond, without waiting.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <string>
#include <tuple>
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

struct CountingEvents : ProgrammingEvents {
  void OnTotal(std::uint32_t) override {}
  void OnProgress(std::uint32_t) override {}
  void OnNotice(const std::string&) override {}
  void OnResult(ResultCode) override {}
};

// Each limit is the longest silence of the controller, not the time of the
// whole run: an answer at exactly the limit is taken, the wait restarts with
// every answer, and a silence one step past the limit ends the run 1 ms past
// it. Six minutes for the erase, 30 s per acknowledgement, 1 s per dump line.
TEST(TimeLimits, EachAnswerHasTheWholeLimitAndNoMore) {
  const EngineTimings real;
  ASSERT_EQ(std::make_tuple(real.eraseTimeoutMs, real.ackTimeoutMs, real.dumpLineTimeoutMs),
            std::make_tuple(360000u, 30000u, 1000u));
  const std::filesystem::path dir = MakeTempDir("limits");
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
    Controller d;
    std::size_t seen = 0;
    std::vector<std::uint32_t> answersAt;
    d.link.SetResponder([&](const Bytes& packet) {
      std::string reply = "0";
      if (c.engine == Engine::Dump) {
        // A page selection is answered at once; only the memory lines are timed.
        if (packet[4] != packet_type::kMemoryLine) return std::vector<FakeLink::Reply>{{0, {'0', '\n', '\r'}}};
        reply = "00000010:000102030405060708090A0B0C0D0E0F\n\r";
      }
      if (seen >= c.answered) return std::vector<FakeLink::Reply>{};
      const std::uint32_t delay = c.delays[seen++ % c.delays.size()];
      answersAt.push_back(d.Elapsed() + delay);
      return std::vector<FakeLink::Reply>{{delay, Bytes(reply.begin(), reply.end())}};
    });
    ResultCode code = 0;
    std::uint32_t limit = 0;
    DoneEvents done;
    if (c.engine == Engine::Erase) {
      const EraseOutcome outcome = EraseFlash(d.port, real, nullptr, d.clock);
      code = outcome.kind == EraseOutcome::Kind::Erased ? rc::kSuccess : rc::kTimeout;
      EXPECT_EQ(d.link.Writes(), (std::vector<Bytes>{{':', 0, 0, 0, 0x06, 0xFA}}));
      limit = real.eraseTimeoutMs;
    } else if (c.engine == Engine::Programming) {
      CountingEvents events;
      code = ProgrammingEngine(d.Request("limits"), events, d.clock).Run();
      limit = real.ackTimeoutMs;
    } else {
      MemoryReadRequest r;
      r.port = &d.port;
      r.end = 0x2F;
      r.path = done.path = (dir / "dump.Bin").string();
      const std::atomic<bool> stop{false};
      code = DumpControllerMemory(r, done, stop, d.clock);
      limit = real.dumpLineTimeoutMs;
      EXPECT_EQ(done.size, c.fileBytes);
    }
    EXPECT_EQ(code, c.expected);
    if (c.expected == rc::kSuccess) {
      EXPECT_GE(d.Elapsed(), limit) << "the run may outlast one limit";
    } else {
      // The silence counts from the last answer that came.
      std::uint32_t lastAnswer = 0;
      for (std::uint32_t at : answersAt) {
        if (at <= d.Elapsed()) lastAnswer = std::max(lastAnswer, at);
      }
      EXPECT_EQ(d.Elapsed(), lastAnswer + limit + 1);
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

}  // namespace
}  // namespace tarnvale::test
