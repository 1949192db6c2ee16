#include "gui/app/InfoOptions.h"

#include <string_view>

namespace tarnvale::gui {

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out) {
  bool help = false, version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-h" || a == "--help") help = true;
    if (a == "--version") version = true;
  }
  if (help) {
    out << "Tarnvale: program and test Quor Controls controllers\n"
           "Usage: tarnvale [OPTIONS]\n"
           "\n"
           "The desktop tool: a terminal on the controller port, with every other\n"
           "command (flashing, memory dumps, the Universal Programmer, production\n"
           "programming, data backup, the serial tester) in its menus.\n"
           "\n"
           "Options:\n"
           "  -h, --help     Print this help message and exit\n"
           "  --version      Print the version and exit\n"
           "\n"
           "Qt's own options, such as -platform offscreen, are passed on to Qt.\n"
           "\n"
           "Environment:\n"
           "  TARNVALE_CONFIG_DIR  Folder of the settings file (default:\n"
           "                       $XDG_CONFIG_HOME/Quor Controls/Tarnvale or\n"
           "                       ~/.config/Quor Controls/Tarnvale)\n"
           "\n"
           "tarnvale-cli does the same work from a shell or a script.\n";
    return 0;
  }
  if (version) {
    out << "tarnvale " << TARNVALE_VERSION << "\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace tarnvale::gui
