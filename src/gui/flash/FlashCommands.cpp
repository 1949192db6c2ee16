#include "gui/flash/FlashCommands.h"

#include <memory>

#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/flash/QtJobRunner.h"
#include "core/flash/Workflows.h"

namespace tarnvale::gui {

void InstallFlashCommands(CMainFrame& frame) {
  // The workflows bracket themselves with BeginCommand/EndCommand, so the
  // terminal resumes after each however it ends; their outcome has already
  // been shown to the operator. They read the controller's identity and
  // header before their dialog opens: they run on a worker thread.
  auto runner = std::make_shared<QtJobRunner>(&frame, frame.Op());
  frame.SetCommandHandler(cmd::kFlashRQ700, [&frame, runner] {
    FlashRQ700Series(frame.Link(), frame.Op(), *runner);
  });
  frame.SetCommandHandler(cmd::kLoad, [&frame, runner] {
    LoadMemoryImage(frame.Link(), frame.Op(), *runner);
  });
  frame.SetCommandHandler(cmd::kDumpRQ700Memory, [&frame, runner] {
    DumpRQ700SeriesMemory(frame.Link(), frame.Op(), *runner);
  });
  for (const int id : {cmd::kFlashRQ700, cmd::kLoad, cmd::kDumpRQ700Memory}) frame.MakeDeviceCommand(id);
}

}  // namespace tarnvale::gui
