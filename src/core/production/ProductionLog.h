#pragma once
// The record of every unit programmed on the line: one JSON object per
// "Program ..." run, appended as one line to "production-log.jsonl".
//
// Each line is written with a single write() to a file opened for append,
// so lines from several stations or runs never interleave. A failed append
// is returned with its reason; callers tell the operator.
//
// What counts as a record: a line that ends in a line feed and parses as a
// JSON object. A writer killed in the middle of its write can leave a torn
// tail without a line feed; the next append then starts with a line feed of
// its own, so the fragment stays on a line by itself and never spoils the
// new record, and readers pass over it (ReadProductionLog counts it).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/BuildStamp.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

inline constexpr const char* kProductionLogName = "production-log.jsonl";

struct ProductionLogRecord {
  std::string time;          // UTC, ISO 8601 ("2026-12-06T17:02:03Z")
  std::string station;       // host name
  std::string generation;    // "4" or "5"
  std::string navNumber;     // empty when no number was asked for
  std::string modelCode;     // application runs; empty otherwise
  std::string modelText;
  std::string serialNumber;  // the unit's, for every image
  std::string hardwareRevision;
  std::string imageKind;     // "boot", "application", "test"
  std::string sourcePath;    // the S-record file opened
  std::optional<BuildStamp> stamp;         // when the image was stamped
  std::optional<std::uint32_t> imageSum;
  std::string version;
  std::optional<std::uint32_t> jtagId;     // boot runs that read one
  ResultCode result = 0;
  std::string resultText;
  double elapsedSeconds = 0;  // the programming's time, without the operator's
  std::string operatorName;   // station mode: who ran the station ("operator", only when known)
};

// "YYYY-MM-DDTHH:MM:SSZ" of a moment.
std::string IsoUtcTime(std::time_t when);
// The host name, or "unknown".
std::string StationName();

// The record as one JSON object without a line end.
std::string ProductionLogLine(const ProductionLogRecord& record);

// Appends the record's line and a line feed with one write. Empty on
// success, else the reason (naming the file).
std::string AppendProductionLog(const std::filesystem::path& file,
                                const ProductionLogRecord& record);

// The log's records as their JSON lines, in order, and what was passed over.
struct ProductionLogContents {
  std::vector<std::string> records;  // whole lines that parse as JSON objects
  std::size_t tornLines = 0;         // lines that do not (a killed writer's fragments)
  bool tornTail = false;             // the file ends without a line feed
};
// Reads the log; false (with the reason) when it cannot be read.
bool ReadProductionLog(const std::filesystem::path& file, ProductionLogContents& out, std::string& error);

}  // namespace tarnvale
