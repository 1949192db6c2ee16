// TN835 production programming against the simulated TN835 bench: the CLI's
// three buttons, the images in the simulator's memory, the production log,
// and "Program Boot" followed by "Program Application" in one process.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/flash/ProgrammingEngine.h"
#include "core/formats/ProductionImage.h"
#include "core/formats/TN820HexFile.h"
#include "core/production/ProductionModel.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

// "controller pty /dev/pts/N": the endpoint after the last space.
std::string After(const std::string& line) { return line.substr(line.rfind(' ') + 1); }

// An S-record image of `size` bytes placed at byte address `base` with a
// version text (length byte first) at `versionAt`.
void WriteSRec(const std::filesystem::path& path, std::uint64_t base, std::size_t size,
               std::size_t versionAt, const std::string& version, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes = PseudoRandomBytes(size, seed);
  bytes[versionAt] = static_cast<std::uint8_t>(version.size());
  std::copy(version.begin(), version.end(), bytes.begin() + static_cast<long>(versionAt) + 1);
  SRecText s;
  AppendSRecWords(s, base, bytes);
  s.Record(7, 0);
  s.WriteTo(path);
}

std::vector<std::uint8_t> FmfImage(const std::filesystem::path& fmf, std::uint32_t base,
                                   std::uint32_t end, std::uint32_t layout) {
  TN820HexFile file(fmf, base, end, layout);
  EXPECT_EQ(file.OpenFile(), rc::kFileOk) << fmf;
  EXPECT_EQ(file.AllocateImage(), rc::kFileOk);
  EXPECT_EQ(file.LoadFile(), rc::kFileOk);
  return file.ImageBytes();
}

std::vector<nlohmann::json> LogLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The image a run must program: the same S-record file made into its flash
// memory file here (its build stamp is its own file time, as in the run).
std::vector<std::uint8_t> ExpectedImage(const std::filesystem::path& srec, const std::filesystem::path& dir,
                                        ProductionImageOptions options) {
  const bool boot = options.kind == ProductionImageKind::Boot;
  const auto fmf = dir / ("expected-" + srec.stem().string() + ".FMF");
  std::string version;
  EXPECT_EQ(ConvertProductionImage(srec, fmf, options, version), rc::kFileOk) << srec;
  return FmfImage(fmf, boot ? 0x40000 : 0, boot ? 0x41FFF : 0x21FFF, boot ? 1 : 2);
}

ProductionImageOptions ApplicationOptions(const std::string& modelCode) {
  ProductionImageOptions o;
  o.modelCode = modelCode;
  return o;
}

class Tn835EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("tn835-e2e");
    WriteSRec(dir_ / "boot.S", 0x40000, 0x2000, 0x1FE0, "B1.07", 1);
    WriteSRec(dir_ / "appl.S", 0, 0x3000, 0x210, "A5.02", 2);
    WriteSRec(dir_ / "test.S", 0, 0x800, 0x210, "T2.00", 3);
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
  const auto appImage = ExpectedImage(dir_ / "appl.S", dir_, ApplicationOptions("PR"));
  EXPECT_EQ(ReadFileBytes(dir_ / "flash.bin"), std::string(appImage.begin(), appImage.end()));
  EXPECT_EQ(appImage[0x220], 'P');
  EXPECT_EQ(appImage[0x221], 'R');
  ProductionImageOptions bootOptions;
  bootOptions.kind = ProductionImageKind::Boot;
  bootOptions.serialNumber = "SN1234567890ABC";
  bootOptions.hardwareRevision = 'C';
  const auto bootImage = ExpectedImage(dir_ / "boot.S", dir_, bootOptions);
  EXPECT_EQ(ReadFileBytes(dir_ / "boot.bin"), std::string(bootImage.begin(), bootImage.end()));
  // Serial record: 15 characters in capitals behind their length; the
  // revision letter; the sum over everything else, serial included.
  EXPECT_EQ(std::string(bootImage.begin() + 0x1FD0, bootImage.begin() + 0x1FE0),
            std::string("\x0f" "SN1234567890ABC"));
  EXPECT_EQ(bootImage[0x1FEF], 'C');
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 0x1FFC; ++i) sum += bootImage[i];
  const std::uint32_t stored = bootImage[0x1FFC] | bootImage[0x1FFD] << 8 | bootImage[0x1FFE] << 16 |
                               static_cast<std::uint32_t>(bootImage[0x1FFF]) << 24;
  EXPECT_EQ(stored, sum);

  const auto lines = LogLines(dir_ / "log.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["image"], "boot");
  EXPECT_EQ(lines[0]["serial"], "SN1234567890ABC");
  EXPECT_EQ(lines[0]["jtag_id"], "0x11F4401D");
  EXPECT_EQ(lines[0]["version"], "B1.07");
  EXPECT_EQ(lines[0]["generation"], "4");
  EXPECT_EQ(lines[1]["image"], "test");
  EXPECT_EQ(lines[2]["model"], "PR");
  char sumText[16];
  std::snprintf(sumText, sizeof sumText, "0x%08X", sum);
  EXPECT_EQ(lines[0]["image_sum"], sumText);
  for (const auto& line : lines) {
    EXPECT_EQ(line["result"], "0");
    EXPECT_EQ(line["result_text"], "Success");
    EXPECT_FALSE(line["build_stamp"].is_null());
  }
}

TEST_F(Tn835EndToEnd, WrongJtagIdAndMissingFileFailWithTheirStatus) {
  auto sim = Bench({"--jtag-id", "28270013"});
  const std::string controller = After(sim->Lines()[0]), programmer = After(sim->Lines()[1]);
  const RunResult boot = Cli({"program-boot", "--serial", "1", "--hw-rev", "A", "--programmer-port",
                              programmer, "--boot-file", (dir_ / "boot.S").string()});
  EXPECT_EQ(boot.exitCode, 1);
  EXPECT_TRUE(Has(boot.out + boot.err, "Invalid JTAG ID 0x28270013 for TN820, should read 0x11f4401d"))
      << boot.out << boot.err;
  EXPECT_TRUE(Has(boot.out, "JTAG ID:  0x28270013")) << boot.out;

  const RunResult app = Cli({"program-application", "--port", controller, "--app-path",
                             (dir_ / "missing.S").string()});
  EXPECT_EQ(app.exitCode, 5);
  EXPECT_TRUE(Has(app.err, (dir_ / "missing.S").string())) << app.err;
  const RunResult model = Cli({"program-application", "--model", "XY", "--port", controller});
  EXPECT_EQ(model.exitCode, 2);

  sim->Stop();

  // The cable off: no ID at all is a link fault, and the record keeps none.
  auto noJtag = Bench({"--no-jtag"});
  const RunResult silent = Cli({"program-boot", "--serial", "1", "--hw-rev", "A", "--programmer-port",
                                After(noJtag->Lines()[1]), "--boot-file", (dir_ / "boot.S").string()});
  EXPECT_EQ(silent.exitCode, 4) << silent.out << silent.err;

  const auto lines = LogLines(dir_ / "log.jsonl");
  ASSERT_EQ(lines.size(), 3u);  // a refused argument programs nothing and logs nothing
  EXPECT_EQ(lines[0]["result"], "D");
  EXPECT_EQ(lines[0]["jtag_id"], "0x28270013");
  EXPECT_EQ(lines[1]["result"], "4");
  EXPECT_EQ(lines[2]["result"], "A");
  EXPECT_TRUE(lines[2]["jtag_id"].is_null());
}

// The engine behind a programming dialog: the erase wait, then the stream.
class EngineRunner : public JobRunner, private ProgrammingEvents {
 public:
  ResultCode RunProgramming(const ProgrammingRequest& request) override {
    const EraseOutcome erase = EraseFlash(*request.port, request.timings, nullptr);
    if (erase.kind != EraseOutcome::Kind::Erased) return rc::kTimeout;
    ProgrammingEngine engine(request, *this);
    return engine.Run();
  }
  ResultCode RunMemoryRead(const MemoryReadRequest&) override { return rc::kUnknownCommand; }

 private:
  void OnTotal(std::uint32_t) override {}
  void OnProgress(std::uint32_t) override {}
  void OnNotice(const std::string&) override {}
  void OnResult(ResultCode) override {}
};

TEST_F(Tn835EndToEnd, ApplicationRightAfterBootNeedsNoLongWait) {
  auto sim = Bench();
  ConfigData settings;
  settings.Load();
  settings.SetCOMPort(After(sim->Lines()[0]));
  settings.SetAuxCOMPort(After(sim->Lines()[1]));
  RecordingOperator op;
  LinkState link(settings, &op);
  ProductionOptions options;
  options.timings.eraseTimeoutMs = 5000;  // a lost erase would show here, not after 6 minutes
  options.logFile = dir_ / "log.jsonl";
  ProductionModel model(ProductionSources::FromSettings(settings), 5, options);
  model.OverrideBootPath((dir_ / "boot.S").string());
  model.OverrideApplicationPath((dir_ / "appl.S").string());
  model.SetSerialNumber("X1");
  model.SetHardwareRevision("B");
  EngineRunner runner;
  link.BeginCommand();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(model.ProgramBoot(link, op, runner), rc::kSuccess) << ::testing::PrintToString(op.MessageTexts());
  EXPECT_EQ(model.ProgramApplication(link, op, runner), rc::kSuccess)
      << ::testing::PrintToString(op.MessageTexts());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(model.BootVersion(), "B1.07");
  EXPECT_EQ(model.ApplicationVersion(), "A5.02");
  EXPECT_EQ(model.JtagIdText(), "0x11F4401D");
  link.EndCommand();
  ASSERT_EQ(sim->Stop(), 0);
  const auto appImage = ExpectedImage(dir_ / "appl.S", dir_, ApplicationOptions("EF"));
  EXPECT_EQ(ReadFileBytes(dir_ / "flash.bin"), std::string(appImage.begin(), appImage.end()));
  EXPECT_EQ(LogLines(dir_ / "log.jsonl").size(), 2u);
}

}  // namespace
}  // namespace tarnvale::test
