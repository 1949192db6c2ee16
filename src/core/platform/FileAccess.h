#pragma once
// What the program may read and write as a person's file.
//
// An input file must be a regular file of a size that fits its kind: a FIFO,
// a character device (/dev/zero, /dev/urandom) or a folder never ends or is
// not a file at all, and reading one hangs or eats memory. An output may be a
// regular file or a name that does not exist yet; a symbolic link is written
// through to the file it names (the link stays a link); a device, FIFO,
// socket or folder is refused, and so is an output that is one of the run's
// own inputs. Each check says why in words a technician can act on.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnvale::platform {

// Size limits by kind of file. An image of the largest target (8 MB of
// memory) as Intel HEX text is about 23 MB; a backup of a full part library
// is well under a megabyte.
inline constexpr std::uint64_t kImageFileLimit = 64ull << 20;
inline constexpr std::uint64_t kBackupFileLimit = 32ull << 20;
inline constexpr std::uint64_t kTextFileLimit = 16ull << 20;  // serial tester's send file, logs read back

// Empty when `path` names a regular file (after following links) no larger
// than `limit`; otherwise the reason, e.g. "is a FIFO, not a regular file",
// "is 70000000 bytes, larger than the 67108864 bytes a file of this kind may
// be", or the system's reason ("No such file or directory").
std::string InputFileProblem(const std::string& path, std::uint64_t limit);

// Opens `path` for reading after the checks above. The open itself cannot
// block on a FIFO that appears between check and open: the descriptor is
// opened non-blocking and checked again. nullptr with `reason` set on refusal.
std::FILE* OpenInputFile(const std::string& path, std::uint64_t limit, std::string* reason);

// Reads the whole file after the checks above. False with `reason` set.
bool ReadInputFile(const std::string& path, std::uint64_t limit, std::string* bytes,
                   std::string* reason);

// Where an output named `path` should really be written: the file a symbolic
// link names (followed to the end of the chain), otherwise `path` itself.
// Empty with `reason` set when the output must be refused: a device, FIFO,
// socket or folder; a link loop; or the same file as one of `inputs`.
std::string ResolveOutputPath(const std::string& path, const std::vector<std::string>& inputs,
                              std::string* reason);

// Removes a file; false when there was none or it could not go.
bool RemoveFile(const std::string& path);

// Makes a new private folder named `pattern` with its last six characters
// ("XXXXXX") made unique. The folder's name, or empty with `reason` set.
std::string MakeUniqueFolder(const std::string& pattern, std::string* reason);

// A read-only stream over `bytes`, which must outlive it; null when none can
// be made. The caller closes it.
std::FILE* OpenMemoryStream(std::string& bytes);

// Appends `line` to a log file, creating it as an ordinary document when
// missing. A last line left without its line feed (a writer killed part way)
// gets one first, so `line` starts on a line of its own; a file this process
// may only append to is written without that check. Step kNone on success,
// otherwise what failed, for the owner to put in its own words.
struct AppendFailure {
  enum Step { kNone, kOpen, kWrite, kShortWrite, kClose } step = kNone;
  std::string reason;       // the system's words (kOpen, kWrite)
  std::size_t written = 0;  // bytes written (kShortWrite)
  std::size_t size = 0;     // bytes meant (kShortWrite)
};
AppendFailure AppendLine(const std::string& path, std::string line);

}  // namespace tarnvale::platform
