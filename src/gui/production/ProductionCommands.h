#pragma once
// "Flash TN835" and "TN835 Production Programming" > "Version 4" / "Version 5".
namespace tarnvale::gui {

class CMainFrame;

void InstallProductionCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
