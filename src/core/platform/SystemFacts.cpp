#include "core/platform/SystemFacts.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tarnvale::platform {

bool FileFacts::SameAs(const FileFacts& other) const {
  if (characterDevice && other.characterDevice) {
    return deviceMajor == other.deviceMajor && deviceMinor == other.deviceMinor;
  }
  return device == other.device && inode == other.inode;
}

std::optional<FileFacts> StatFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileFacts f;
  f.characterDevice = S_ISCHR(st.st_mode);
  f.device = st.st_dev;
  f.inode = st.st_ino;
  f.deviceMajor = major(st.st_rdev);
  f.deviceMinor = minor(st.st_rdev);
  f.mode = st.st_mode & 0777u;
  f.uid = st.st_uid;
  f.gid = st.st_gid;
  f.lastWrite = st.st_mtime;
  return f;
}

bool MayReadWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

std::string UserName(std::uint32_t uid) {
  const passwd* pw = ::getpwuid(uid);
  return pw != nullptr ? pw->pw_name : std::string();
}

std::string GroupName(std::uint32_t gid) {
  const group* gr = ::getgrgid(gid);
  return gr != nullptr ? gr->gr_name : std::string();
}

bool GroupInSession(std::uint32_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  groups.resize(static_cast<std::size_t>(std::max(got, 0)));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool GroupInDatabase(std::uint32_t gid) {
  const passwd* me = ::getpwuid(::getuid());
  if (me == nullptr) return false;
  const std::string name = me->pw_name;
  const gid_t primary = me->pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0 && count > 0) {
    groups.resize(static_cast<std::size_t>(count));
    ::getgrouplist(name.c_str(), primary, groups.data(), &count);
  }
  groups.resize(static_cast<std::size_t>(std::max(count, 0)));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool IsSuperUser() { return ::geteuid() == 0; }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

bool UtcTime(std::time_t when, std::tm* out) { return ::gmtime_r(&when, out) != nullptr; }

bool LocalTime(std::time_t when, std::tm* out) { return ::localtime_r(&when, out) != nullptr; }

}  // namespace tarnvale::platform
