// hex scan, hex stream, srec convert: the scriptable face of the image formats.
#include "Commands.h"

namespace tarnvale::cli {

void RegisterHexCommands(CLI::App& /*app*/) {}

}  // namespace tarnvale::cli
