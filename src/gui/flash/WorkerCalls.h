#pragma once
// How a progress dialog and its worker thread meet.
//
// The worker reports synchronously: each event is run on the dialog's
// thread, and the worker waits until it has run, so the dialog's controls
// are only ever touched on the GUI thread.
//
// Because the worker may be waiting for the GUI thread, the GUI thread must
// never simply block in a join: a last event still on its way would never be
// handled. Join() therefore runs the worker's calls itself while it waits.
// It does not count on the event loop for that: a join may start inside the
// delivery of a posted event (a queued click, say), and some event
// dispatchers do not deliver further posted events from there.
//
// The worker's engine calls ExitHook() as its last act; that wakes a waiting
// Join, which then joins a thread that is already ending. No helper thread
// and no polling.

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace tarnvale::gui {

class WorkerCalls {
 public:
  // `context`: the object whose thread runs the calls (the dialog).
  explicit WorkerCalls(QObject* context) : context_(context) {}
  WorkerCalls(const WorkerCalls&) = delete;
  WorkerCalls& operator=(const WorkerCalls&) = delete;

  // From the worker: runs `f` on the context's thread and returns once it
  // has run. On the context's thread itself it just runs `f`.
  void Call(const std::function<void()>& f);

  // For the engine: run on the worker thread when it ends (after its
  // "running" flag has turned false).
  std::function<void()> ExitHook();

  // On the context's thread: runs the worker's calls until `running` says
  // the worker has ended, then calls `join` (which joins its thread).
  void Join(const std::function<bool()>& running, const std::function<void()>& join);

 private:
  struct Pending {
    const std::function<void()>* f;
    bool done = false;
  };
  void RunPending();

  QObject* context_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> queue_;
};

}  // namespace tarnvale::gui
