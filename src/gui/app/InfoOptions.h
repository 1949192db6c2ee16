#pragma once
// The two questions the desktop tool answers on the command line, before any
// window or display exists: --help and --version. Packaging writes the man
// page from them, and a technician on a shell without a display can ask too.
#include <optional>
#include <ostream>

namespace tarnvale::gui {

// Prints the help or the version when argv asks for one and returns the exit
// code; nullopt when the application should start. Anything else on the
// command line is left to Qt (e.g. "-platform offscreen").
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out);

}  // namespace tarnvale::gui
