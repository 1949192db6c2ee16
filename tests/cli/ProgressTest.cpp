// Rate, data rate and time left of the CLI's progress, on a fake clock; and
// how each style shows the erase wait.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/CliOperator.h"
#include "cli/Progress.h"
#include "core/flash/Verify.h"
#include "flash/FakeDevice.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::cli {
namespace {

// A clock the test moves by hand.
struct FakeSeconds {
  double now = 100.0;
};

// Four packets of 32, 32, 16 and 2 (an address packet) image bytes: after
// k of them the run says 0, 32, 64, 80, 80.
TEST(RateMeter, GivesRateBytesAndTimeLeft) {
  const struct {
    const char* name;
    double total;
    std::optional<std::uint64_t> given;  // the bytes as the run's event gave them with `done`
    bool unitsAreBytes;
    double elapsed;  // seconds from Start to the sample
    double done;
    // expected
    double fraction, perSecond;
    bool bytesKnown;
    double bytes, bytesPerSecond;
    double secondsLeft;  // negative: unknown
    double earlierRun = 0;  // seconds an earlier run was started before this one
  } cases[] = {
      // Nothing done yet, some time gone: no rate, no time left.
      {"start", 4, 0, false, 2.0, 0, 0, 0, true, 0, 0, -1},
      // Something done but no time gone: no infinite rate.
      {"zero elapsed", 4, 64, false, 0.0, 2, 0.5, 0, true, 64, 0, -1},
      // Half in 4 s: 0.5 packets/s, 16 bytes/s, 4 s left.
      {"steady", 4, 64, false, 4.0, 2, 0.5, 0.5, true, 64, 16, 4},
      // A count beyond the total is held at the total.
      {"over count", 4, 80, false, 8.0, 9, 1.0, 0.5, true, 80, 10, 0},
      // Without bytes from the run the records carry no byte figures.
      {"records only", 200, std::nullopt, false, 10.0, 50, 0.25, 5, false, 0, 0, 30},
      // A read counts bytes: the units are the bytes.
      {"read bytes", 4096, std::nullopt, true, 2.0, 1024, 0.25, 512, true, 1024, 512, 6},
      // A clock that goes back (a replaced clock, a suspend): no negative rate or time left.
      {"clock going back", 10, std::nullopt, false, -5.0, 3, 0.3, 0, false, 0, 0, -1},
      // Start begins a new run: measured from its own start, not the first one's.
      {"started again", 10, std::nullopt, false, 2.0, 4, 0.4, 2.0, false, 0, 0, 3, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSeconds clock;
    RateMeter meter([&clock] { return clock.now; });
    meter.Start(c.total, c.unitsAreBytes);
    clock.now += c.earlierRun;
    meter.Start(c.total, c.unitsAreBytes);
    clock.now += c.elapsed;
    const RateSample s = meter.At(c.done, c.given);
    EXPECT_DOUBLE_EQ(s.fraction, c.fraction);
    EXPECT_DOUBLE_EQ(s.perSecond, c.perSecond);
    EXPECT_EQ(s.bytesKnown, c.bytesKnown);
    EXPECT_DOUBLE_EQ(s.bytes, c.bytes);
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, c.bytesPerSecond);
    if (c.secondsLeft < 0) {
      EXPECT_LT(s.secondsLeft, 0) << "time left should be unknown";
    } else {
      EXPECT_DOUBLE_EQ(s.secondsLeft, c.secondsLeft);
    }
  }
}

RateSample Sample(double fraction, double perSecond, bool bytesKnown, double bytesPerSecond, double left) {
  RateSample s;
  s.fraction = fraction;
  s.perSecond = perSecond;
  s.bytesKnown = bytesKnown;
  s.bytesPerSecond = bytesPerSecond;
  s.secondsLeft = left;
  return s;
}

TEST(ProgressLine, ShowsRecordsDataRateAndTimeLeft) {
  const struct {
    RateSample sample;
    std::string unit;
    int width;
    std::string expected;
  } cases[] = {
      {Sample(0.45, 1200, true, 38400, 12), "rec", 10, "[#####.....]  45%  1200 rec/s  37.5 KB/s  0:12 left"},
      {Sample(0.1, 7, false, 0, 125), "rec", 0, " 10%  7 rec/s  2:05 left"},  // records only
      {Sample(1.0, 2048, true, 2048, 0), "", 0, "100%  2.0 KB/s  0:00 left"},  // a read: no unit rate
      {Sample(0, 0, true, 0, -1), "rec", 4, "[....]   0%  0 rec/s  0.0 KB/s  --:-- left"},
      {Sample(0.01, 1, false, 0, 3725), "rec", 0, "  1%  1 rec/s  1:02:05 left"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressLine(c.sample, c.unit, c.width), c.expected);
}

// A programming run of a real flash memory file (the image is read whole
// before the erase) against a device that refuses the erase at once.
ResultCode RunRefusedErase(ProgressStyle style, std::ostringstream& out, std::ostringstream& err) {
  const std::filesystem::path fmf = test::MakeTempDir("erasewait") / "app.FMF";
  test::FmfSpec recipe;
  recipe.codeBytes = 256;
  test::WriteFmf(fmf, recipe);
  test::DeviceOnPort d([](const test::SeenPacket&) { return std::string("H"); });
  CliOperator op(out, err);
  op.SetJson(style == ProgressStyle::Json);
  CliJobRunner runner(op, style, out, err);
  ProgrammingRequest r;
  r.port = &d.port;
  r.target = Target::Controller;
  r.path = fmf.string();
  r.timings.eraseTimeoutMs = 5000;
  return runner.RunProgramming(r);
}

// The erase wait as each style shows it: the count starts the moment the
// erase packet is out (the device here refuses the erase at once, so
// nothing waits on the clock).
TEST(EraseWaitDisplay, EachStyleShowsTheSecondsWaited) {
  struct Case {
    ProgressStyle style;
    const char* inOut;  // expected on stdout (empty: nothing there)
    const char* inErr;
    const char* notAnywhere;
  };
  const Case cases[] = {
      {ProgressStyle::Bar, "", "\rErasing... 0 s\033[K", "\"event\""},
      {ProgressStyle::Plain, "Erasing... 0 s\n", "", "\"event\""},
      {ProgressStyle::Json, "{\"event\":\"erasing\",\"elapsed_s\":0}\n", "", "Erasing... "},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunRefusedErase(c.style, out, err), rc::kEraseError);
    const std::string all = out.str() + err.str();
    EXPECT_NE(out.str().find(c.inOut), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(c.inErr), std::string::npos) << err.str();
    EXPECT_EQ(all.find(c.notAnywhere), std::string::npos) << all;
    EXPECT_NE(all.find("Erase Error - 72"), std::string::npos) << all;
  }
}

// A run a command drives itself (boot verify, a backup transfer) drawn by
// the renderer of the programming runs (whose JSON bytes of a whole flash
// the end-to-end progress test checks): its own lines in order with the
// progress, the whole once although the run says its last count twice, and
// nothing at all in the JSON style, where the command writes the run's own
// events.
TEST(RunDisplay, EachStyleDrawsTheRunAndTheCommandsLines) {
  struct Case {
    ProgressStyle style;
    bool outHasLines;
    bool errHasBar;
  };
  const Case cases[] = {
      {ProgressStyle::Plain, true, false},
      {ProgressStyle::Bar, false, true},
      {ProgressStyle::Json, false, false},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    {
      RunDisplay display(c.style, out, err, "rec", false);
      display.Say("Settings: 0 of 20 records (starting)");
      RunSink& sink = display.Sink();
      sink.OnEvent(PhaseStarted{"Settings"});
      sink.OnEvent(RunTotal{20, 0});
      for (std::uint64_t i = 1; i <= 20; ++i) sink.OnEvent(RunProgress{i, 0});
      sink.OnEvent(RunProgress{20, 0});  // the section's end repeats its last record
      sink.OnEvent(RunFinished{rc::kSuccess, {}});
    }
    const std::string o = out.str(), e = err.str();
    if (c.outHasLines) {
      EXPECT_EQ(o.rfind("Settings: 0 of 20 records (starting)\n", 0), 0u) << o;
      std::istringstream lines(o);
      int whole = 0, tenths = 0;
      for (std::string line; std::getline(lines, line);) {
        whole += line.rfind("100%", 0) == 0;
        tenths += line.find("rec/s") != std::string::npos;
      }
      EXPECT_EQ(whole, 1) << o;
      EXPECT_EQ(tenths, 10) << o;
      EXPECT_TRUE(e.empty()) << e;
    } else if (c.errHasBar) {
      EXPECT_TRUE(o.empty()) << o;
      EXPECT_NE(e.find("Settings: 0 of 20 records (starting)"), std::string::npos) << e;
      EXPECT_NE(e.find("\r[##############################] 100%"), std::string::npos) << e;
      EXPECT_EQ(e.back(), '\n') << "the bar's line is ended";
    } else {
      EXPECT_TRUE(o.empty()) << o;
      EXPECT_TRUE(e.empty()) << e;
    }
  }
}

}  // namespace
}  // namespace tarnvale::cli
