#include "gui/programmer/ProgrammerCommands.h"

#include "core/programmer/BoxWorkflows.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/programmer/TestCPUDialog.h"

namespace tarnvale::gui {

void InstallProgrammerCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::kProgrammerVersion,
                          [&frame] { ShowProgrammerVersion(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kReadJtagId,
                          [&frame] { ShowCpu386JtagId(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kTN835ReadCpuId,
                          [&frame] { ShowTn835CpuId(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kJtagTest7193, [&frame] {
    RunCpuBoardTest(frame.Link(), frame.Op(), [&frame](CommPort& port) {
      TestCPUDialog dialog(port, frame.Op(), &frame);
      dialog.exec();
    });
  });
}

}  // namespace tarnvale::gui
