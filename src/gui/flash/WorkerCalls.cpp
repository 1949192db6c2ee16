#include "gui/flash/WorkerCalls.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace tarnvale::gui {

void WorkerCalls::Call(const std::function<void()>& f) {
  if (QThread::currentThread() == context_->thread()) {
    f();
    return;
  }
  Pending pending{&f};
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&pending);
  }
  changed_.notify_all();  // a joining GUI thread runs it at once
  QMetaObject::invokeMethod(context_, [this] { RunPending(); }, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return pending.done; });
}

void WorkerCalls::RunPending() {
  for (;;) {
    Pending* next = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      next = queue_.front();
      queue_.pop_front();
    }
    (*next->f)();
    {
      std::lock_guard lock(mutex_);
      next->done = true;
    }
    changed_.notify_all();
  }
}

void WorkerCalls::Join(const std::function<void()>& join) {
  std::atomic<bool> joined{false};
  std::thread joiner([&] {
    join();
    {
      std::lock_guard lock(mutex_);
      joined.store(true);
    }
    changed_.notify_all();
  });
  while (!joined.load()) {
    RunPending();
    // Anything else the worker waits for on this thread (an operator's
    // question, say) is delivered where the dispatcher allows it.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(5),
                      [&] { return joined.load() || !queue_.empty(); });
  }
  joiner.join();
}

}  // namespace tarnvale::gui
