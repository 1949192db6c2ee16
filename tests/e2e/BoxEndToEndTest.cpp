// The box, CPU board, pic18, pic30 and boot commands of the CLI against
// tarnvale-sim box, over a pseudo-terminal and over loopback TCP.
#include <gtest/gtest.h>

#include "core/formats/ProgrammerHexFiles.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

// Run once over a pseudo-terminal (parameter false) and once over loopback
// TCP (true): tarnvale-sim box on that link, its RAM tests taking 200 ms
// rather than their real time, and CLI runs pointed at it as the programmer
// port.
class BoxEndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { dir_ = MakeTempDir("box-e2e"); }
  std::unique_ptr<SimProcess> Box(const std::vector<std::string>& extra) const {
    std::vector<std::string> a{GetParam() ? "--tcp" : "--pty"};
    if (GetParam()) a.push_back("127.0.0.1:0");
    a.insert(a.end(), {"--ram-ms", "200"});
    a.insert(a.end(), extra.begin(), extra.end());
    return std::make_unique<SimProcess>(a, dir_, "box");
  }
  RunResult Cli(const SimProcess& sim, std::vector<std::string> args) const {
    args.insert(args.begin(), TARNVALE_CLI_PATH);
    args.insert(args.end(), {"--programmer-port", sim.Port()});
    return RunCommand(args, dir_);
  }
  std::filesystem::path dir_;
};

TEST_P(BoxEndToEnd, IdentificationCommands) {
  auto sim = Box({"--version", "UP 9.9", "--cpu-rev", "B", "--serial", "RQ12345"});
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string out;
  };
  const Case cases[] = {
      {{"box", "version"}, 0, "Universal Programmer Version UP 9.9\n"},
      {{"box", "jtag-id", "--target", "tn835"}, 0, "JTAG ID = 0x11F4401D\n"},
      {{"box", "board-info", "--json"}, 0,
       R"({"cpu_revision":"B","io_revision":"B","serial":"RQ12345","cpu_serial":"CPU0001",)"
       R"("io_serial":"IO0001","flash_id":["3131","BDBD","3131","BDBD","3131","BDBD"],)"
       R"("device":"CAT28F020 Catalyst","flash_id_valid":true,"complete":true})"
       "\n"},
      // Arguments the box cannot take are refused before it is asked.
      {{"cpu-test", "ram", "6"}, 2, ""},
      {{"box", "board-info", "--cpu-rev", "e"}, 2, ""},
      {{"box", "jtag-id", "--target", "pic"}, 2, ""},
  };
  for (const Case& c : cases) {
    const RunResult r = Cli(*sim, c.args);
    EXPECT_EQ(r.exitCode, c.exit) << c.args[1] << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
}

TEST_P(BoxEndToEnd, PinTestNamesEveryFailingPinPerStage) {
  auto sim = Box({"--stuck", "A7=0", "--short", "D3,D4"});
  const RunResult r = Cli(*sim, {"cpu-test", "pins"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "Set All Pins High and Test: FAIL\n  A7 expected 1 read 0\n")) << r.out;
  // The verdict counts the failing pins; the diagnosis names each fault once.
  EXPECT_TRUE(Has(r.err, "CPU pin test failed: 3 failing pins\n")) << r.err;
  EXPECT_TRUE(Has(r.out,
                  "Diagnosis:\n"
                  "  A7 stuck at 0 \u2014 stage 2 (Set All Pins High and Test), step 1\n"
                  "  D3\u2013D4 shorted \u2014 stage 6 (Test walking 1's on Data Lines), step 4\n"))
      << r.out;

  const RunResult json = Cli(*sim, {"cpu-test", "pins", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_TRUE(Has(json.out,
                  R"({"event":"diagnosis","failing_pins":3,"findings":[{"pin":"A7","fault":"stuck_at_0",)"
                  R"("partner":null,"stage":2,"step":1,"expected":1,"read":0,"text":"A7 stuck at 0"},)"
                  R"({"pin":"D3","fault":"shorted","partner":"D4","stage":6,"step":4,"expected":1,"read":0,)"))
      << json.out;
  EXPECT_TRUE(Has(json.out, R"({"event":"result","code":68,"text":"CPU pin test failed: 3 failing pins","failing_pins":3})"))
      << json.out;
}

TEST_P(BoxEndToEnd, RamBankRunsAndTheirFailures) {
  auto sim = Box({"--ram-fail", "180004=1234,1235"});
  const RunResult ok = Cli(*sim, {"cpu-test", "ram", "1", "--progress", "json"});
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_TRUE(Has(ok.out, R"({"event":"progress","percent":50})")) << ok.out;
  EXPECT_TRUE(Has(ok.out, R"({"event":"result","code":48,"text":"Success"})")) << ok.out;

  const RunResult load = Cli(*sim, {"cpu-test", "ram", "2", "--load", "--progress", "plain"});
  EXPECT_EQ(load.exitCode, 0) << load.err;
  EXPECT_TRUE(Has(load.out, "Loading RAM Bank 2\nSuccess\n")) << load.out;

  const RunResult bad = Cli(*sim, {"cpu-test", "ram", "2", "--progress", "plain"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_TRUE(Has(bad.err, "Failed at address = 0x180004, Data1 = 0x1234, Data2 = 0x1235 \n")) << bad.err;
}

// Each box command under one fault in a fixed rotation over the faults it can
// meet (a box that answers, one that stays silent, a link lost at once, a
// JTAG cable that is off, a chip that is not the 80386EX, a missing input
// file), every fault met by several commands: each ends with its documented
// exit status, and a board that does not give the 80386EX's JTAG ID is sent
// nothing but the selection and the ID read. Over a pseudo-terminal only.
TEST(BoxExitStatus, EachCommandUnderARotatingFault) {
  const auto dir = MakeTempDir("box-status");
  std::vector<std::uint8_t> code = PseudoRandomBytes(16384, 3);
  code[16352] = 0;  // no boot version text
  const auto fmf = dir / "BOOT.FMF";
  WriteHexImage(fmf, 0x3FFC000, code);
  const auto hex = dir / "PIC.HEX";
  WriteHexImage(hex, 0, PseudoRandomBytes(0x8000, 4));
  const std::string missing = (dir / "MISSING.FMF").string();
  constexpr int kNotRun = -1;
  enum Fault { kAnswers, kSilent, kLost, kCableOff, kWrongChip, kMissingFile, kFaults };
  const std::vector<std::string> simArgs[kFaults] = {
      {}, {"--fault", "silent-after:0"}, {"--fault", "close-after:0"}, {"--cable-off"}, {"--jtag-id", "12345678"}, {}};
  const std::string jtagText[kFaults] = {
      "", "", "", "Make sure JTAG cable is connected from universal programmer to 7193 80386EX JTAG header.",
      "Invalid JTAG ID 0x12345678, should read 0x28270013 for 80386EX CPU", ""};
  struct Row {
    std::vector<std::string> args;  // "{file}": the command's input file
    std::string file;
    int exit[kFaults];
  };
  // Not run: a good PIC18F252 flash (its 5 ms per packet is covered in
  // process and by the file tests), and the silent cases of the commands that
  // wait the box's full 5 s for a status they do not select first.
  const Row rows[] = {
      {{"box", "version"}, "", {0, kNotRun, 4, kNotRun, kNotRun, kNotRun}},
      {{"box", "jtag-id"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"box", "board-info"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"cpu-test", "pins"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"cpu-test", "ram", "1"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"boot", "program", "{file}", "--serial", "RQ1", "--cpu-serial", "C1", "--io-serial", "I1"}, fmf.string(),
       {0, 4, 4, 4, 1, 5}},
      {{"boot", "read", (dir / "read.txt").string()}, "", {0, 4, 4, 4, 1, kNotRun}},
      // The simulated flash is blank: the verify that reads it finds a difference.
      {{"boot", "verify", "{file}"}, fmf.string(), {1, 4, 4, 4, 1, 5}},
      {{"boot", "erase"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"boot", "blank"}, "", {0, 4, 4, 4, 1, kNotRun}},
      {{"pic18", "flash", "{file}"}, hex.string(), {kNotRun, 4, 4, kNotRun, kNotRun, 5}},
      {{"pic30", "flash", "{file}"}, hex.string(), {0, 4, 4, kNotRun, kNotRun, 5}},
      {{"pic18", "blank"}, "", {0, kNotRun, 4, kNotRun, kNotRun, kNotRun}},
      {{"pic18", "erase"}, "", {0, kNotRun, 4, kNotRun, kNotRun, kNotRun}},
      {{"pic18", "id"}, "", {0, 4, 4, kNotRun, kNotRun, kNotRun}},
  };
  const std::vector<std::string> quickSelect = EnvironmentWith("TARNVALE_SELECT_WAIT_MS", "100");
  int next = 0;  // the rotation: each row takes the first fault it can meet from here
  std::vector<int> met(kFaults, 0);
  for (const Row& row : rows) {
    int f = next;
    while (row.exit[f] == kNotRun) f = (f + 1) % kFaults;
    next = (f + 1) % kFaults;
    ++met[f];
    const auto log = dir / "box.log";
    std::vector<std::string> args = simArgs[f];
    args.insert(args.begin(), {"--pty", "--ram-ms", "200", "--log", log.string()});
    SimProcess sim(args, dir, "box");
    std::vector<std::string> cli{TARNVALE_CLI_PATH};
    for (const std::string& a : row.args) cli.push_back(a != "{file}" ? a : f == kMissingFile ? missing : row.file);
    cli.insert(cli.end(), {"--programmer-port", sim.Port()});
    // Only a box that never answers may have its selection wait cut short.
    const RunResult r = RunCommand(cli, dir, 60000, f == kSilent ? &quickSelect : nullptr);
    sim.Stop();
    SCOPED_TRACE(row.args[0] + " " + row.args[1] + ", fault " + std::to_string(f));
    EXPECT_EQ(r.exitCode, row.exit[f]) << r.out << r.err;
    if (f == kMissingFile) {
      EXPECT_TRUE(Has(r.err, missing)) << r.err;
    }
    if (f == kCableOff || f == kWrongChip) {
      EXPECT_TRUE(Has(r.err, jtagText[f])) << r.err;
      // The selection and the ID read, and nothing for the board itself.
      const std::string packets = ReadFileBytes(log);
      std::size_t others = 0;
      for (std::size_t at = packets.find("type 0x"); at != std::string::npos; at = packets.find("type 0x", at + 1)) {
        const std::string type = packets.substr(at + 5, 4);
        others += type != "0x19" && type != "0x18";
      }
      EXPECT_EQ(others, 0u) << packets;
    }
  }
  for (int f = 0; f < kFaults; ++f) EXPECT_GT(met[f], 0) << "fault " << f << " met by no command";
}

INSTANTIATE_TEST_SUITE_P(Transports, BoxEndToEnd, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Tcp" : "Pty"; });

// The pic18, pic30 and boot commands.
using PicBootEndToEnd = BoxEndToEnd;

// The image a boot file gives for the board record the test programs.
std::vector<std::uint8_t> BootImage(const std::filesystem::path& fmf) {
  BoardInfoRecord record;
  record.SetCpuRevision('C');
  record.SetIoRevision('B');
  record.SetSerial(BoardInfoRecord::kControllerSerial, "RQ9");
  record.SetSerial(BoardInfoRecord::kCpuSerial, "C77");
  record.SetSerial(BoardInfoRecord::kIoSerial, "I88");
  Boot386IntelHexFile file(fmf, record);
  EXPECT_EQ(file.OpenFile() | file.AllocateImage() | file.LoadFile(), 0);
  return file.ImageBytes();
}

TEST_P(PicBootEndToEnd, BootProgramThenReadBackEqualsTheImage) {
  auto sim = Box({"--cpu-rev", "C", "--io-rev", "B"});
  std::vector<std::uint8_t> code = PseudoRandomBytes(16384, 3);
  code[16352] = 3;  // the boot version text, length first
  std::copy_n("V2a", 3, code.begin() + 16353);
  const auto fmf = dir_ / "BOOT.FMF";
  WriteHexImage(fmf, 0x3FFC000, code);
  const RunResult program = Cli(*sim, {"boot", "program", fmf.string(), "--serial", "RQ9", "--cpu-serial", "C77",
                                       "--io-serial", "I88", "--progress", "plain"});
  ASSERT_EQ(program.exitCode, 0) << program.out << program.err;
  EXPECT_TRUE(Has(program.out, "Boot Version = V2a")) << program.out;

  const auto out = dir_ / "read.txt";
  const RunResult read = Cli(*sim, {"boot", "read", out.string(), "--cpu-rev", "C", "--progress", "plain"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  // The flash holds the file's image with this board's record: its checksum
  // (the lines of the file: BootReadBack).
  const auto image = BootImage(fmf);
  EXPECT_TRUE(std::filesystem::exists(out));
  const std::uint32_t sum = image[16380] | image[16381] << 8 | image[16382] << 16 |
                            static_cast<std::uint32_t>(image[16383]) << 24;
  char checksum[40];
  std::snprintf(checksum, sizeof checksum, "Image Checksum = 0x%04X", sum);
  EXPECT_TRUE(Has(read.out, checksum)) << read.out;
  const RunResult verify = Cli(*sim, {"boot", "verify", fmf.string()});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

TEST_P(PicBootEndToEnd, PicCommands) {
  auto sim = Box({"--eeprom-bad", "10"});
  const auto hex = dir_ / "PIC.HEX";
  WriteHexImage(hex, 0, PseudoRandomBytes(0x8000, 4));
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string text;
  } steps[] = {
      {{"pic18", "id"}, 0, "Device Revision = 0x04\r\nDevice ID = 0x24"},
      {{"pic18", "fill-eeprom", "--seed", "4660"}, 0, "Success"},
      {{"pic18", "test-eeprom"}, 1, "Data Mis-match"},
      {{"pic18", "read-eeprom", (dir_ / "e18.txt").string()}, 0, "File saved to"},
      {{"pic30", "id"}, 0, "Device Revision = 0x1001\r\nDevice ID = 0x01C0"},
      {{"pic30", "flash", hex.string(), "--progress", "json"}, 0, R"({"event":"result","code":48)"},
  };
  for (const auto& s : steps) {
    const RunResult r = Cli(*sim, s.args);
    EXPECT_EQ(r.exitCode, s.exit) << s.args[0] << " " << s.args[1] << r.err;
    EXPECT_TRUE(Has(r.out + r.err, s.text)) << s.args[1] << r.out << r.err;
  }
  const std::string e18 = ReadFileBytes(dir_ / "e18.txt");
  EXPECT_EQ(std::count(e18.begin(), e18.end(), '\n'), 16);
  EXPECT_TRUE(Has(e18, "0x00000010  00 ")) << "the bad cell at 0x10 reads 0";

  // An empty ID is no chip, not a success.
  auto empty = Box({"--pic18-id", "00000000", "--pic30-id", "0:0"});
  for (const char* chip : {"pic18", "pic30"}) {
    const RunResult none = Cli(*empty, {chip, "id"});
    EXPECT_EQ(none.exitCode, 1) << chip << none.out << none.err;
    EXPECT_TRUE(Has(none.out + none.err, "Device ID = 0xN/A\r\n\r\nNo chip answered: the box read an empty device ID"))
        << chip << none.out << none.err;
  }
  const RunResult noBox = RunCommand({TARNVALE_CLI_PATH, "pic18", "id", "--programmer-port", "/nonexistent/tty"}, dir_);
  EXPECT_EQ(noBox.exitCode, 3) << noBox.err;
}

INSTANTIATE_TEST_SUITE_P(Links, PicBootEndToEnd, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Tcp" : "Pty"; });

}  // namespace
}  // namespace tarnvale::test
