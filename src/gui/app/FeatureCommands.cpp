// The one place where the features beyond the shell attach their menu
// commands to the main window. Each feature offers an installer that calls
// CMainFrame::SetCommandHandler for its command ids (app/CommandIds.h);
// call it from here.
#include "gui/app/CMainFrame.h"
#include "gui/backup/CDataBackup.h"
#include "gui/flash/FlashCommands.h"
#include "gui/tools/CSerialTest.h"
#include "gui/programmer/ProgrammerCommands.h"
#include "gui/production/ProductionCommands.h"

namespace tarnvale::gui {

void InstallFeatureCommands(CMainFrame& frame) {
  InstallFlashCommands(frame);
  InstallBackupCommands(frame);
  InstallToolCommands(frame);
  InstallProgrammerCommands(frame);
  InstallProductionCommands(frame);
}

}  // namespace tarnvale::gui
