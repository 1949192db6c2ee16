// The one worker thread of the long runs and the stop token the runs look
// at. Waits on the real clock are only guards with a generous bound: what is
// asserted is the order of events, never how long something took.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/jobs/JobThread.h"
#include "core/jobs/StopToken.h"
#include "support/FakeLink.h"

namespace tarnvale::test {
namespace {

constexpr auto kGuard = std::chrono::seconds(30);

TEST(JobThreadTest, AStopEndsASleepingRunAndTheHookComesLast) {
  JobThread job;
  std::mutex m;
  std::vector<std::string> order;
  auto note = [&](const std::string& s) {
    std::lock_guard<std::mutex> lock(m);
    order.push_back(s);
  };
  std::atomic<bool> sleeping{false};
  job.SetFinishedHook([&] { note(job.Running() ? "hook while running" : "hook"); });
  ASSERT_TRUE(job.Start([&](const StopToken& stop) {
    sleeping = true;
    // A ten-minute settle time: only the stop can end it within the guard.
    note(stop.SleepFor(SystemClock(), 600000) ? "stopped" : "slept out");
  }));
  EXPECT_FALSE(job.Start([](const StopToken&) {})) << "a second run while one goes on";
  while (!sleeping) std::this_thread::yield();
  job.RequestStop();
  ASSERT_TRUE(job.WaitFinished(kGuard));
  job.Join();
  EXPECT_EQ(order, (std::vector<std::string>{"stopped", "hook"}));
}

TEST(JobThreadTest, StopsBeforeAndBetweenRunsAndTheirGrace) {
  struct Case {
    const char* name;
    bool stopBeforeFirst;
    bool secondRun;
    std::uint32_t grace;
    bool expectStopped;
  };
  const Case cases[] = {
      {"a stop before the first start holds for it", true, false, 250, true},
      {"a later start begins unstopped", true, true, 0, false},
      {"no stop at all", false, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobThread job;
    if (c.stopBeforeFirst) job.RequestStop(c.grace);
    bool stopped = false;
    std::uint32_t grace = 0;
    auto look = [&](const StopToken& t) {
      stopped = t.StopRequested();
      grace = t.GraceMs();
    };
    ASSERT_TRUE(job.Start(look));
    job.Join();
    if (c.secondRun) {
      ASSERT_TRUE(job.Start(look));
      job.Join();
    }
    EXPECT_EQ(stopped, c.expectStopped);
    EXPECT_EQ(grace, c.expectStopped ? c.grace : 0u);
    EXPECT_FALSE(job.Running());
  }
}

TEST(JobThreadTest, TheRunsOwnLastEventMayJoinIt) {
  JobThread job;
  std::atomic<bool> joined{false};
  // A front end's handler of the last event asks for the end of the run on
  // the run's own thread: that must neither deadlock nor abort.
  job.SetFinishedHook([&] {
    job.Join();
    joined = true;
  });
  ASSERT_TRUE(job.Start([](const StopToken&) {}));
  ASSERT_TRUE(job.WaitFinished(kGuard));
  job.Join();
  EXPECT_TRUE(joined);
}

TEST(StopTokenTest, SleepsOnAFakeClockUntilTheTimeOrTheStop) {
  struct Case {
    const char* name;
    std::uint32_t sleepMs;
    std::uint32_t raiseAtMs;  // 0: never
    bool expectStopped;
    std::uint32_t expectClockAtMost;
  };
  const Case cases[] = {
      {"sleeps the whole time", 1300, 0, false, 1300},
      {"a stop part way ends it within one step", 1300, 400, true, 450},
      {"a stop before the sleep ends it at once", 1300, 1, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> flag{c.raiseAtMs == 1};
    // The clock raises the flag when it passes the set time, as a stop from
    // the person would arrive while the run sleeps.
    class RaisingClock final : public Clock {
     public:
      RaisingClock(std::atomic<bool>& f, std::uint32_t at) : flag_(f), at_(at) {}
      std::uint32_t TickMs() const override { return now_; }
      void SleepMs(std::uint32_t ms) const override {
        now_ += ms;
        if (at_ > 1 && now_ >= at_) flag_ = true;
      }
     private:
      std::atomic<bool>& flag_;
      std::uint32_t at_;
      mutable std::uint32_t now_ = 0;
    } clock(flag, c.raiseAtMs);
    const StopToken token(flag);
    EXPECT_EQ(token.SleepFor(clock, c.sleepMs), c.expectStopped);
    EXPECT_LE(clock.TickMs(), c.expectClockAtMost);
    if (!c.expectStopped) {
      EXPECT_EQ(clock.TickMs(), c.sleepMs);
    }
  }
  FakeClock fake;
  EXPECT_FALSE(StopToken().SleepFor(fake, 700)) << "a token that never stops";
  EXPECT_EQ(fake.TickMs(), 700u);
}

}  // namespace
}  // namespace tarnvale::test
