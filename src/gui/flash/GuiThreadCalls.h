#pragma once
// The two ways the progress dialogs meet their worker threads.
//
// A worker reports to its dialog synchronously: each event is carried to the
// dialog's thread and the worker waits until it has been handled, so the
// dialog's controls are only ever touched on the GUI thread.
//
// Because the worker may be waiting on the GUI thread, the GUI thread must
// never simply block in a join: a last event still on its way would never be
// delivered. Joining therefore keeps the GUI thread delivering those events
// (but no user input) until the worker has ended.

#include <QObject>
#include <functional>

namespace tarnvale::gui {

// Runs `f` on the thread of `context` and returns once it has run. Called on
// that thread itself, it just runs `f`.
void CallOnThreadOf(QObject* context, const std::function<void()>& f);

// Runs `join` (which waits for a worker thread) to its end while the calling
// GUI thread goes on handling posted events other than user input.
void JoinWhileHandlingEvents(const std::function<void()>& join);

}  // namespace tarnvale::gui
