#include "core/platform/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/platform/FileAccess.h"

namespace tarnvale::platform {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  namespace fs = std::filesystem;
  target_ = ResolveOutputPath(path_, {}, &problem_);
  if (target_.empty()) return;
  const fs::path target(target_);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  temp_ = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) return;
  f_ = ::fdopen(fd, "wb");
  if (f_ == nullptr) {
    ::close(fd);
    ::unlink(temp_.c_str());
  }
}

AtomicFile::~AtomicFile() {
  if (f_ != nullptr) std::fclose(f_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool AtomicFile::Write(const void* data, std::size_t n) {
  return f_ != nullptr && (n == 0 || std::fwrite(data, 1, n, f_) == n);
}

bool AtomicFile::PadTo(std::uint64_t offset) {
  if (f_ == nullptr) return false;
  const off_t here = ::ftello(f_);
  if (here < 0) return false;
  if (static_cast<std::uint64_t>(here) >= offset) return true;
  if (::fseeko(f_, static_cast<off_t>(offset - 1), SEEK_SET) != 0) return false;
  const std::uint8_t zero = 0;
  return Write(&zero, 1);
}

bool AtomicFile::Commit(const std::string& name) {
  if (f_ == nullptr || committed_) return false;
  const bool flushed = std::fflush(f_) == 0 && ::fsync(::fileno(f_)) == 0;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  if (!flushed || !closed) return false;
  // mkstemp makes the file private; what is written here is an ordinary
  // document of the person's.
  ::chmod(temp_.c_str(), 0644);
  // The name given is the link's when the output is one: the file it
  // names is what gets replaced.
  const std::string& to = name == path_ ? target_ : name;
  if (std::rename(temp_.c_str(), to.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

}  // namespace tarnvale::platform
