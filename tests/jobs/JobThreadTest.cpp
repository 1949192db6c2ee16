// The one worker thread of the long runs and the stop token the runs look
// at. Waits on the real clock are only guards with a generous bound: what is
// asserted is the order of events, never how long something took.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/jobs/JobThread.h"
#include "core/jobs/StopToken.h"
#include "support/FakeClock.h"

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

// A stop asked for before the first start holds for that run, with its
// grace; the next start begins unstopped.
TEST(JobThreadTest, AStopBeforeTheStartHoldsForOneRun) {
  JobThread job;
  job.RequestStop(250);
  std::vector<std::pair<bool, std::uint32_t>> seen;
  const auto look = [&](const StopToken& t) { seen.emplace_back(t.StopRequested(), t.GraceMs()); };
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(job.Start(look));
    job.Join();
    EXPECT_FALSE(job.Running());
  }
  EXPECT_EQ(seen, (std::vector<std::pair<bool, std::uint32_t>>{{true, 250}, {false, 0}}));
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

// A token never stopped sleeps its time out on the clock it is handed (the
// engines' waits on a fake clock rest on it); one stopped before returns at once.
TEST(StopTokenTest, SleepsOnTheFakeClockUnlessAlreadyStopped) {
  FakeClock clock;
  EXPECT_FALSE(StopToken().SleepFor(clock, 700));
  std::atomic<bool> raised{true};
  EXPECT_TRUE(StopToken(raised).SleepFor(clock, 1300));
  EXPECT_EQ(clock.TickMs(), 700u);
}

}  // namespace
}  // namespace tarnvale::test
