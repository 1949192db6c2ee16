#pragma once

namespace tarnvale::gui {

// Starts the desktop application: settings loaded (which also enters the
// user temp folder), the main window with its primary port and terminal,
// then the event loop. Returns the exit code.
int RunApplication(int argc, char** argv);

}  // namespace tarnvale::gui
