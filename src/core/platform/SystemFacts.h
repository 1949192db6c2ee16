#pragma once
// What the operating system says about files, users, the station and the
// time of day, in plain types. The doctor's checks, the production log and
// the dialogs' file times ask here instead of calling the system themselves.

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tarnvale::platform {

using ProcessId = pid_t;

// The facts of one file, links followed.
struct FileFacts {
  bool characterDevice = false;
  std::uint64_t device = 0;  // the file system holding it
  std::uint64_t inode = 0;
  std::uint32_t deviceMajor = 0;  // of a device node
  std::uint32_t deviceMinor = 0;
  std::uint32_t mode = 0;  // permission bits only (0777)
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::time_t lastWrite = 0;

  // The same port: one device number for device nodes (a by-id link, the
  // node and another node of the same device agree), else the same file.
  bool SameAs(const FileFacts& other) const;
};

// Nothing when the name leads nowhere (or may not be looked at).
std::optional<FileFacts> StatFile(const std::string& path);

// Whether this process may read and write the file (by its effective ids).
bool MayReadWrite(const std::string& path);

// Names of a user and a group; empty when unknown.
std::string UserName(std::uint32_t uid);
std::string GroupName(std::uint32_t gid);
// This process runs with the group (effective or supplementary).
bool GroupInSession(std::uint32_t gid);
// The user database lists this process's user in the group.
bool GroupInDatabase(std::uint32_t gid);
// This process runs as root.
bool IsSuperUser();

// The station's host name; "unknown" when it has none.
std::string HostName();

// A moment as calendar time; false when it cannot be converted.
bool UtcTime(std::time_t when, std::tm* out);
bool LocalTime(std::time_t when, std::tm* out);

}  // namespace tarnvale::platform
