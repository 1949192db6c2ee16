#include "core/platform/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tarnvale::platform {
namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

std::string NotRegular(mode_t mode) { return std::string("is ") + KindOf(mode) + ", not a regular file"; }

std::string ProblemOf(const struct stat& st, std::uint64_t limit) {
  if (!S_ISREG(st.st_mode)) return NotRegular(st.st_mode);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > limit) {
    return "is " + std::to_string(size) + " bytes, larger than the " + std::to_string(limit) +
           " bytes a file of this kind may be";
  }
  return {};
}

}  // namespace

std::string InputFileProblem(const std::string& path, std::uint64_t limit) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  return ProblemOf(st, limit);
}

std::FILE* OpenInputFile(const std::string& path, std::uint64_t limit, std::string* reason) {
  std::string why = InputFileProblem(path, limit);
  if (!why.empty()) {
    if (reason != nullptr) *reason = why;
    return nullptr;
  }
  // Non-blocking so that a FIFO swapped in after the check cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (reason != nullptr) *reason = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else {
    why = ProblemOf(st, limit);
  }
  if (why.empty()) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (std::FILE* f = ::fdopen(fd, "rb")) return f;
    why = std::strerror(errno);
  }
  ::close(fd);
  if (reason != nullptr) *reason = why;
  return nullptr;
}

bool ReadInputFile(const std::string& path, std::uint64_t limit, std::string* bytes,
                   std::string* reason) {
  std::FILE* f = OpenInputFile(path, limit, reason);
  if (f == nullptr) return false;
  bytes->clear();
  char chunk[65536];
  std::size_t n = 0;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    // A file that grows while it is read is still held to its limit.
    if (bytes->size() + n > limit) {
      if (reason != nullptr) *reason = "grew past the " + std::to_string(limit) + " bytes a file of this kind may be";
      ok = false;
      break;
    }
    bytes->append(chunk, n);
  }
  if (ok && std::ferror(f)) {
    if (reason != nullptr) *reason = std::strerror(errno);
    ok = false;
  }
  std::fclose(f);
  return ok;
}

std::string ResolveOutputPath(const std::string& path, const std::vector<std::string>& inputs,
                              std::string* reason) {
  namespace fs = std::filesystem;
  auto refuse = [&](const std::string& why) {
    if (reason != nullptr) *reason = why;
    return std::string();
  };
  if (path.empty()) return refuse("no file name was given");
  // Follow the chain of links by hand, so a link to a name that does not
  // exist yet still resolves to that name.
  fs::path target(path);
  for (int hops = 0;; ++hops) {
    struct stat lst {};
    if (::lstat(target.c_str(), &lst) != 0) {
      if (errno == ENOENT) break;  // a new file: fine, its folder is checked by the writer
      return refuse(std::strerror(errno));
    }
    if (!S_ISLNK(lst.st_mode)) {
      if (!S_ISREG(lst.st_mode)) return refuse(NotRegular(lst.st_mode));
      break;
    }
    if (hops >= 40) return refuse("is a loop of symbolic links");
    std::error_code ec;
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) return refuse(ec.message());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  struct stat out {};
  if (::stat(target.c_str(), &out) == 0) {
    for (const std::string& input : inputs) {
      struct stat in {};
      if (!input.empty() && ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
          in.st_ino == out.st_ino) {
        return refuse("is also an input of this run (" + input + ")");
      }
    }
  }
  return target.lexically_normal().string();
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string MakeUniqueFolder(const std::string& pattern, std::string* reason) {
  std::string name = pattern;
  if (::mkdtemp(name.data()) != nullptr) return name;
  if (reason != nullptr) *reason = std::strerror(errno);
  return {};
}

std::FILE* OpenMemoryStream(std::string& bytes) { return ::fmemopen(bytes.data(), bytes.size(), "r"); }

AppendFailure AppendLine(const std::string& path, std::string line) {
  AppendFailure failure;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    failure.step = AppendFailure::kOpen;
    failure.reason = std::strerror(errno);
    return failure;
  }
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int writeErrno = errno;
  const bool closed = ::close(fd) == 0;
  if (n < 0) {
    failure.step = AppendFailure::kWrite;
    failure.reason = std::strerror(writeErrno);
  } else if (static_cast<std::size_t>(n) != line.size()) {
    failure.step = AppendFailure::kShortWrite;
    failure.written = static_cast<std::size_t>(n);
    failure.size = line.size();
  } else if (!closed) {
    failure.step = AppendFailure::kClose;
  }
  return failure;
}

}  // namespace tarnvale::platform
