#include "core/formats/BuildStamp.h"

#include <chrono>
#include <system_error>

#include "core/platform/SystemFacts.h"

namespace tarnvale {

BuildStamp BuildStampFromTime(std::time_t when) {
  std::tm local{};
  BuildStamp stamp;
  if (!platform::LocalTime(when, &local)) return stamp;
  stamp.hour = local.tm_hour > 12 ? local.tm_hour - 12 : local.tm_hour;
  stamp.minute = local.tm_min;
  stamp.second = local.tm_sec;
  stamp.month = local.tm_mon + 1;
  stamp.day = local.tm_mday;
  stamp.year = local.tm_year + 1900;
  return stamp;
}

bool ReadBuildStamp(const std::filesystem::path& path, BuildStamp& stamp) {
  stamp = BuildStamp{};
  std::error_code ec;
  const auto fileTime = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  const auto systemTime = std::chrono::file_clock::to_sys(fileTime);
  stamp = BuildStampFromTime(std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(systemTime)));
  return true;
}

}  // namespace tarnvale
