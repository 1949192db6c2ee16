// The check every command makes on an output path it was given, before the
// port is opened or an input read: a device, a FIFO or a folder would be
// replaced by a regular file (or, run as root, a device node destroyed).
#include <filesystem>

#include "cli/Commands.h"
#include "core/platform/FileAccess.h"

namespace tarnvale::cli {

void RefuseBadOutput(const std::string& path, const std::vector<std::string>& inputs) {
  std::string why;
  if (platform::ResolveOutputPath(path, inputs, &why).empty()) {
    Fail(FileErrorText(path, rc::kCantOpenOutput, FileFailure{0, why}), ExitCodeFor(rc::kCantOpenOutput));
  }
}

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

}  // namespace tarnvale::cli
