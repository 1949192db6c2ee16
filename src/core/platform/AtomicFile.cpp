#include "core/platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/platform/FileAccess.h"

namespace tarnvale::platform {
namespace {

std::string FolderOf(const std::string& file) {
  const std::filesystem::path p(file);
  return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

// A rename is an entry in the folder: until the folder itself is on disk, a
// power cut can bring back the old name or no name at all.
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, unsigned permissions)
    : path_(std::move(path)), permissions_(permissions) {
  target_ = ResolveOutputPath(path_, {}, &problem_);
  if (target_.empty()) return;
  const std::filesystem::path folder(FolderOf(target_));
  temp_ = (folder / ("." + std::filesystem::path(target_).filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    problem_ = "cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno);
    temp_.clear();
    return;
  }
  f_ = ::fdopen(fd, "wb");
  if (f_ == nullptr) {
    problem_ = std::strerror(errno);
    ::close(fd);
    ::unlink(temp_.c_str());
    temp_.clear();
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
  const bool flushed = std::fflush(f_) == 0 && std::ferror(f_) == 0 && ::fsync(::fileno(f_)) == 0;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  if (!flushed || !closed) return false;
  // mkstemp makes the file private; what is written here is an ordinary
  // document of the person's unless the owner asked otherwise.
  ::chmod(temp_.c_str(), permissions_);
  // The name given is the link's when the output is one: the file it
  // names is what gets replaced.
  const std::string& to = name == path_ ? target_ : name;
  if (std::rename(temp_.c_str(), to.c_str()) != 0) {
    problem_ = "cannot replace " + to + ": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  SyncFolder(FolderOf(to));
  return true;
}

}  // namespace tarnvale::platform
