#include "core/tools/CaptureFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/platform/FileAccess.h"

namespace tarnvale {

std::string CaptureFile::DefaultPath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  std::string path = home;
  if (path.back() != '/') path.push_back('/');
  return path + kCaptureFileName;
}

bool CaptureFile::Create(const std::string& path) {
  Close();
  error_.clear();
  // A FIFO under the name would block the terminal's start until someone
  // reads it; a device or folder is no place for the capture either.
  if (platform::ResolveOutputPath(path, {}, &error_).empty()) return false;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    error_ = std::strerror(errno);
    return false;
  }
  return true;
}

void CaptureFile::WriteLine(std::string_view text) {
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fwrite("\r\n", 1, 2, file_);
  std::fflush(file_);
}

void CaptureFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace tarnvale
