#pragma once
// The build time written into production images: a file's last-write time in
// local time, the hour on a 12-hour clock without an AM/PM marker.

#include <ctime>
#include <filesystem>

namespace tarnvale {

struct BuildStamp {
  int hour = 0;  // 13..23 become 1..11; 0 and 12 stay as they are
  int minute = 0;
  int second = 0;
  int month = 0;  // 1..12
  int day = 0;
  int year = 0;   // four digits

  friend bool operator==(const BuildStamp&, const BuildStamp&) = default;
};

// The stamp of a moment, in local time.
BuildStamp BuildStampFromTime(std::time_t when);

// The stamp of a file's last-write time. False (and an all-zero stamp) when
// the time cannot be read.
bool ReadBuildStamp(const std::filesystem::path& path, BuildStamp& stamp);

}  // namespace tarnvale
