#include "flash/GuiThreadCalls.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

namespace tarnvale::gui {

void CallOnThreadOf(QObject* context, const std::function<void()>& f) {
  if (QThread::currentThread() == context->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
}

void JoinWhileHandlingEvents(const std::function<void()>& join) {
  std::atomic<bool> joined{false};
  std::thread joiner([&] {
    join();
    joined.store(true);
  });
  while (!joined.load()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!joined.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  joiner.join();
}

}  // namespace tarnvale::gui
