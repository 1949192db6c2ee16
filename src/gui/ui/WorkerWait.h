#pragma once
// Keeping the GUI thread free while a device exchange runs.
//
// RunOnWorker runs a piece of work that talks to a device on a thread of its
// own and returns when it has ended. Meanwhile the GUI thread goes on with
// its event loop: windows repaint, and whatever the work asks of the GUI
// thread (a message, a question, a progress dialog, through OnGuiThread) is
// served. The thread is joined before RunOnWorker returns, so the work may
// use whatever the caller owns.
//
// OnGuiThread is the other direction: from the work's thread, runs a call
// on the thread of `context` and waits for it; on that thread itself it just
// runs it.

#include <QObject>
#include <functional>
#include <optional>
#include <utility>

namespace tarnvale::gui {

void RunOnWorker(const std::function<void()>& work);

void OnGuiThread(QObject* context, const std::function<void()>& f);

template <class T>
T OnGuiThread(QObject* context, const std::function<T()>& f) {
  std::optional<T> result;
  OnGuiThread(context, [&] { result.emplace(f()); });
  return std::move(*result);
}

}  // namespace tarnvale::gui
