#include "gui/flash/QtJobRunner.h"

#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/flash/CMemoryReadDialog.h"

namespace tarnvale::gui {

QtJobRunner::QtJobRunner(QWidget* parent, Operator& op) : parent_(parent), op_(op) {}

ResultCode QtJobRunner::RunProgramming(const ProgrammingRequest& request) {
  CLoadMemoryDialog dialog(request, op_, parent_);
  return dialog.Run();
}

ResultCode QtJobRunner::RunMemoryRead(const MemoryReadRequest& request) {
  CMemoryReadDialog dialog(request, op_, parent_);
  return dialog.Run();
}

}  // namespace tarnvale::gui
