// tarnvale-cli hex scan, hex stream and srec convert: the output scripts parse.
#include <gtest/gtest.h>

#include <sstream>

#include "FormatsTestUtil.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(TARNVALE_CLI_PATH)) {
      GTEST_SKIP() << "tarnvale-cli is not built (" << TARNVALE_CLI_PATH << ")";
    }
    dir_ = test::MakeTempDir("cli");
  }

  CliRun Run(const std::string& args) {
    const auto errFile = dir_ / "stderr.txt";
    CliRun r;
    r.status = test::RunCommand(test::Quote(TARNVALE_CLI_PATH) + " " + args + " 2>" + test::Quote(errFile), &r.out);
    r.err = test::ReadFileBytes(errFile);
    return r;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::filesystem::path dir_;
};

TEST_F(Cli, ScanOfAFlashMemoryFileGivesItsLandmarks) {
  test::FmfSpec recipe;
  recipe.generation = 4;
  recipe.applicationStart = 0x03FE0000;
  recipe.version = "4.57.05";
  recipe.identity = {0x0A, 0xBC};
  recipe.model = "RQ7\"50";  // a quote to be escaped
  recipe.serial = "SN0042";
  recipe.revision = 'C';
  const auto path = dir_ / "app.FMF";
  test::WriteFmf(path, recipe);

  const CliRun json = Run("hex scan --json " + test::Quote(path));
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"result\": 0, \"lowest\": 62914560, \"highest\": 67108863, \"mode\": 2, "
            "\"generation\": 4, \"application_start\": 66977792, \"version\": \"4.57.05\", "
            "\"model\": \"RQ7\\\"50\", \"identity\": \"0ABC\", \"serial\": \"SN0042\", "
            "\"revision\": \"C\"}\n");

  const CliRun text = Run("hex scan " + test::Quote(path));
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(Lines(text.out), (std::vector<std::string>{
                                 "result: 0", "lowest: 0x03C00000", "highest: 0x03FFFFFF", "mode: 2",
                                 "generation: 4", "application_start: 0x03FE0000", "version: 4.57.05",
                                 "model: RQ7\"50", "identity: 0ABC", "serial: SN0042", "revision: C"}));
}

TEST_F(Cli, ScanOfPlainHexAndFailures) {
  HexText t;
  t.Data(0x0100, {1, 2}).StartLinear(0x00, 0x01, 0x00, 0x00).EndOfFile();
  const auto path = dir_ / "plain.hex";
  t.WriteTo(path);
  const CliRun ok = Run("hex scan --json " + test::Quote(path));
  ASSERT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out,
            "{\"result\": 0, \"lowest\": 4294967295, \"highest\": 257, \"mode\": 0, \"start\": 256, "
            "\"generation\": 0}\n");

  const CliRun missing = Run("hex scan --json " + test::Quote(dir_ / "none.hex"));
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.out, "{\"result\": 4}\n");
  EXPECT_NE(missing.err.find("Can't Open Input File"), std::string::npos);

  // A flash file whose start address landmark is missing.
  HexText fmf;
  fmf.ExtendedLinear(0x03C0).Data(0, {1}).EndOfFile();
  fmf.WriteTo(dir_ / "nostart.FMF");
  const CliRun noStart = Run("hex scan --json " + test::Quote(dir_ / "nostart.FMF"));
  EXPECT_NE(noStart.status, 0);
  EXPECT_EQ(noStart.out.rfind("{\"result\": 10, \"lowest\": 62914560", 0), 0u) << noStart.out;
  EXPECT_EQ(noStart.out.find("application_start"), std::string::npos);
  EXPECT_NE(noStart.err.find("Unable to Find Application Starting Address."), std::string::npos);
}

TEST_F(Cli, StreamPrintsOnePacketPerLine) {
  HexText t;
  t.ExtendedLinear(0x03C0).Data(0x0000, {0x11, 0x22}).ExtendedLinear(0x03C1).Data(0x0040, {0x33})
      .StartLinear(0x00, 0x00, 0xC0, 0x03).EndOfFile();
  const auto path = dir_ / "s.hex";
  t.WriteTo(path);

  // Flash: from the lowest address to the top, two lanes, no start packet.
  const CliRun flash = Run("hex stream " + test::Quote(path) + " --target 1");
  ASSERT_EQ(flash.status, 0) << flash.err;
  const auto lines = Lines(flash.out);
  ASSERT_EQ(lines.size(), 64u + 2 + 1) << "64 segments announced, 2 data packets, the end";
  EXPECT_EQ(lines[0], "3A0200000403C037");
  EXPECT_EQ(lines[1].substr(0, 14), "3A200000001122");
  EXPECT_EQ(lines[2], "3A0200000403C136");
  EXPECT_EQ(lines[3].substr(0, 12), "3A2000400033");
  EXPECT_EQ(lines.back(), "3A00000001FF");
  for (const auto& line : lines) {
    EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
  }

  // Load: lowest to highest, with the start address packet.
  const CliRun load = Run("hex stream " + test::Quote(path) + " --target 1 --load");
  ASSERT_EQ(load.status, 0) << load.err;
  const auto loadLines = Lines(load.out);
  ASSERT_EQ(loadLines.size(), 6u);
  EXPECT_EQ(loadLines[4], "3A040000050000C00334");
  EXPECT_EQ(loadLines[5], "3A00000001FF");

  // An explicit range and lane count.
  const CliRun ranged = Run("hex stream " + test::Quote(path) +
                            " --target 1 --base 0x03C10000 --end 0x03C1007F --lanes 1");
  ASSERT_EQ(ranged.status, 0) << ranged.err;
  // One lane gives the same bytes here: only the segment of the range is announced.
  EXPECT_EQ(Lines(ranged.out), (std::vector<std::string>{lines[2], lines[3], "3A00000001FF"}));
}

TEST_F(Cli, StreamOfProgrammerTargetsAndFailures) {
  HexText pic;
  pic.Data(0x0000, {0x01}).EndOfFile();
  pic.WriteTo(dir_ / "pic.hex");
  const CliRun p18 = Run("hex stream " + test::Quote(dir_ / "pic.hex") + " --target 2");
  ASSERT_EQ(p18.status, 0) << p18.err;
  EXPECT_EQ(Lines(p18.out).size(), 1028u);
  const CliRun p30 = Run("hex stream " + test::Quote(dir_ / "pic.hex") + " --target 3");
  EXPECT_EQ(Lines(p30.out).size(), 260u);

  const std::string record = "43" "42" "06" "4354524C3031" + std::string(18, '0') +  // 'C' 'B', "CTRL01"
                             "03" "435055" + std::string(24, '0') +                   // "CPU"
                             "02" "494F" + std::string(26, '0') +                     // "IO"
                             std::string(24, '0');                                    // flash id
  ASSERT_EQ(record.size(), 124u);
  HexText boot;
  boot.ExtendedLinear(0x03FF).Data(0xC000, {0x55}).EndOfFile();
  boot.WriteTo(dir_ / "boot.hex");
  const CliRun b = Run("hex stream " + test::Quote(dir_ / "boot.hex") + " --target 4 --board-info " + record);
  ASSERT_EQ(b.status, 0) << b.err;
  const auto bootLines = Lines(b.out);
  ASSERT_EQ(bootLines.size(), 514u);
  EXPECT_EQ(bootLines[0], "3A0200000403FFF8");
  EXPECT_EQ(bootLines[1].substr(0, 12), "3A20C0000055");

  const CliRun noRecord = Run("hex stream " + test::Quote(dir_ / "boot.hex") + " --target 4");
  EXPECT_NE(noRecord.status, 0);
  EXPECT_NE(noRecord.err.find("Un-recognized return code - 18"), std::string::npos) << noRecord.err;

  test::WriteFileBytes(dir_ / "bad.hex", ":0100000001FF\n");
  const CliRun bad = Run("hex stream " + test::Quote(dir_ / "bad.hex") + " --target 1 --base 0 --end 0xFF");
  EXPECT_NE(bad.status, 0);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_NE(bad.err.find("Error in Hex File"), std::string::npos);
}

TEST_F(Cli, SrecConvertWritesTheFmfAndPrintsTheVersion) {
  std::vector<std::uint8_t> one(0x400, 0x00);
  one[0x210] = 7;
  std::copy_n("5.01.02", 7, one.begin() + 0x211);
  test::SRecText t;
  test::AppendSRecWords(t, 0, one);
  t.Record(7, 0);
  t.WriteTo(dir_ / "app.S");
  const CliRun app = Run("srec convert " + test::Quote(dir_ / "app.S") + " " + test::Quote(dir_ / "out.FMF") +
                         " --image application --model K");
  ASSERT_EQ(app.status, 0) << app.err;
  EXPECT_EQ(app.out, "5.01.02\n");
  const std::string fmf = test::ReadFileBytes(dir_ / "out.FMF");
  EXPECT_EQ(fmf.rfind(":020000040000FA\n", 0), 0u);
  // Model code K at 0x220, in the record for 0x220.
  EXPECT_NE(fmf.find(":20022000" "4B00"), std::string::npos);

  const CliRun boot = Run("srec convert " + test::Quote(dir_ / "app.S") + " " + test::Quote(dir_ / "b.FMF") +
                          " --image boot --hw-rev C");
  EXPECT_NE(boot.status, 0);
  EXPECT_NE(boot.err.find("You must enter a valid serial number"), std::string::npos);
  const CliRun noRev = Run("srec convert " + test::Quote(dir_ / "app.S") + " " + test::Quote(dir_ / "b.FMF") +
                           " --image boot --serial 123");
  EXPECT_NE(noRev.err.find("You must enter a Hardware Revision"), std::string::npos);
  const CliRun missing = Run("srec convert " + test::Quote(dir_ / "none.S") + " " + test::Quote(dir_ / "b.FMF") +
                             " --image test");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.err.find("Can't Open Input File"), std::string::npos);
}

}  // namespace
}  // namespace tarnvale
