#include "gui/flash/QtJobRunner.h"

#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/flash/CMemoryReadDialog.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {

QtJobRunner::QtJobRunner(QWidget* parent, Operator& op) : parent_(parent), op_(op) {}

// A command running on a worker thread opens its dialog on the GUI thread
// and waits there for its end.
ResultCode QtJobRunner::RunProgramming(const ProgrammingRequest& request) {
  return OnGuiThread<ResultCode>(parent_, [&] {
    CLoadMemoryDialog dialog(request, op_, parent_);
    return dialog.Run();
  });
}

ResultCode QtJobRunner::RunMemoryRead(const MemoryReadRequest& request) {
  return OnGuiThread<ResultCode>(parent_, [&] {
    CMemoryReadDialog dialog(request, op_, parent_);
    return dialog.Run();
  });
}

}  // namespace tarnvale::gui
