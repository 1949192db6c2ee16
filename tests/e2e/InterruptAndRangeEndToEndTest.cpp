// The CLI against the simulators for what a run does at its edges: Ctrl-C or
// SIGTERM in the middle of a box read-back, a pin or RAM test, a backup and a
// TN835 erase; a controller that reports more memory than it can have; images
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

std::uintmax_t SizeOf(const std::filesystem::path& p) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(p, ec);
  return ec ? 0 : n;
}

struct InterruptCase {
  const char* name;                // also the test's name
  std::string device;              // simulator subcommand
  std::vector<std::string> sim;    // its options (a slow link keeps the run going)
  std::vector<std::string> cli;    // {port} stands for the simulator's endpoint, {out} for the output file
  std::string outName;             // the file the command writes ("" for none)
  int signal;
  std::string started;             // stdout+stderr text that shows the run under way ("": lines are being written)
  std::string said;                // what stderr must say beside "Interrupted"
  bool partialKept;                // OUT.partial holds what was read
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
    // A complete backup: what a load sends, and the earlier file a save
    // merges into.
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
  std::vector<std::string> args;
  for (std::string a : c.cli) {
    if (a == "{port}") a = sim.Port();
    if (a == "{out}") a = c.outName.empty() ? (dir / "boot.FMF").string() : out.string();
    if (a == "{in}") a = (dir / "in.xml").string();
    if (a == "{log}") a = (dir / "signal.jsonl").string();
    if (a == "{srec}") {  // a TN835 test image
      a = (dir / "test.S").string();
      WriteSRecImage(a, 0, 0x800, 0x210, "T2.00", 3);
    }
    if (a == "{lines}") {  // more lines than a run gets through before the signal
      a = (dir / "lines.txt").string();
      std::string text;
      for (int i = 0; i < 2000; ++i) text += "0x19,0x3,A,B,C,0x2\n";
      WriteFileBytes(a, text);
    }
    if (a == "{hex}" || a == "{fmf}") {  // an image for a programming run
      const bool boot = a == "{fmf}";
      a = (dir / (boot ? "BOOT.FMF" : "PIC.HEX")).string();
      WriteHexImage(a, boot ? 0x3FFC000 : 0, PseudoRandomBytes(boot ? 16384 : 0x8000, 5));
    }
    args.push_back(a);
  }
  args.insert(args.begin(), TARNVALE_CLI_PATH);
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
    EXPECT_EQ(std::filesystem::exists(partial), c.partialKept);
    if (c.partialKept) {
      EXPECT_TRUE(Has(err, partial)) << err;
    }
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
                      "boot.txt", SIGINT, "", "is left as it was", true},
        InterruptCase{"Pic18ReadEeprom", "box", {"--baud", "1200"},
                      {"pic18", "read-eeprom", "{out}", "--programmer-port", "{port}", "--progress", "plain"},
                      "e18.txt", SIGTERM, "", "is left as it was", true},
        InterruptCase{"BootVerify", "box", {"--baud", "57600"},
                      {"boot", "verify", "{out}", "--cpu-rev", "C", "--programmer-port", "{port}", "--progress", "plain"},
                      "", SIGINT, "Reading the boot flash", "nothing was compared", false},
        InterruptCase{"RamTest", "box", {"--ram-ms", "20000"},
                      {"cpu-test", "ram", "2", "--programmer-port", "{port}", "--progress", "plain"},
                      "", SIGINT, "Testing RAM Bank 2", "RAM bank 2 was stopped", false},
        InterruptCase{"Pic30Flash", "box", {"--baud", "19200"},
                      {"pic30", "flash", "{hex}", "--programmer-port", "{port}", "--progress", "json"},
                      "", SIGINT, "\"event\":\"progress\"", "erased or part-programmed", false},
        InterruptCase{"BootProgram", "box", {"--baud", "9600"},
                      {"boot", "program", "{fmf}", "--serial", "RQ1", "--cpu-serial", "C1", "--io-serial", "I1",
                       "--programmer-port", "{port}", "--progress", "json"},
                      "", SIGTERM, "\"event\":\"progress\"", "erased or part-programmed", false},
        InterruptCase{"PinTest", "box", {"--baud", "2400"}, {"cpu-test", "pins", "--programmer-port", "{port}"},
                      "", SIGTERM, ": pass", "the pin test was stopped", false},
        InterruptCase{"SerialTestFile", "rq700", {},
                      {"serial-test", "--file", "{lines}", "--timeout", "50", "--port", "{port}"},
                      "", SIGINT, "TX:", "lines.txt w", false},
        InterruptCase{"BackupSave", "rq750", {"--baud", "2400"},
                      {"backup", "save", "{out}", "--port", "{port}", "--progress", "plain"},
                      "b.xml", SIGINT, "(starting)", "The save did not complete.", true},
        InterruptCase{"BackupLoad", "rq750", {"--baud", "2400"},
                      {"backup", "load", "{in}", "--yes", "--port", "{port}", "--progress", "plain"},
                      "", SIGTERM, "(starting)", "The load did not complete.", false},
        InterruptCase{"BackupDiff", "rq750", {"--baud", "2400"},
                      {"backup", "diff", "{in}", "--controller", "--port", "{port}"},
                      "", SIGINT, "(starting)", "The controller could not be read completely.", false},
        // A controller that never answers the erase: the signal goes when the
        // count of the erase wait shows.
        InterruptCase{"Tn835TestImage", "tn835", {"--erase-ms", "600000"},
                      {"tn835", "program-test", "--port", "{port}", "--test-path", "{srec}", "--serial", "SIG1",
                       "--log", "{log}", "--progress", "json"},
                      "", SIGINT, "{\"event\":\"erasing\",\"elapsed_s\":0}",
                      "the test image was not programmed completely; the run is logged as interrupted", false},
        InterruptCase{"Tn835Application", "tn835", {"--erase-ms", "600000"},
                      {"tn835", "program-application", "--port", "{port}", "--app-path", "{srec}", "--serial", "SIG1",
                       "--log", "{log}", "--progress", "plain"},
                      "", SIGTERM, "Erasing... 0 s", "the application image was not programmed completely", false}),
    [](const ::testing::TestParamInfo<InterruptCase>& p) { return std::string(p.param.name); });

// A controller whose range reply reaches past its 26-bit address space: the
// dump reads only up to 0x03FFFFFF and warns; a range that starts beyond it
// is refused.
TEST(RangeEndToEnd, DumpStaysInsideTheControllersAddressSpace) {
  const auto dir = MakeTempDir("range-e2e");
  struct Case {
    std::string range;
    int exit;
    std::uintmax_t size;  // of the dump file; 0: no file
    std::string err;
  } cases[] = {
      {"03FF0000:FFFFFFFF", 0, 0x04000000,
       "warning: the controller reported the range 0x03FF0000-0xFFFFFFFF; only 0x03FF0000-0x03FFFFFF, within its "
       "26-bit address space, is read"},
      {"03FFFF00:04000FFF", 0, 0x04000000, "only 0x03FFFF00-0x03FFFFFF"},
      {"03FFFF00:03FFFFFF", 0, 0x04000000, ""},
      {"04000000:0400FFFF", cli::kExitFailure, 0, "Communication Error with RQ700"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    SimProcess sim({"--pty", "--range", c.range}, dir);
    const auto bin = dir / "d.Bin";
    std::filesystem::remove(bin);
    const RunResult r = RunCommand({TARNVALE_CLI_PATH, "dump", bin.string(), "--port", sim.Port(), "--progress", "plain"}, dir);
    EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
    EXPECT_EQ(SizeOf(bin), c.size);
    if (c.err.empty()) {
      EXPECT_FALSE(Has(r.err, "warning")) << r.err;
    } else {
      EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    }
  }
}

// Data outside the image is not programmed; the run succeeds but says how
// much was left out and where, once, on stderr.
TEST(RangeEndToEnd, FlashAndLoadWarnOfDataOutsideTheImage) {
  const auto dir = MakeTempDir("drop-e2e");
  FmfSpec recipe;
  recipe.version = "5.01.00";
  WriteFmf(dir / "a.FMF", recipe);
  // The same file with one stray record at the top of the address space.
  std::string text = ReadFileBytes(dir / "a.FMF");
  const std::string end = ":00000001FF";
  text.insert(text.rfind(end), HexText("\n").ExtendedLinear(0xFFFF).Data(0xFFF0, std::vector<std::uint8_t>(16, 0x5A)).Text());
  WriteFileBytes(dir / "stray.FMF", text);
  HexText().ExtendedLinear(0x0000).Data(0x2000, {1, 2, 3, 4}).EndOfFile().WriteTo(dir / "ram.HEX");

  struct Case {
    std::vector<std::string> args;
    std::string warning;  // "" : none
  } cases[] = {
      {{"flash", (dir / "a.FMF").string(), "--yes"}, ""},
      {{"flash", (dir / "stray.FMF").string(), "--yes"},
       "warning: " + (dir / "stray.FMF").string() + ": ignored 16 bytes in 1 record at 0xFFFFFFF0-0xFFFFFFFF"},
      {{"load", (dir / "ram.HEX").string()}, ""},
  };
  SimProcess sim({"--pty", "--erase-ms", "10"}, dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> argv{TARNVALE_CLI_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--port", sim.Port(), "--progress", "plain"});
    const RunResult r = RunCommand(argv, dir);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    if (c.warning.empty()) {
      EXPECT_FALSE(Has(r.err, "warning:")) << r.err;
    } else {
      EXPECT_TRUE(Has(r.err, c.warning)) << r.err;
      EXPECT_EQ(r.err.find("warning:"), r.err.rfind("warning:")) << "one line: " << r.err;
    }
  }
}

// Image inputs that never end, and files cut short or run together, end every
// device command at once with exit 5: a FIFO is never waited on, and the
// controller, which answered, sees no erase and no data packet. (The box's
// programming runs: ImageBeforeErase.)
TEST(InputsEndToEnd, EndlessAndDamagedImagesEndEveryDeviceCommandAtOnce) {
  const auto dir = MakeTempDir("in-e2e");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  HexText().ExtendedLinear(0x03C1).Data(0, {1, 2, 3, 4}).Data(4, {5}).WriteTo(dir / "cut.FMF");
  HexText().ExtendedLinear(0x03C1).Data(0, {1, 2, 3, 4}).Raw(HexLine(0, 4, std::vector<std::uint8_t>{5}) + HexLine(1, 0, {}))
      .WriteTo(dir / "joined.FMF");
  SRecText().Record(1, 0, std::vector<std::uint8_t>{1, 2, 3, 4}).WriteTo(dir / "cut.S");
  SRecText().Raw(SRecLine(1, 0, std::vector<std::uint8_t>{1, 2, 3, 4}) + SRecLine(9, 0)).WriteTo(dir / "joined.S");
  const std::string fifo = (dir / "fifo").string();
  struct Case {
    std::string device;  // simulator subcommand ("" the RQ700 controller)
    std::vector<std::string> args;
    std::string err;  // a part of the output ("": not checked)
  } cases[] = {
      {"", {"load", fifo}, fifo + " (is a FIFO, not a regular file)"},
      {"", {"flash", fifo, "--yes"}, fifo + " (is a FIFO, not a regular file)"},
      {"", {"flash", (dir / "cut.FMF").string(), "--yes"},
       (dir / "cut.FMF").string() + ":3: Error in Hex File (no end-of-file record)"},
      {"", {"flash", (dir / "joined.FMF").string(), "--yes"},
       (dir / "joined.FMF").string() + ":3: Invalid Hex File (text after the checksum)"},
      // The verify reads the board before the file: only the prompt exit counts.
      {"box", {"boot", "verify", fifo, "--cpu-rev", "C"}, ""},
      {"tn835", {"tn835", "program-test", "--test-path", fifo}, fifo + " (is a FIFO, not a regular file)"},
      {"tn835", {"tn835", "program-test", "--test-path", (dir / "cut.S").string()},
       (dir / "cut.S").string() + ":1 (no end-of-file record)"},
      {"tn835", {"tn835", "program-test", "--test-path", (dir / "joined.S").string()},
       (dir / "joined.S").string() + ":1 (text after the checksum)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto log = dir / "sim.log";
    std::filesystem::remove(log);
    std::vector<std::string> simArgs{"--pty"};
    if (c.device.empty()) simArgs.insert(simArgs.end(), {"--erase-ms", "10", "--log", log.string()});
    SimProcess sim(simArgs, dir, c.device.empty() ? "rq700" : c.device);
    std::vector<std::string> argv{TARNVALE_CLI_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {c.device == "box" ? "--programmer-port" : "--port", sim.Port(), "--progress", "plain"});
    const RunResult r = RunCommand(argv, dir);  // killed after a minute: a hang fails here
    EXPECT_EQ(r.exitCode, cli::kExitBadFile) << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.err)) << r.out << r.err;
    EXPECT_FALSE(Has(r.out + r.err, "Success")) << r.out << r.err;
    if (c.args[0] == "flash") {
      sim.Stop();
      const std::vector<LoggedPacket> packets = Packets(Slurp(log));
      EXPECT_FALSE(packets.empty()) << "the controller answered (its revision was read), so it could have been erased";
      for (const LoggedPacket& p : packets) EXPECT_TRUE(p.type != 0x06 && p.type != 0x00) << "an erase or data packet";
    }
  }
}

}  // namespace
}  // namespace tarnvale::test
