// A progress dialog's worker and the GUI thread: every call the worker makes
// runs on the GUI thread, and a join started while calls are still coming
// handles them all and returns once the worker has ended.
#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gui/flash/WorkerCalls.h"

namespace tarnvale::gui {
namespace {

TEST(WorkerCalls, JoinRunsEveryPendingCallAndWakesOnTheExitHook) {
  for (const int calls : {0, 1, 25}) {
    QObject context;
    WorkerCalls wc(&context);
    std::atomic<bool> running{true};
    std::vector<int> ran;
    std::atomic<bool> offThread{false};
    const auto hook = wc.ExitHook();
    // Taken before the worker starts: a busy machine may run the worker's
    // whole sleep before this thread gets the core back.
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
      for (int i = 0; i < calls; ++i) {
        wc.Call([&, i] {
          if (QThread::currentThread() != context.thread()) offThread = true;
          ran.push_back(i);
        });
      }
      // A late ending: the join must sleep, not return early or spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      running = false;
      hook();
    });
    wc.Join([&] { return running.load(); }, [&] { worker.join(); });
    EXPECT_FALSE(worker.joinable());
    EXPECT_FALSE(running.load());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
    ASSERT_EQ(ran.size(), static_cast<std::size_t>(calls));
    for (int i = 0; i < calls; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
    EXPECT_FALSE(offThread.load());
  }
}

}  // namespace
}  // namespace tarnvale::gui
