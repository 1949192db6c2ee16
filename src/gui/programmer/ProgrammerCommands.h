#pragma once
// The Universal Programmer's menu commands: "Universal Programmer Version",
// "Read JTAG ID", "7193  JTAG Test" and TN835 "Read CPU ID".

namespace tarnvale::gui {

class CMainFrame;

void InstallProgrammerCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
