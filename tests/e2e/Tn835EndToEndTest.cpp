// TN835 production programming against the simulated TN835 bench: the CLI's
// three buttons, the images in the simulator's memory, the production log,
// and "Program Boot" followed by "Program Application" in one process.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/formats/ProductionImage.h"
#include "core/formats/TN820HexFile.h"
#include "core/settings/ConfigData.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

// "controller pty /dev/pts/N": the endpoint after the last space.
std::string After(const std::string& line) { return line.substr(line.rfind(' ') + 1); }

// The image's stored sum (little-endian at `at`) as the log writes it.
std::string SumText(const std::vector<std::uint8_t>& image, std::size_t at) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X",
                image[at] | image[at + 1] << 8 | image[at + 2] << 16 | static_cast<std::uint32_t>(image[at + 3]) << 24);
  return text;
}

std::vector<nlohmann::json> LogLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The image a run must program: the same S-record file made into its flash
// memory file here (its build stamp is its own file time, as in the run).
// `code` is the boot image's serial number or the application's model code.
std::vector<std::uint8_t> ExpectedImage(const std::filesystem::path& srec, const std::filesystem::path& dir,
                                        ProductionImageKind kind, const std::string& code = "", char revision = 0) {
  const bool boot = kind == ProductionImageKind::Boot;
  ProductionImageOptions options;
  options.kind = kind;
  (boot ? options.serialNumber : options.modelCode) = code;
  options.hardwareRevision = revision;
  const auto fmf = dir / ("expected-" + srec.stem().string() + ".FMF");
  std::string version;
  EXPECT_EQ(ConvertProductionImage(srec, fmf, options, version), rc::kFileOk) << srec;
  TN820HexFile file(fmf, boot ? 0x40000 : 0, boot ? 0x41FFF : 0x21FFF, boot ? 1 : 2);
  EXPECT_EQ(file.OpenFile() | file.AllocateImage() | file.LoadFile(), rc::kFileOk) << fmf;
  return file.ImageBytes();
}

class Tn835EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("tn835-e2e");
    WriteSRecImage(dir_ / "boot.S", 0x40000, 0x2000, 0x1FE0, "B1.07", 1);
    WriteSRecImage(dir_ / "appl.S", 0, 0x3000, 0x210, "A5.02", 2);
    WriteSRecImage(dir_ / "test.S", 0, 0x800, 0x210, "T2.00", 3);
  }
  std::unique_ptr<SimProcess> Bench(std::vector<std::string> extra = {}) const {
    std::vector<std::string> a{"--controller", "tn835", "--save-flash", (dir_ / "flash.bin").string(),
                               "--save-boot", (dir_ / "boot.bin").string()};
    a.insert(a.end(), extra.begin(), extra.end());
    auto sim = std::make_unique<SimProcess>(a, dir_, "bench", 2);
    EXPECT_EQ(sim->Lines().size(), 2u);
    return sim;
  }
  RunResult Cli(std::vector<std::string> args) const {
    args.insert(args.begin(), {TARNVALE_CLI_PATH, "tn835"});
    args.insert(args.end(), {"--log", (dir_ / "log.jsonl").string(), "--progress", "plain"});
    return RunCommand(args, dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(Tn835EndToEnd, ThreeImagesProgrammedAndLogged) {
  auto sim = Bench();
  const std::string controller = After(sim->Lines()[0]), programmer = After(sim->Lines()[1]);
  const RunResult boot = Cli({"program-boot", "--serial", "sn1234567890abc", "--hw-rev", "c",
                              "--generation", "4", "--programmer-port", programmer, "--boot-file",
                              (dir_ / "boot.S").string()});
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  EXPECT_TRUE(Has(boot.out, "JTAG ID:  0x11F4401D")) << boot.out;
  EXPECT_TRUE(Has(boot.out, "Version:  B1.07")) << boot.out;

  const RunResult test = Cli({"program-test", "--port", controller, "--test-path", (dir_ / "test.S").string()});
  EXPECT_EQ(test.exitCode, 0) << test.out << test.err;
  const RunResult app = Cli({"program-application", "--model", "PR", "--generation", "4", "--port",
                             controller, "--app-path", (dir_ / "appl.S").string()});
  EXPECT_EQ(app.exitCode, 0) << app.out << app.err;
  EXPECT_TRUE(Has(app.out, "Version:  A5.02")) << app.out;
  ASSERT_EQ(sim->Stop(), 0);

  // The controller holds exactly the stamped application image (the test
  // image went before it and was erased), the CPU the stamped boot image.
  const auto appImage = ExpectedImage(dir_ / "appl.S", dir_, ProductionImageKind::Application, "PR");
  EXPECT_EQ(ReadFileBytes(dir_ / "flash.bin"), std::string(appImage.begin(), appImage.end()));
  const auto bootImage = ExpectedImage(dir_ / "boot.S", dir_, ProductionImageKind::Boot, "SN1234567890ABC", 'C');
  EXPECT_EQ(ReadFileBytes(dir_ / "boot.bin"), std::string(bootImage.begin(), bootImage.end()));
  const auto lines = LogLines(dir_ / "log.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["image"], "boot");
  EXPECT_EQ(lines[0]["serial"], "SN1234567890ABC");
  EXPECT_EQ(lines[2]["model"], "PR");
  EXPECT_EQ(lines[0]["image_sum"], SumText(bootImage, 0x1FFC));
  for (const auto& line : lines) EXPECT_EQ(line["result"], "0");
}

// Station mode numbers units from the pattern: all three images per unit,
// the operator in every line, the counter kept for the next start; then the
// history over this log and a second station's with a torn line.
TEST_F(Tn835EndToEnd, StationNumbersUnitsAndTheHistoryReadsThemBack) {
  auto sim = Bench();
  const std::string controller = After(sim->Lines()[0]), programmer = After(sim->Lines()[1]);
  const auto station = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"station", "--units", "1", "--operator", "Ann Lee", "--hw-rev", "B",
                                  "--pattern", "T-{n:03}", "--port", controller, "--programmer-port", programmer,
                                  "--boot-file", (dir_ / "boot.S").string(), "--app-path", (dir_ / "appl.S").string(),
                                  "--test-path", (dir_ / "test.S").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
  };
  const RunResult first = station({"--next", "5"});
  EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_TRUE(Has(first.out, "Unit T-005")) << first.out;
  EXPECT_TRUE(Has(first.out, "Shift: Passed: 3  Failed: 0")) << first.out;
  const RunResult second = station({});  // a new start goes on from the settings
  EXPECT_TRUE(Has(second.out, "Unit T-006")) << second.out;
  sim->Stop();

  const auto lines = LogLines(dir_ / "log.jsonl");
  ASSERT_EQ(lines.size(), 6u);
  for (const auto& line : lines) EXPECT_EQ(line["operator"], "Ann Lee");
  EXPECT_EQ(lines[0]["serial"], "T-005");
  EXPECT_EQ(lines[2]["image"], "test");

  // A second station's log: one of its units, a foreign line, a torn tail.
  const auto other = dir_ / "other.jsonl";
  WriteFileBytes(other, R"({"time":"2026-12-07T23:59:00Z","station":"S2","serial":"T-100","image":"boot","result":"0","result_text":"Success"})"
                        "\n" R"({"note":"not a run"})" "\n" R"({"time":"2026-12-)");
  const auto history = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {TARNVALE_CLI_PATH, "production", "history", "--log", (dir_ / "log.jsonl").string(),
                               other.string()});
    return RunCommand(args, dir_);
  };
  const RunResult unit = history({"--serial", "t-006"});
  EXPECT_EQ(unit.exitCode, 0) << unit.err;
  EXPECT_TRUE(Has(unit.out, "T-006")) << unit.out;
  EXPECT_FALSE(Has(unit.out, "T-005")) << unit.out;
  EXPECT_TRUE(Has(unit.err, "2 lines that are not production records were skipped")) << unit.err;
  // The records as scripts read them: per unit, each run's fields.
  const RunResult runs = history({"--serial", "T-100", "--json"});
  ASSERT_EQ(runs.exitCode, 0) << runs.err;
  const nlohmann::json r = nlohmann::json::parse(runs.out);
  ASSERT_EQ(r["units"].size(), 1u);
  EXPECT_EQ(r["units"][0]["serial"], "T-100");
  EXPECT_EQ(r["units"][0]["runs"][0], (nlohmann::json{{"time", "2026-12-07T23:59:00Z"}, {"station", "S2"},
      {"image", "boot"}, {"version", ""}, {"image_sum", nullptr}, {"result", "0"}, {"result_text", "Success"},
      {"passed", true}, {"log", other.string()}}));
  EXPECT_EQ(r["skipped_lines"], 2);
  const RunResult summary = history({"--summary", "--json"});
  ASSERT_EQ(summary.exitCode, 0) << summary.err;
  const nlohmann::json s = nlohmann::json::parse(summary.out);
  EXPECT_EQ(s["units"], 3);  // T-005, T-006, T-100
  EXPECT_EQ(s["passes"], 7);
  EXPECT_EQ(s["skipped_lines"], 2);
  EXPECT_EQ(history({"--since", "yesterday"}).exitCode, 2);
}

// A simulated TN835 controller on its own (application and test images).
std::unique_ptr<SimProcess> Controller(const std::filesystem::path& dir, std::vector<std::string> args) {
  return std::make_unique<SimProcess>(args, dir, "tn835", 1);
}

// Two stations program two units at the same moment from one temp folder:
// each unit must get the image of its own file, and each log line must name
// the sum of the image its unit got.
TEST_F(Tn835EndToEnd, TwoRunsAtOnceEachProgramTheirOwnImage) {
  const std::array<std::filesystem::path, 2> sources{dir_ / "test-a.S", dir_ / "test-b.S"};
  WriteSRecImage(sources[0], 0, 0x3000, 0x210, "TA1", 11);
  WriteSRecImage(sources[1], 0, 0x3000, 0x210, "TB2", 12);
  const std::array<std::vector<std::uint8_t>, 2> expected{ExpectedImage(sources[0], dir_, ProductionImageKind::Test),
                                                          ExpectedImage(sources[1], dir_, ProductionImageKind::Test)};
  ASSERT_NE(expected[0], expected[1]);
  const auto log = dir_ / "two.jsonl";
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::array<std::unique_ptr<SimProcess>, 2> units;
    std::array<std::unique_ptr<Background>, 2> runs;
    for (std::size_t i = 0; i < 2; ++i) {
      units[i] = Controller(dir_, {"--erase-ms", "20", "--save-flash", (dir_ / ("unit-" + std::to_string(i) + ".bin")).string()});
    }
    for (std::size_t i = 0; i < 2; ++i) {
      runs[i] = std::make_unique<Background>(
          std::vector<std::string>{TARNVALE_CLI_PATH, "tn835", "program-test", "--port", units[i]->Port(),
                                   "--test-path", sources[i].string(), "--log", log.string(), "--progress", "plain"},
          dir_, "run-" + std::to_string(i));
    }
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(runs[i]->Wait(60000), 0) << "unit " << i;
    for (std::size_t i = 0; i < 2; ++i) {
      ASSERT_EQ(units[i]->Stop(), 0);
      EXPECT_TRUE(ReadFileBytes(dir_ / ("unit-" + std::to_string(i) + ".bin")) ==
                  std::string(expected[i].begin(), expected[i].end()))
          << "unit " << i << " holds another image";
    }
  }
  const auto lines = LogLines(log);
  ASSERT_EQ(lines.size(), 2u * kRounds);
  for (const auto& line : lines) {
    const std::size_t i = line["source"] == sources[0].string() ? 0 : 1;
    ASSERT_EQ(line["source"], sources[i].string());
    EXPECT_EQ(line["image_sum"], SumText(expected[i], 0x1FFDC));
    EXPECT_EQ(line["result"], "0");
  }
  // Every run removed its own folder from the shared temp folder.
  ConfigData settings;
  settings.Load();
  for (const auto& entry : std::filesystem::directory_iterator(settings.GetUserTempPath())) {
    EXPECT_EQ(entry.path().filename().string().rfind("tn835-run-", 0), std::string::npos) << entry.path();
  }
}

// Each tn835 command ends with the documented exit code of its outcome.
TEST_F(Tn835EndToEnd, EveryOutcomeHasItsExitCode) {
  struct Case {
    const char* what;
    bool bench;                     // the box and the TN835 CPU; else a controller alone
    std::vector<std::string> sim;   // simulator options
    std::vector<std::string> args;  // the command and its options, without the port
    int exitCode;
    const char* says;               // in stdout or stderr
    int logged;                     // lines the run adds to the log
    nlohmann::json record = nlohmann::json::object();  // fields of its line
  };
  const std::string boot = (dir_ / "boot.S").string(), appl = (dir_ / "appl.S").string(),
                    test = (dir_ / "test.S").string();
  const Case cases[] = {
      {"application, link lost", false, {"--fault", "close-after:3"}, {"program-application", "--app-path", appl}, 4,
       "Link Lost", 1},
      {"boot, wrong JTAG ID", true, {"--jtag-id", "28270013"},
       {"program-boot", "--serial", "7", "--hw-rev", "A", "--boot-file", boot}, 1,
       "Invalid JTAG ID 0x28270013 for TN820, should read 0x11f4401d", 1, {{"result", "D"}, {"jtag_id", "0x28270013"}}},
      {"application, a generation-5 part as generation 4", false, {},
       {"program-application", "--app-path", appl, "--generation", "4", "--nav", "528301"}, 2,
       "The Entered NAV Number Does Not Match a Valid Version 4 Number!", 0},
      {"application, an unknown model", false, {}, {"program-application", "--model", "XY"}, 2,
       "--model wants a model code (EF, N, K, B, M, R, PR, Z, F, G, TN835, NT835) or a list index 0 to 11: XY", 0},
      {"test, a scanned part number with blanks", false, {},
       {"program-test", "--test-path", test, "--generation", "4", "--nav", " 314061 ", "--serial", " sn9 ", "--hw-rev", "b"},
       0, "Result:   Success", 1, {{"nav", "314061"}, {"serial", "SN9"}, {"hw_rev", "B"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto log = dir_ / "log.jsonl";
    std::filesystem::remove(log);
    auto sim = c.bench ? Bench(c.sim) : Controller(dir_, c.sim);
    std::vector<std::string> args = c.args;
    args.push_back(c.bench ? "--programmer-port" : "--port");
    args.push_back(c.bench ? After(sim->Lines()[1]) : sim->Port());
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.says)) << r.out << r.err;
    const auto lines = std::filesystem::exists(log) ? LogLines(log) : std::vector<nlohmann::json>{};
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.logged));
    for (const auto& [field, value] : c.record.items()) EXPECT_EQ(lines[0][field], value) << field;
  }
}

}  // namespace
}  // namespace tarnvale::test
