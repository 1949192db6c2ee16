#include "core/production/ProductionLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "core/result/ResultCode.h"

namespace tarnvale {

std::string IsoUtcTime(std::time_t when) {
  std::tm utc{};
  if (::gmtime_r(&when, &utc) == nullptr) return {};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buf;
}

std::string StationName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

std::string ProductionLogLine(const ProductionLogRecord& r) {
  nlohmann::ordered_json j;
  j["time"] = r.time;
  j["station"] = r.station;
  j["generation"] = r.generation;
  j["nav"] = r.navNumber;
  j["model"] = r.modelCode;
  j["model_text"] = r.modelText;
  j["serial"] = r.serialNumber;
  j["hw_rev"] = r.hardwareRevision;
  j["image"] = r.imageKind;
  j["source"] = r.sourcePath;
  if (r.stamp) {
    const BuildStamp& s = *r.stamp;
    j["build_stamp"] = {{"hour", s.hour}, {"minute", s.minute}, {"second", s.second},
                        {"month", s.month}, {"day", s.day},     {"year", s.year}};
  } else {
    j["build_stamp"] = nullptr;
  }
  if (r.imageSum) {
    char sum[16];
    std::snprintf(sum, sizeof sum, "0x%08X", *r.imageSum);
    j["image_sum"] = sum;
  } else {
    j["image_sum"] = nullptr;
  }
  j["version"] = r.version;
  if (r.jtagId) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%X", *r.jtagId);
    j["jtag_id"] = id;
  } else {
    j["jtag_id"] = nullptr;
  }
  // A result code is one byte: '0' and the protocol letters read best as
  // characters, the file errors as numbers. A run the program stopped is
  // no device's answer and says so.
  j["result"] = r.result == rc::kStoppedByProgram ? std::string("interrupted")
                : r.result >= 0x20 && r.result < 0x7F
                    ? std::string(1, static_cast<char>(r.result))
                    : std::to_string(r.result);
  j["result_text"] = r.resultText;
  j["elapsed_s"] = static_cast<double>(static_cast<long long>(r.elapsedSeconds * 1000.0)) / 1000.0;
  // Operator-typed text may hold bytes that are not UTF-8; they must not
  // cost the record.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string AppendProductionLog(const std::filesystem::path& file,
                                const ProductionLogRecord& record) {
  std::string line = ProductionLogLine(record) + "\n";
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  // A log the station may only append to: written without the tail check.
  if (fd < 0 && errno == EACCES) fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    return "Unable to open the production log " + file.string() + ": " + std::strerror(errno);
  }
  // A torn last line (a writer killed part way) gets its line feed first, so
  // this record starts on a line of its own.
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int writeErrno = errno;
  const bool closed = ::close(fd) == 0;
  if (n < 0) {
    return "Unable to write the production log " + file.string() + ": " +
           std::strerror(writeErrno);
  }
  if (static_cast<std::size_t>(n) != line.size()) {
    return "Unable to write the production log " + file.string() + ": only " +
           std::to_string(n) + " of " + std::to_string(line.size()) + " bytes written";
  }
  if (!closed) return "Unable to close the production log " + file.string();
  return {};
}

bool ReadProductionLog(const std::filesystem::path& file, ProductionLogContents& out, std::string& error) {
  out = ProductionLogContents{};
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "Unable to open the production log " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) {
    error = "Unable to read the production log " + file.string();
    return false;
  }
  const std::string text = all.str();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
      out.tornTail = true;
      ++out.tornLines;
      break;
    }
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_object()) {
      out.records.push_back(line);
    } else {
      ++out.tornLines;
    }
  }
  return true;
}

}  // namespace tarnvale
