#include "core/production/ProductionHistory.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <nlohmann/json.hpp>

#include "core/production/ProductionLog.h"

namespace tarnvale {
namespace {

// A string member, or empty when it is missing or not a string.
std::string Text(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A production record has at least its time, image kind and result as
// strings; anything else on a line is some other program's.
bool IsRecord(const nlohmann::json& j) {
  for (const char* key : {"time", "image", "result", "serial"}) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) return false;
  }
  return true;
}

bool Matches(const HistoryRun& run, const HistoryQuery& q) {
  if (q.serial && run.serial != *q.serial) return false;
  if (q.station && run.station != *q.station) return false;
  // ISO times compare as text; a bare date is the start of its day.
  if (q.since && run.time < *q.since) return false;
  return true;
}

bool Digits(const std::string& s, std::size_t from, std::size_t n) {
  for (std::size_t i = from; i < from + n; ++i) {
    if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

}  // namespace

bool IsHistoryDate(const std::string& t) {
  const bool date = Digits(t, 0, 4) && t.size() >= 10 && t[4] == '-' && Digits(t, 5, 2) && t[7] == '-' &&
                    Digits(t, 8, 2);
  if (!date) return false;
  if (t.size() == 10) return true;
  return t.size() == 20 && t[10] == 'T' && Digits(t, 11, 2) && t[13] == ':' && Digits(t, 14, 2) &&
         t[16] == ':' && Digits(t, 17, 2) && t[19] == 'Z';
}

std::vector<std::filesystem::path> ExpandLogPaths(const std::vector<std::filesystem::path>& given) {
  std::vector<std::filesystem::path> out;
  for (const auto& p : given) {
    std::error_code ec;
    if (!std::filesystem::is_directory(p, ec)) {
      out.push_back(p);
      continue;
    }
    std::vector<std::filesystem::path> inFolder;
    for (const auto& entry : std::filesystem::directory_iterator(p, ec)) {
      if (entry.path().extension() == ".jsonl") inFolder.push_back(entry.path());
    }
    std::sort(inFolder.begin(), inFolder.end());
    out.insert(out.end(), inFolder.begin(), inFolder.end());
  }
  return out;
}

HistoryReport ReadProductionHistory(const std::vector<std::filesystem::path>& logs,
                                    const HistoryQuery& query) {
  HistoryReport report;
  for (const auto& log : logs) {
    ProductionLogContents contents;
    std::string error;
    if (!ReadProductionLog(log, contents, error)) {
      report.unreadable.push_back(error);
      continue;
    }
    ++report.logsRead;
    report.skippedLines += contents.tornLines;
    for (const std::string& line : contents.records) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (!IsRecord(j)) {
        ++report.skippedLines;
        continue;
      }
      HistoryRun run;
      run.time = Text(j, "time");
      run.station = Text(j, "station");
      run.operatorName = Text(j, "operator");
      run.serial = Text(j, "serial");
      run.imageKind = Text(j, "image");
      run.version = Text(j, "version");
      run.imageSum = Text(j, "image_sum");
      run.result = Text(j, "result");
      run.resultText = Text(j, "result_text");
      run.logFile = log.string();
      if (Matches(run, query)) report.runs.push_back(std::move(run));
    }
  }
  std::stable_sort(report.runs.begin(), report.runs.end(),
                   [](const HistoryRun& a, const HistoryRun& b) { return a.time < b.time; });
  return report;
}

std::map<std::string, std::vector<HistoryRun>> RunsByUnit(const std::vector<HistoryRun>& runs) {
  std::map<std::string, std::vector<HistoryRun>> units;
  for (const HistoryRun& r : runs) units[r.serial].push_back(r);
  return units;
}

HistorySummary SummarizeHistory(const std::vector<HistoryRun>& runs) {
  HistorySummary s;
  for (const HistoryRun& r : runs) {
    PassFail& image = s.byImage[r.imageKind];
    PassFail& station = s.byStation[r.station];
    if (r.Passed()) {
      ++s.passes;
      ++image.passes;
      ++station.passes;
    } else {
      ++s.failures;
      ++image.failures;
      ++station.failures;
    }
  }
  const auto units = RunsByUnit(runs);
  s.units = units.size();
  std::size_t firstPass = 0;
  for (const auto& [serial, unitRuns] : units) {
    std::set<std::string> seen;
    bool clean = true;
    for (const HistoryRun& r : unitRuns) {  // oldest first: the first of each kind decides
      if (!seen.insert(r.imageKind).second) continue;
      clean = clean && r.Passed();
    }
    if (clean) ++firstPass;
  }
  s.firstPassYield = s.units == 0 ? 0 : static_cast<double>(firstPass) / static_cast<double>(s.units);
  return s;
}

std::vector<HistoryRun> LastRunsOfUnit(const std::filesystem::path& log, const std::string& serial,
                                       std::size_t count) {
  if (serial.empty()) return {};
  HistoryQuery q;
  q.serial = serial;
  HistoryReport report = ReadProductionHistory({log}, q);
  std::vector<HistoryRun> runs(report.runs.rbegin(), report.runs.rend());
  if (runs.size() > count) runs.resize(count);
  return runs;
}

std::string HistoryRunLine(const HistoryRun& r) {
  auto pad = [](std::string s, std::size_t w) {
    if (s.size() < w) s.append(w - s.size(), ' ');
    return s;
  };
  std::string line = pad(r.time, 22) + pad(r.station, 14) + pad(r.imageKind, 13) +
                     pad(r.version.empty() ? "-" : r.version, 17) +
                     pad(r.imageSum.empty() ? "-" : r.imageSum, 12) + (r.Passed() ? "pass" : "FAIL");
  // A result text may name its file on lines of its own: one line here.
  std::string result = r.resultText;
  for (std::size_t at; (at = result.find("\n\n")) != std::string::npos;) result.replace(at, 2, ": ");
  std::replace(result.begin(), result.end(), '\n', ' ');
  if (!result.empty()) line += "  " + result;
  if (!r.operatorName.empty()) line += "  (" + r.operatorName + ")";
  return line;
}

}  // namespace tarnvale
