// The production history over several stations' logs: every run of a unit
// in time order, the filters, the counts and the first-pass yield, with
// torn and foreign lines passed over and counted.
#include <gtest/gtest.h>

#include "core/production/ProductionHistory.h"
#include "core/production/ProductionLog.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

ProductionLogRecord LogRun(const std::string& time, const std::string& station, const std::string& serial,
                        const std::string& image, ResultCode result) {
  ProductionLogRecord r;
  r.time = time;
  r.station = station;
  r.serialNumber = serial;
  r.imageKind = image;
  r.version = image == "boot" ? "B1.07" : "A5.02";
  r.imageSum = 0x1234;
  r.result = result;
  r.resultText = result == '0' ? "Success" : "Data Mis-match";
  return r;
}

class History : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir("history");
    a_ = dir_ / "a.jsonl";
    b_ = dir_ / "b.jsonl";
    // Station A: unit 1 fails its first boot, then passes everything.
    for (const auto& r : {LogRun("2026-12-01T08:00:00Z", "A", "U1", "boot", 'D'),
                          LogRun("2026-12-01T08:05:00Z", "A", "U1", "boot", '0'),
                          LogRun("2026-12-01T08:10:00Z", "A", "U1", "application", '0')}) {
      ASSERT_EQ(AppendProductionLog(a_, r), "");
    }
    // A killed writer's fragment and another program's lines in the log.
    test::WriteFileBytes(a_, test::ReadFileBytes(a_) + "{\"time\":\"2026-12-0\n[1,2]\n{\"other\":true}\n");
    // Station B: unit 1's test image, unit 2 clean; a torn tail at the end.
    for (const auto& r : {LogRun("2026-12-01T09:00:00Z", "B", "U1", "test", '0'),
                          LogRun("2026-12-02T07:00:00Z", "B", "U2", "boot", '0'),
                          LogRun("2026-12-02T07:05:00Z", "B", "U2", "application", '0')}) {
      ASSERT_EQ(AppendProductionLog(b_, r), "");
    }
    test::WriteFileBytes(b_, test::ReadFileBytes(b_) + "{\"time\":\"2026");
  }
  std::filesystem::path dir_, a_, b_;
};

TEST_F(History, EveryRunOfAUnitOverSeveralLogsInTimeOrder) {
  // The folder holds both logs.
  const HistoryReport all = ReadProductionHistory(ExpandLogPaths({dir_}), {});
  EXPECT_EQ(all.logsRead, 2u);
  EXPECT_EQ(all.skippedLines, 4u);  // fragment, array, foreign object, torn tail
  const auto units = RunsByUnit(all.runs);
  ASSERT_EQ(units.size(), 2u);
  const auto& u1 = units.at("U1");
  ASSERT_EQ(u1.size(), 4u);
  EXPECT_EQ(u1[0].result, "D");
  EXPECT_EQ(u1[3].imageKind, "test");
  EXPECT_EQ(u1[3].station, "B");
  EXPECT_EQ(u1[3].imageSum, "0x00001234");
  EXPECT_EQ(u1[3].logFile, b_.string());

  struct Case {
    HistoryQuery query;
    std::size_t runs;
  };
  HistoryQuery bySerial, since, byStation, sinceTime;
  bySerial.serial = "U2";
  since.since = "2026-12-02";
  byStation.station = "A";
  sinceTime.since = "2026-12-01T08:10:00Z";
  for (const Case& c : {Case{bySerial, 2}, Case{since, 2}, Case{byStation, 3}, Case{sinceTime, 4}}) {
    EXPECT_EQ(ReadProductionHistory({a_, b_}, c.query).runs.size(), c.runs);
  }
  // A log that cannot be read is named; the others are still read.
  const HistoryReport missing = ReadProductionHistory({dir_ / "none.jsonl", a_}, {});
  ASSERT_EQ(missing.unreadable.size(), 1u);
  EXPECT_NE(missing.unreadable[0].find("none.jsonl"), std::string::npos);
  EXPECT_EQ(missing.runs.size(), 3u);
}

TEST_F(History, SummaryCountsPerImageAndStationAndTheFirstPassYield) {
  const HistorySummary s = SummarizeHistory(ReadProductionHistory({a_, b_}, {}).runs);
  EXPECT_EQ(s.units, 2u);
  EXPECT_EQ(s.passes, 5u);
  EXPECT_EQ(s.failures, 1u);
  EXPECT_EQ(s.byImage.at("boot").passes, 2u);
  EXPECT_EQ(s.byImage.at("boot").failures, 1u);
  EXPECT_EQ(s.byStation.at("A").failures, 1u);
  EXPECT_EQ(s.byStation.at("B").passes, 3u);
  EXPECT_DOUBLE_EQ(s.firstPassYield, 0.5);  // U1's first boot failed
  EXPECT_DOUBLE_EQ(SummarizeHistory({}).firstPassYield, 0.0);
}

TEST_F(History, LastRunsOfAUnitNewestFirst) {
  const auto runs = LastRunsOfUnit(a_, "U1", 2);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].imageKind, "application");
  EXPECT_EQ(runs[1].time, "2026-12-01T08:05:00Z");
  EXPECT_TRUE(LastRunsOfUnit(a_, "", 5).empty());
  EXPECT_NE(HistoryRunLine(runs[0]).find("pass"), std::string::npos);
  // A result that names its file on a line of its own stays one line.
  HistoryRun failed = runs[0];
  failed.result = "4";
  failed.resultText = "Can't Open Input File\n\n/share/appl.S";
  EXPECT_NE(HistoryRunLine(failed).find("FAIL  Can't Open Input File: /share/appl.S"), std::string::npos)
      << HistoryRunLine(failed);
}

}  // namespace
}  // namespace tarnvale
