#pragma once
// The desktop application's JobRunner: each long job runs in its modal
// progress dialog over the main window, and the call returns the dialog's
// result when it has closed and its worker has been collected. Called from a
// command's worker thread, the dialog still runs on the GUI thread.

#include <QPointer>
#include <QWidget>

#include "core/flash/Workflows.h"

namespace tarnvale {
class Operator;
}

namespace tarnvale::gui {

class QtJobRunner : public JobRunner {
 public:
  QtJobRunner(QWidget* parent, Operator& op);

  ResultCode RunProgramming(const ProgrammingRequest& request) override;
  ResultCode RunMemoryRead(const MemoryReadRequest& request) override;

 private:
  QPointer<QWidget> parent_;
  Operator& op_;
};

}  // namespace tarnvale::gui
