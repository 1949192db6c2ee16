#include "core/production/ProductionLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "core/platform/FileAccess.h"
#include "core/platform/SystemFacts.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

std::string IsoUtcTime(std::time_t when) {
  std::tm utc{};
  if (!platform::UtcTime(when, &utc)) return {};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buf;
}

std::string StationName() { return platform::HostName(); }

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
  // Added after the first logs were written: readers take a line without it.
  if (!r.operatorName.empty()) j["operator"] = r.operatorName;
  // Operator-typed text may hold bytes that are not UTF-8; they must not
  // cost the record.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string AppendProductionLog(const std::filesystem::path& file,
                                const ProductionLogRecord& record) {
  // A log the station may only append to is written without the check for
  // a torn last line.
  const platform::AppendFailure f = platform::AppendLine(file.string(), ProductionLogLine(record) + "\n");
  switch (f.step) {
    case platform::AppendFailure::kNone: return {};
    case platform::AppendFailure::kOpen:
      return "Unable to open the production log " + file.string() + ": " + f.reason;
    case platform::AppendFailure::kWrite:
      return "Unable to write the production log " + file.string() + ": " + f.reason;
    case platform::AppendFailure::kShortWrite:
      return "Unable to write the production log " + file.string() + ": only " + std::to_string(f.written) +
             " of " + std::to_string(f.size) + " bytes written";
    case platform::AppendFailure::kClose: break;
  }
  return "Unable to close the production log " + file.string();
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
