// production history: what the production logs say about each unit, read
// from one station's log, several, or a folder of them.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "core/production/NavNumber.h"
#include "core/production/ProductionHistory.h"
#include "core/production/ProductionLog.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::cli {
namespace {

struct HistoryArgs {
  std::string serial, since, station;
  std::vector<std::string> logs;
  bool json = false;
  bool summary = false;
};

nlohmann::ordered_json RunJson(const HistoryRun& r) {
  nlohmann::ordered_json j;
  j["time"] = r.time;
  j["station"] = r.station;
  if (!r.operatorName.empty()) j["operator"] = r.operatorName;
  j["image"] = r.imageKind;
  j["version"] = r.version;
  j["image_sum"] = r.imageSum.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.imageSum);
  j["result"] = r.result;
  j["result_text"] = r.resultText;
  j["passed"] = r.Passed();
  j["log"] = r.logFile;
  return j;
}

nlohmann::ordered_json CountsJson(const std::map<std::string, PassFail>& counts) {
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  for (const auto& [name, c] : counts) j[name] = {{"passes", c.passes}, {"failures", c.failures}};
  return j;
}

std::string Percent(double fraction) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f%%", fraction * 100.0);
  return buf;
}

void RunHistory(const HistoryArgs& args) {
  HistoryQuery query;
  // Serial numbers are logged in capitals, as the dialog turns them.
  if (!args.serial.empty()) {
    std::string serial = TrimmedEntry(args.serial);
    for (char& c : serial) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    query.serial = serial;
  }
  if (!args.station.empty()) query.station = args.station;
  if (!args.since.empty()) {
    if (!IsHistoryDate(args.since)) Fail("--since wants YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ: " + args.since, kExitUsage);
    query.since = args.since;
  }
  std::vector<std::filesystem::path> given;
  for (const std::string& l : args.logs) given.emplace_back(Absolute(l));
  if (given.empty()) {
    // The station's own log, where the production commands write it.
    ConfigData settings;
    LoadSettings(settings);
    given.emplace_back(std::filesystem::path(settings.GetUserTempPath()) / kProductionLogName);
  }
  const HistoryReport report = ReadProductionHistory(ExpandLogPaths(given), query);
  for (const std::string& problem : report.unreadable) std::cerr << "warning: " << problem << std::endl;
  if (report.skippedLines != 0) {
    std::cerr << "warning: " << report.skippedLines
              << (report.skippedLines == 1 ? " line that is not a production record was"
                                           : " lines that are not production records were")
              << " skipped" << std::endl;
  }
  if (report.logsRead == 0) Fail("No production log could be read", kExitBadFile);

  if (args.summary) {
    const HistorySummary s = SummarizeHistory(report.runs);
    if (args.json) {
      nlohmann::ordered_json j;
      j["units"] = s.units;
      j["passes"] = s.passes;
      j["failures"] = s.failures;
      j["first_pass_yield"] = s.firstPassYield;
      j["by_image"] = CountsJson(s.byImage);
      j["by_station"] = CountsJson(s.byStation);
      j["skipped_lines"] = report.skippedLines;
      std::cout << j.dump() << std::endl;
      return;
    }
    std::cout << "Units:            " << s.units << "\n"
              << "Runs passed:      " << s.passes << "\n"
              << "Runs failed:      " << s.failures << "\n"
              << "First-pass yield: " << Percent(s.firstPassYield) << "\n";
    std::cout << "By image:\n";
    for (const auto& [name, c] : s.byImage) {
      std::cout << "  " << name << ": " << c.passes << " passed, " << c.failures << " failed\n";
    }
    std::cout << "By station:\n";
    for (const auto& [name, c] : s.byStation) {
      std::cout << "  " << (name.empty() ? "(none)" : name) << ": " << c.passes << " passed, "
                << c.failures << " failed\n";
    }
    std::cout << std::flush;
    return;
  }
  const auto units = RunsByUnit(report.runs);
  if (args.json) {
    nlohmann::ordered_json j;
    j["units"] = nlohmann::ordered_json::array();
    for (const auto& [serial, runs] : units) {
      nlohmann::ordered_json unit;
      unit["serial"] = serial;
      unit["runs"] = nlohmann::ordered_json::array();
      for (const HistoryRun& r : runs) unit["runs"].push_back(RunJson(r));
      j["units"].push_back(unit);
    }
    j["skipped_lines"] = report.skippedLines;
    std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    return;
  }
  if (units.empty()) {
    std::cout << "No runs found" << std::endl;
    return;
  }
  for (const auto& [serial, runs] : units) {
    std::cout << (serial.empty() ? "(no serial number)" : serial) << "\n";
    for (const HistoryRun& r : runs) std::cout << "  " << HistoryRunLine(r) << "\n";
  }
  std::cout << std::flush;
}

}  // namespace

void RegisterProductionCommands(CLI::App& app) {
  auto* group = app.add_subcommand("production", "The production record: what each unit received");
  group->require_subcommand(1);
  auto args = std::make_shared<HistoryArgs>();
  auto* history = group->add_subcommand(
      "history", "Every run of every unit in one or more production logs, or their counts");
  history->add_option("--serial", args->serial, "Only this unit");
  history->add_option("--since", args->since, "Only runs at or after DATE (YYYY-MM-DD, UTC)");
  history->add_option("--station", args->station, "Only runs of this station");
  history->add_option("--log", args->logs,
                      "Production logs to read, or folders of them (*.jsonl); default: this "
                      "station's log in the temp folder")
      ->expected(1, -1);
  history->add_flag("--json", args->json, "One JSON object instead of text");
  history->add_flag("--summary", args->summary,
                    "Units, passes and failures per image kind and per station, and the first-pass yield");
  history->callback([args] { RunHistory(*args); });
}

}  // namespace tarnvale::cli
