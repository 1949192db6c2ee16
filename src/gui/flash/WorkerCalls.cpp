#include "gui/flash/WorkerCalls.h"

#include <QThread>

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

std::function<void()> WorkerCalls::ExitHook() {
  return [this] {
    // The flag the waiter reads changed before this point; taking the lock
    // orders it before the wake-up, so the wake-up cannot be missed.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
  };
}

void WorkerCalls::Join(const std::function<bool()>& running, const std::function<void()>& join) {
  for (;;) {
    RunPending();
    std::unique_lock lock(mutex_);
    if (queue_.empty() && !running()) break;
    changed_.wait(lock, [&] { return !queue_.empty() || !running(); });
  }
  join();
}

}  // namespace tarnvale::gui
