#pragma once
// The capture file: every complete line received from the controller in this
// run, each ended with CR LF, in "TarnvaleOutput.txt" in the home folder.

#include <cstdio>
#include <string>
#include <string_view>

namespace tarnvale {

inline constexpr const char* kCaptureFileName = "TarnvaleOutput.txt";

class CaptureFile {
 public:
  CaptureFile() = default;
  ~CaptureFile() { Close(); }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // The capture path in the home folder ($HOME); empty when HOME is unset or
  // empty, in which case the terminal runs without capture.
  static std::string DefaultPath();

  // Creates the file anew (an existing one is truncated; a link is written
  // through). A device, FIFO or folder under the name is refused. On failure
  // the reason is kept in ErrorText().
  bool Create(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& ErrorText() const { return error_; }

  // Appends the line and CR LF. Flushed at once, so a crash loses nothing
  // already shown and the file can be followed while the program runs.
  void WriteLine(std::string_view text);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  std::string error_;
};

}  // namespace tarnvale
