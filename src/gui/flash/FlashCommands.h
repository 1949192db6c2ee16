#pragma once
// The controller commands of the File menu: "Flash RQ700 Series", "Load"
// and "Dump RQ700 Series Memory", run through the main window's link and
// operator with their progress dialogs.

namespace tarnvale::gui {

class CMainFrame;

void InstallFlashCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
