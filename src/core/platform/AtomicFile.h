#pragma once
// A file that appears under its name only once it is whole.
//
// The bytes go to a hidden temporary file beside the target; Commit flushes
// them to disk, renames the temporary over the target in one step and then
// flushes the folder, so the new name survives a power cut too. A
// writer that fails, is stopped or is killed part way leaves whatever file
// had the name before exactly as it was (a killed writer may leave its
// hidden temporary behind; it never holds the real name).
//
// A symbolic link is written through: the temporary goes beside the file the
// link names and replaces that file, so the link stays a link. A device, a
// FIFO, a socket or a folder under the name is never replaced: the object
// does not open and Problem() says why.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tarnvale::platform {

class AtomicFile {
 public:
  // `permissions` are the file's mode bits once committed: an ordinary
  // document of the person's unless the caller keeps it private.
  explicit AtomicFile(std::string path, unsigned permissions = 0644);
  // Removes the temporary file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool IsOpen() const { return f_ != nullptr; }
  bool Write(const void* data, std::size_t n);
  // Extends the file with zero bytes up to `offset` (a hole where the file
  // system allows one); nothing when it is already that long.
  bool PadTo(std::uint64_t offset);
  // Flushes to disk and renames the temporary file to `name` (the target
  // unless another name is given, such as a name for a partial result; the
  // target's own name means the file its links lead to).
  // False when any step failed; then nothing was renamed.
  bool Commit(const std::string& name);
  bool Commit() { return Commit(target_); }
  // Writes `bytes` as the whole file and commits it under its own name.
  bool WriteWhole(const std::string& bytes) { return Write(bytes.data(), bytes.size()) && Commit(); }
  const std::string& Path() const { return path_; }
  // Why the file could not be opened when the name is no place for a file
  // ("is a character device, not a regular file"), or the system's reason
  // when the temporary could not be made or the rename failed; empty
  // otherwise (so a failed Commit with no Problem() is a failed write).
  const std::string& Problem() const { return problem_; }

 private:
  std::string path_;
  std::string target_;  // the real file: path_ with its links followed
  std::string problem_;
  std::string temp_;
  unsigned permissions_;
  std::FILE* f_ = nullptr;
  bool committed_ = false;
};

}  // namespace tarnvale::platform
