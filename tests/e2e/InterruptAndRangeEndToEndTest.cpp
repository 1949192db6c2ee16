// The CLI against the simulators for what a run does at its edges: Ctrl-C or
// SIGTERM in the middle of a box read-back, flash or RAM test, a serial test,
// a backup and a TN835 erase; a controller that reports more memory than it can have; images
// with data outside them or that never end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

struct InterruptCase {
  const char* name;                // also the test's name
  std::string device;              // simulator subcommand
  std::vector<std::string> sim;    // its options (a slow link keeps the run going)
  std::vector<std::string> cli;    // {port}: the simulator's endpoint; {out}: the output file;
                                   // {dir}/: in the test's folder
  std::string outName;             // the file the command writes ("" for none)
  int signal;
  std::string started;             // stdout+stderr text that shows the run under way ("": lines are being written)
  std::string said;                // what stderr must say beside "Interrupted"; OUT.partial keeps what was read
};

std::ostream& operator<<(std::ostream& os, const InterruptCase& c) { return os << c.name; }

class InterruptEndToEnd : public ::testing::TestWithParam<InterruptCase> {};

// Every long command stops on SIGINT or SIGTERM with exit code 130, says
// what it did, and leaves nothing half-written under the name asked for (an
// earlier file of that name stays as it was). It stops at the next line or
// packet; the wait for it is only a guard against a run that never stops.
TEST_P(InterruptEndToEnd, StopsPromptlyAndLeavesNoTornFile) {
  const InterruptCase& c = GetParam();
  const auto dir = MakeTempDir("int-e2e");
  if (c.device == "rq750") {
    // A complete backup: the earlier file a save merges into.
    SimProcess source({"--pty"}, dir, "rq750");
    const RunResult made =
        RunCommand({TARNVALE_CLI_PATH, "backup", "save", (dir / "in.xml").string(), "--port", source.Port()}, dir);
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  std::vector<std::string> simArgs{"--pty"};
  simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
  SimProcess sim(simArgs, dir, c.device);
  const auto out = dir / (c.outName.empty() ? "unused" : c.outName);
  const std::string earlier = c.device == "rq750" ? ReadFileBytes(dir / "in.xml") : "an earlier file";
  if (!c.outName.empty()) WriteFileBytes(out, earlier);
  // The inputs: a TN835 test image, an image for a box programming run, and
  // more lines than a serial test gets through before the signal.
  WriteSRecImage(dir / "test.S", 0, 0x800, 0x210, "T2.00", 3);
  WriteHexImage(dir / "PIC.HEX", 0, PseudoRandomBytes(0x8000, 5));
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += "0x19,0x3,A,B,C,0x2\n";
  WriteFileBytes(dir / "lines.txt", lines);
  std::vector<std::string> args{TARNVALE_CLI_PATH};
  for (const std::string& a : c.cli) {
    const bool inDir = a.starts_with("{dir}/");
    args.push_back(a == "{port}" ? sim.Port() : a == "{out}" ? out.string() : inDir ? (dir / a.substr(6)).string() : a);
  }
  Background run(args, dir, "int");
  const std::string partial = out.string() + ".partial";
  // A read-back writes its lines to a hidden file beside the target until it
  // is complete: that file is made as the read starts.
  const auto underWay = [&] {
    if (!c.started.empty()) return Has(run.Out() + run.Err(), c.started);
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("." + c.outName + ".", 0) == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(underWay)) << run.Out() << run.Err();
  ::kill(run.pid, c.signal);
  EXPECT_EQ(run.Wait(), cli::kExitInterrupted) << run.Out() << run.Err();
  const std::string err = run.Err();
  EXPECT_TRUE(Has(err, "Interrupted")) << err;
  EXPECT_TRUE(Has(err, c.said)) << err;
  if (!c.outName.empty()) {
    EXPECT_EQ(ReadFileBytes(out), earlier) << "the file asked for is left as it was";
    EXPECT_TRUE(std::filesystem::exists(partial));
    EXPECT_TRUE(Has(err, partial)) << err;
  }
  if (c.device == "tn835") {
    // The unit's line in the production log says it was interrupted.
    std::ifstream in(dir / "signal.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const nlohmann::json j = nlohmann::json::parse(line);
    EXPECT_EQ(j["result"], "interrupted");
    EXPECT_EQ(j["result_text"], "Interrupted");
    EXPECT_EQ(j["serial"], "SIG1");
  }
  if (c.device == "box") {
    // The box was left idle: it answers the next command at once.
    const RunResult probe =
        RunCommand({TARNVALE_CLI_PATH, "box", "version", "--programmer-port", sim.Port()}, dir, 10000);
    EXPECT_EQ(probe.exitCode, 0) << probe.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    LongRuns, InterruptEndToEnd,
    ::testing::Values(
        InterruptCase{"BootRead", "box", {"--baud", "9600"},
                      {"boot", "read", "{out}", "--cpu-rev", "C", "--programmer-port", "{port}", "--progress", "plain"},
                      "boot.txt", SIGINT, "", "is left as it was"},
        InterruptCase{"RamTest", "box", {"--ram-ms", "20000"},
                      {"cpu-test", "ram", "2", "--programmer-port", "{port}", "--progress", "plain"},
                      "", SIGTERM, "Testing RAM Bank 2", "RAM bank 2 was stopped"},
        InterruptCase{"PinTest", "box", {"--baud", "2400"}, {"cpu-test", "pins", "--programmer-port", "{port}"},
                      "", SIGTERM, ": pass", "the pin test was stopped"},
        InterruptCase{"Pic30Flash", "box", {"--baud", "19200"},
                      {"pic30", "flash", "{dir}/PIC.HEX", "--programmer-port", "{port}", "--progress", "json"},
                      "", SIGINT, "\"event\":\"progress\"", "erased or part-programmed"},
        InterruptCase{"SerialTestFile", "rq700", {},
                      {"serial-test", "--file", "{dir}/lines.txt", "--timeout", "50", "--port", "{port}"},
                      "", SIGINT, "TX:", "lines.txt w"},
        InterruptCase{"BackupSave", "rq750", {"--baud", "2400"},
                      {"backup", "save", "{out}", "--port", "{port}", "--progress", "plain"},
                      "b.xml", SIGTERM, "(starting)", "The save did not complete."},
        InterruptCase{"Tn835TestImage", "tn835", {"--erase-ms", "600000"},
                      {"tn835", "program-test", "--port", "{port}", "--test-path", "{dir}/test.S", "--serial", "SIG1",
                       "--log", "{dir}/signal.jsonl", "--progress", "json"},
                      "", SIGINT, "{\"event\":\"erasing\",\"elapsed_s\":0}",
                      "the test image was not programmed completely; the run is logged as interrupted"}),
    [](const ::testing::TestParamInfo<InterruptCase>& p) { return std::string(p.param.name); });

// A controller whose range reply reaches past its 26-bit address space: the
// dump reads only up to 0x03FFFFFF and warns.
TEST(RangeEndToEnd, DumpStaysInsideTheControllersAddressSpace) {
  const auto dir = MakeTempDir("range-e2e");
  SimProcess sim({"--pty", "--range", "03FF0000:FFFFFFFF"}, dir);
  const auto bin = dir / "d.Bin";
  const RunResult r =
      RunCommand({TARNVALE_CLI_PATH, "dump", bin.string(), "--port", sim.Port(), "--progress", "plain"}, dir);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(std::filesystem::file_size(bin), 0x04000000u);
  EXPECT_TRUE(Has(r.err, "warning: the controller reported the range 0x03FF0000-0xFFFFFFFF; only "
                         "0x03FF0000-0x03FFFFFF, within its 26-bit address space, is read"))
      << r.err;
}

// Data outside the image is not programmed; the run succeeds but says how
// much was left out and where, once, on stderr.
TEST(RangeEndToEnd, FlashWarnsOfDataOutsideTheImage) {
  const auto dir = MakeTempDir("drop-e2e");
  FmfSpec recipe;
  recipe.version = "5.01.00";
  WriteFmf(dir / "a.FMF", recipe);
  // The same file with one stray record at the top of the address space.
  std::string text = ReadFileBytes(dir / "a.FMF");
  const std::string end = ":00000001FF";
  text.insert(text.rfind(end), HexText("\n").ExtendedLinear(0xFFFF).Data(0xFFF0, std::vector<std::uint8_t>(16, 0x5A)).Text());
  const std::string stray = (dir / "stray.FMF").string();
  WriteFileBytes(stray, text);
  SimProcess sim({"--pty", "--erase-ms", "10"}, dir);
  const RunResult r =
      RunCommand({TARNVALE_CLI_PATH, "flash", stray, "--yes", "--port", sim.Port(), "--progress", "plain"}, dir);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "warning: " + stray + ": ignored 16 bytes in 1 record at 0xFFFFFFF0-0xFFFFFFFF")) << r.err;
  EXPECT_EQ(r.err.find("warning:"), r.err.rfind("warning:")) << "one line: " << r.err;
}

// Image inputs that never end, and files cut short or run together, end every
// device command at once with exit 5: a FIFO is never waited on. (That
// nothing reaches the device: the workflows' unit tests.)
TEST(InputsEndToEnd, EndlessAndDamagedImagesEndEveryDeviceCommandAtOnce) {
  const auto dir = MakeTempDir("in-e2e");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  HexText().ExtendedLinear(0x03C1).Data(0, {1, 2, 3, 4}).Raw(HexLine(0, 4, std::vector<std::uint8_t>{5}) + HexLine(1, 0, {}))
      .WriteTo(dir / "joined.FMF");
  SRecText().Record(1, 0, std::vector<std::uint8_t>{1, 2, 3, 4}).WriteTo(dir / "cut.S");
  const std::string fifo = (dir / "fifo").string();
  struct Case {
    std::string device;  // simulator subcommand ("" the RQ700 controller)
    std::vector<std::string> args;
    std::string err;  // a part of the output ("": not checked)
  } cases[] = {
      {"", {"load", fifo}, fifo + " (is a FIFO, not a regular file)"},
      {"", {"flash", (dir / "joined.FMF").string(), "--yes"},
       (dir / "joined.FMF").string() + ":3: Invalid Hex File (text after the checksum)"},
      // The verify reads the board before the file: only the prompt exit counts.
      {"box", {"boot", "verify", fifo, "--cpu-rev", "C"}, ""},
      {"tn835", {"tn835", "program-test", "--test-path", (dir / "cut.S").string()},
       (dir / "cut.S").string() + ":1 (no end-of-file record)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    SimProcess sim({"--pty"}, dir, c.device.empty() ? "rq700" : c.device);
    std::vector<std::string> argv{TARNVALE_CLI_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {c.device == "box" ? "--programmer-port" : "--port", sim.Port(), "--progress", "plain"});
    const RunResult r = RunCommand(argv, dir);  // killed after a minute: a hang fails here
    EXPECT_EQ(r.exitCode, cli::kExitBadFile) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.err)) << r.out << r.err;
    EXPECT_FALSE(Has(r.out + r.err, "Success")) << r.out << r.err;
  }
}

}  // namespace
}  // namespace tarnvale::test
