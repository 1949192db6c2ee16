#include "gui/ui/WorkerWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <thread>

namespace tarnvale::gui {

void RunOnWorker(const std::function<void()>& work) {
  // Already off the GUI thread (a command run by a worker of its own): the
  // caller may wait there.
  if (QCoreApplication::instance() == nullptr ||
      QThread::currentThread() != QCoreApplication::instance()->thread()) {
    work();
    return;
  }
  QEventLoop loop;
  std::thread worker([&] {
    work();
    // Posted, so it is seen even when the loop has not started yet.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
}

void OnGuiThread(QObject* context, const std::function<void()>& f) {
  if (context == nullptr || QThread::currentThread() == context->thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
}

}  // namespace tarnvale::gui
