#pragma once
// "What went into unit X?": the production logs of one or more stations
// read back, run by run, grouped by unit, and counted.
//
// Each station appends to its own log (ProductionLog.h); a folder of them is
// the line's record. Lines that are not records (a writer killed mid-line,
// text from another program, a JSON object that is no production run) are
// passed over and counted, never fatal.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnvale {

// One "Program ..." run as the log keeps it.
struct HistoryRun {
  std::string time;        // UTC, ISO 8601
  std::string station;
  std::string operatorName;  // station mode only
  std::string serial;
  std::string imageKind;   // "boot", "application", "test"
  std::string version;
  std::string imageSum;    // "0x%08X", empty when the image was never stamped
  std::string result;      // "0" for success, else the log's result
  std::string resultText;
  std::string logFile;     // where the line was read
  bool Passed() const { return result == "0"; }
};

struct HistoryQuery {
  std::optional<std::string> serial;   // exact, as logged
  std::optional<std::string> since;    // "YYYY-MM-DD" or a full ISO time: runs at or after
  std::optional<std::string> station;  // exact
};

// True for "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SSZ".
bool IsHistoryDate(const std::string& text);

struct HistoryReport {
  std::vector<HistoryRun> runs;         // every matching run, oldest first
  std::size_t skippedLines = 0;         // torn or foreign lines, over all logs
  std::vector<std::string> unreadable;  // "FILE: reason" of logs that could not be read
  std::size_t logsRead = 0;
};

// The logs named: files as they are, a folder for every "*.jsonl" in it
// (sorted by name).
std::vector<std::filesystem::path> ExpandLogPaths(const std::vector<std::filesystem::path>& given);

// Reads every log and keeps the runs the query matches, ordered by time
// (runs of one moment keep their file order).
HistoryReport ReadProductionHistory(const std::vector<std::filesystem::path>& logs,
                                    const HistoryQuery& query);

// The runs of one unit, oldest first.
std::map<std::string, std::vector<HistoryRun>> RunsByUnit(const std::vector<HistoryRun>& runs);

struct PassFail {
  std::size_t passes = 0;
  std::size_t failures = 0;
};

struct HistorySummary {
  std::size_t units = 0;
  std::size_t passes = 0;
  std::size_t failures = 0;
  std::map<std::string, PassFail> byImage;    // by image kind
  std::map<std::string, PassFail> byStation;
  // Units whose first run of every image kind they received passed, over
  // all units; 0 when there are none.
  double firstPassYield = 0;
};
HistorySummary SummarizeHistory(const std::vector<HistoryRun>& runs);

// The newest `count` runs of `serial` in one log, newest first (the
// production dialog's list beside the serial field). Nothing for an empty
// serial or an unreadable log.
std::vector<HistoryRun> LastRunsOfUnit(const std::filesystem::path& log, const std::string& serial,
                                       std::size_t count);

// One line of a run: "TIME  STATION  IMAGE  VERSION  SUM  RESULT".
std::string HistoryRunLine(const HistoryRun& run);

}  // namespace tarnvale
