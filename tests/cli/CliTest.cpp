// tarnvale-cli hex scan, hex stream and srec convert: the output scripts parse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::HexText;
using Lines = std::vector<std::string>;

struct CliRun {
  int status;
  std::string out;
  std::string err;
  Lines lines;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(TARNVALE_CLI_PATH)) {
      GTEST_SKIP() << "tarnvale-cli is not built (" << TARNVALE_CLI_PATH << ")";
    }
    dir_ = test::MakeTempDir("cli");
  }

  // `args` are split at spaces; a word {name} names a file of the temp
  // folder. A run that hangs is killed after a minute (and so fails its test)
  // instead of hanging the suite.
  CliRun Run(const std::string& args) {
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string w; in >> w;) {
      words.push_back(w.front() == '{' ? (dir_ / w.substr(1, w.size() - 2)).string() : w);
    }
    return Run(words);
  }
  CliRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), TARNVALE_CLI_PATH);
    const test::RunResult run = test::RunCommand(args, dir_);
    CliRun r{run.exitCode, run.out, run.err, {}};
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    return r;
  }

  std::filesystem::path dir_;
};

TEST_F(Cli, ScanGivesTheRangeAndTheLandmarksOfAFlashMemoryFile) {
  test::FmfSpec recipe;
  recipe.generation = 4;
  recipe.applicationStart = 0x03FE0000;
  recipe.version = "4.57.05";
  recipe.identity = {0x0A, 0xBC};
  recipe.model = "RQ7\"50";  // a quote to be escaped
  recipe.serial = "SN0042";
  recipe.revision = 'C';
  test::WriteFmf(dir_ / "app.FMF", recipe);

  const CliRun json = Run("hex scan --json {app.FMF}");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"result\": 0, \"lowest\": 62914560, \"highest\": 67108863, \"mode\": 2, "
            "\"generation\": 4, \"application_start\": 66977792, \"version\": \"4.57.05\", "
            "\"model\": \"RQ7\\\"50\", \"identity\": \"0ABC\", \"serial\": \"SN0042\", "
            "\"revision\": \"C\"}\n");

  // Plain HEX: mode 0, a start address, no landmarks.
  HexText().Data(0x0100, {1, 2}).StartLinear(0x00, 0x01, 0x00, 0x00).EndOfFile().WriteTo(dir_ / "plain.hex");
  const CliRun plain = Run("hex scan --json {plain.hex}");
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "{\"result\": 0, \"lowest\": 4294967295, \"highest\": 257, \"mode\": 0, \"start\": 256, "
                       "\"generation\": 0}\n");
}

TEST_F(Cli, StreamPrintsOnePacketPerLine) {
  HexText().ExtendedLinear(0x03C0).Data(0x0000, {0x11, 0x22}).ExtendedLinear(0x03C1).Data(0x0040, {0x33})
      .StartLinear(0x12, 0x34, 0xC0, 0x03).EndOfFile().WriteTo(dir_ / "s.hex");

  // Flash: from the lowest address to the top, two lanes, no start packet.
  const CliRun flash = Run("hex stream {s.hex} --target 1");
  ASSERT_EQ(flash.status, 0) << flash.err;
  const Lines& lines = flash.lines;
  ASSERT_EQ(lines.size(), 64u + 2 + 1) << "64 segments announced, 2 data packets, the end";
  EXPECT_EQ(lines[0], "3A0200000403C037");
  EXPECT_EQ(lines[1].substr(0, 14), "3A200000001122");
  EXPECT_EQ(lines[2], "3A0200000403C136");
  EXPECT_EQ(lines[3].substr(0, 12), "3A2000400033");
  EXPECT_EQ(lines.back(), "3A00000001FF");
  EXPECT_EQ(flash.out.find_first_not_of("0123456789ABCDEF\n"), std::string::npos);

  // Load: lowest to highest, with the start address packet (the record's
  // bytes as they stand, each in its place).
  const CliRun load = Run("hex stream {s.hex} --target 1 --load");
  ASSERT_EQ(load.status, 0) << load.err;
  ASSERT_EQ(load.lines.size(), 6u);
  EXPECT_EQ(Lines(load.lines.begin() + 4, load.lines.end()), (Lines{"3A040000051234C003EE", "3A00000001FF"}));

  // An explicit range and lane count: only the segment of the range is announced.
  const CliRun ranged = Run("hex stream {s.hex} --target 1 --base 0x03C10000 --end 0x03C1007F --lanes 1");
  ASSERT_EQ(ranged.status, 0) << ranged.err;
  EXPECT_EQ(ranged.lines, (Lines{lines[2], lines[3], "3A00000001FF"}));
}

TEST_F(Cli, SrecConvertWritesTheFmfAndPrintsTheVersion) {
  std::vector<std::uint8_t> one(0x400, 0x00);
  one[0x210] = 7;
  std::copy_n("5.01.02", 7, one.begin() + 0x211);
  test::SRecText t;
  test::AppendSRecWords(t, 0, one);
  t.Record(7, 0).WriteTo(dir_ / "app.S");
  const CliRun app = Run("srec convert {app.S} {out.FMF} --image application --model K");
  ASSERT_EQ(app.status, 0) << app.err;
  EXPECT_EQ(app.out, "5.01.02\n");
  const std::string fmf = test::ReadFileBytes(dir_ / "out.FMF");
  EXPECT_NE(fmf.find(":20022000" "4B00"), std::string::npos) << "model code K at 0x220";
}

// The output, after the first-dot rule and after links, must not be the
// S-record input: that run is refused and the input left as it was. A good
// run names the file it actually wrote.
TEST_F(Cli, SrecConvertNeverWritesOverItsInput) {
  std::vector<std::uint8_t> one(0x400, 0x00);
  test::SRecText t;
  test::AppendSRecWords(t, 0, one);
  t.Record(7, 0).WriteTo(dir_ / "x.FMF");
  const std::string original = test::ReadFileBytes(dir_ / "x.FMF");
  std::filesystem::create_symlink(dir_ / "x.FMF", dir_ / "link.S");
  for (const char* args : {"srec convert {x.FMF} {x.FMF} --image test",
                           "srec convert {x.FMF} {x.v2.bin} --image test",
                           "srec convert {link.S} {x.FMF} --image test"}) {
    SCOPED_TRACE(args);
    const CliRun r = Run(args);
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("Output File is the Input File"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFileBytes(dir_ / "x.FMF"), original);
  }
  const CliRun good = Run("srec convert {x.FMF} {out.v1.S} --image test");
  ASSERT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.err.find("Written to " + (dir_ / "out.FMF").string()), std::string::npos) << good.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.FMF"));
  EXPECT_EQ(test::ReadFileBytes(dir_ / "x.FMF"), original);
}

// Every failure ends with the exit code of its kind, so a script can tell a
// bad argument from a bad file from a port that will not open; its reason is
// on stderr, stdout holds no more than the JSON result, and no failure shows
// a bare "Un-recognized return code". An empty image is refused for every
// target (as in hex scan) and addresses take the whole 32-bit range. Data
// outside the image is left out of the stream and of the flash memory file
// and said once on stderr; the run still succeeds.
TEST_F(Cli, ExitCodesAndMessagesTellTheKindOfFailure) {
  using Bytes = std::vector<std::uint8_t>;
  HexText().Data(0, {1, 2}).EndOfFile().WriteTo(dir_ / "ok.hex");
  HexText().ExtendedLinear(0x03C0).Data(0, {1}).EndOfFile().WriteTo(dir_ / "nostart.FMF");
  HexText().ExtendedLinear(0x03FF).Data(0xC000, {0x55}).EndOfFile().WriteTo(dir_ / "boot.hex");
  HexText().ExtendedLinear(0xFFFF).Data(0xFFF0, Bytes(16, 0xA5)).EndOfFile().WriteTo(dir_ / "top.hex");
  test::SRecText().Record(1, 0, Bytes(4, 0)).Record(9, 0).WriteTo(dir_ / "app.S");
  test::WriteFileBytes(dir_ / "sum.hex", test::HexLine(0, 0, Bytes{1, 2}) + "\n\n:0100000001FF\n");
  test::WriteFileBytes(dir_ / "sum.S", test::SRecLine(1, 0, Bytes(4, 0)) + "\nS1050000010200\n");
  // A copy cut short before its end record (damaged files of every kind: DamagedFilesTest).
  HexText().ExtendedLinear(0).Data(0, {1, 2}).Data(2, {3}).WriteTo(dir_ / "cut.hex");
  test::WriteFileBytes(dir_ / "empty.hex", "");
  HexText().Data(0x0000, {1}).Data(0x9000, {2, 3, 4}).EndOfFile().WriteTo(dir_ / "pic.hex");
  test::SRecText().Record(1, 0, Bytes(0x20, 0)).Record(3, 0x11000, Bytes(4, 0xEE)).Record(7, 0)
      .WriteTo(dir_ / "outside.S");
  const std::string board = "43" "42" "06" "4354524C3031" + std::string(18, '0') +  // 'C' 'B', "CTRL01"
                            "03" "435055" + std::string(24, '0') +                   // "CPU"
                            "02" "494F" + std::string(26, '0') +                     // "IO"
                            std::string(24, '0');                                    // flash id
  const auto at = [&](const char* file) { return (dir_ / file).string(); };
  struct Case {
    std::string args;
    int status;
    std::string err;        // the start of stderr, or a part of it after '~' (success: "" when empty)
    std::string out = "";   // failure: stdout, or its start when not ending in a line end
    std::size_t lines = 0;  // success: packets printed
  } cases[] = {
      {"hex scan --json {none.hex}", 5, "~Can't Open Input File", "{\"result\": 4}\n"},
      // A flash file without its start address landmark: no landmarks printed.
      {"hex scan --json {nostart.FMF}", 5, "Unable to Find Application Starting Address.",
       "{\"result\": 10, \"lowest\": 62914560"},
      {"hex scan {sum.hex}", 5, at("sum.hex") + ":3: Error in Hex File (checksum 0xFF, expected 0xFE)\n",
       "result: 9\n"},
      {"hex scan {none.hex}", 5, at("none.hex") + ": Can't Open Input File (No such file or directory)\n",
       "result: 4\n"},
      {"hex stream {boot.hex} --target 4", 2, "--target 4 (386) needs --board-info"},  // no board record
      {"hex stream {cut.hex} --target rq700", 5, at("cut.hex") + ":3: Error in Hex File (no end-of-file record)\n"},
      {"hex stream {ok.hex} --target 0", 2,
       "target 0 (box) has no image to stream; --target must be one of 1 (rq700)"},
      {"hex stream {ok.hex} --target 7", 2,
       "--target must be one of 1 (rq700), 2 (pic18), 3 (pic30), 4 (386), 5 (tn835), 6 (tn835-jtag), by number or name"},
      {"hex stream {empty.hex} --target 5", 5, "~Data not found in Hex File (no data records)"},
      {"hex stream {ok.hex} --target 1 --lanes 3", 2, "~--lanes"},
      {"hex stream {ok.hex} --target 1 --base 0x100 --end 0xFF", 5,
       "~the image range 0x00000100-0x000000FF ends below its start"},
      {"hex stream {ok.hex} --target 1", 5, "~the image range 0x00000000-0x03FFFFFF is larger than the 8 MB"},
      {"hex stream {ok.hex} --target 1 --base 0x1G", 2, "~invalid --base: 0x1G (a hexadecimal address 0 to FFFFFFFF"},
      // The top of the address space: no wrap to address 0 on the way.
      {"hex stream {top.hex} --target 1 --base FFFFFFF0 --end FFFFFFFF --lanes 1", 0, "", "", 2},
      {"hex stream {pic.hex} --target 2", 0,
       "warning: " + at("pic.hex") +
           ": ignored 3 bytes in 1 record at 0x00009000-0x00009002 (outside the image 0x00000000-0x00007FFF)\n",
       "", 1028},
      {"hex stream {pic.hex} --target pic18 --end 0xFFFF", 0, "", "", 1028},
      {"hex stream {boot.hex} --target 4 --board-info " + board, 0, "", "", 514},
      {"srec convert {outside.S} {outside.FMF} --image test", 0,
       "~warning: " + at("outside.S") +
           ": ignored 4 bytes in 1 record at 0x00022000-0x00022003 (outside the image 0x00000000-0x00021FFF)\n",
       "", 1},
      {"srec convert {sum.S} {out.FMF} --image test", 5,
       at("sum.S") + ":2: Error in Hex File (checksum 0x00, expected 0xF7)\n"},
      {"srec convert {app.S} {b.FMF} --image boot --hw-rev C", 2, "You must enter a valid serial number"},
      {"srec convert {app.S} {b.FMF} --image boot --serial 123", 2, "You must enter a Hardware Revision"},
      {"info --port {no-such-tty}", 3, "Failed to Open Port: " + at("no-such-tty")},
      {"info --port {no-such-tty} --baud 1234", 2, "~--baud"},
      {"settings get NoSuchSetting", 2, "unknown setting: NoSuchSetting"},
      {"settings set BaudRate 1234", 2, "invalid value for BaudRate: 1234 (not a baud rate of the port dialog"},
      {"settings set Parity MARK", 2, "invalid value for Parity: MARK (parity is NONE, ODD or EVEN"},
      {"settings set StationSerialPattern TN-yy", 2,
       "invalid value for StationSerialPattern: TN-yy (not a serial pattern: "},
      {"settings set IPAddress 10.10.10.256", 2, "~not a dotted IPv4 address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (!c.err.empty() && c.err[0] == '~') {
      EXPECT_NE(r.err.find(c.err.substr(1)), std::string::npos) << r.err;
    } else if (c.status == 0 && c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    }
    EXPECT_EQ(r.err.find("Un-recognized"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("warning:"), r.err.rfind("warning:")) << "one warning at most: " << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.lines.size(), c.lines) << r.out;
    } else if (c.out.empty() || c.out.back() == '\n') {
      EXPECT_EQ(r.out, c.out);
    } else {
      EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
      EXPECT_EQ(r.out.find("application_start"), std::string::npos);
    }
  }
  // A load without a start record starts at the image base, at the very top too.
  const CliRun top = Run("hex stream {top.hex} --target 1 --load");
  ASSERT_EQ(top.lines.size(), 4u) << top.err;
  EXPECT_EQ(top.lines[2], "3A040000050000FFFFF9");
  // A port and rate given for one run are not stored: PortOptionsEndToEndTest.
}

// Values are checked, stored in the settings file and read back; the file
// lives where the test environment put it, never in the real home.
TEST_F(Cli, SettingsAreShownChangedAndKeptInTheIsolatedFile) {
  const CliRun path = Run("settings path");
  ASSERT_EQ(path.status, 0) << path.err;
  const char* configDir = std::getenv("TARNVALE_CONFIG_DIR");
  ASSERT_NE(configDir, nullptr);
  EXPECT_EQ(path.out, (std::filesystem::path(configDir) / "settings.ini").string() + "\n");

  // get gives back the words set takes (the settings' own words: SettingsTest).
  const struct {
    std::string name, value, shown;
  } changes[] = {
      {"BaudRate", "57600", "57600"},
      {"COMPort", "/dev/ttyUSB3", "/dev/ttyUSB3"},
      {"BackGroundTextColor", "0x00FF00", "65280"},
  };
  for (const auto& c : changes) {
    const CliRun set = Run({"settings", "set", c.name, c.value});
    EXPECT_EQ(set.status, 0) << c.name << ": " << set.err;
    const CliRun get = Run({"settings", "get", c.name});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, c.shown + "\n") << c.name;
  }
  const CliRun list = Run("settings list");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("COMPort = /dev/ttyUSB3\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("AuxCOMPort = COM7\n"), std::string::npos) << "first-run defaults are shown";
  const std::string file = test::ReadFileBytes(std::filesystem::path(configDir) / "settings.ini");
  EXPECT_NE(file.find("BaudRate = dword:57600"), std::string::npos) << file;
}

// Every command refuses an input that never ends or is too large, and an
// output that is no place for a file, with exit 5 and the reason before any
// port is opened, and leaves it as it was; a run that hangs is killed and
// fails. (Every kind of file the check refuses: FileAccessTest.)
TEST_F(Cli, FilesThatAreNoRegularFileAreRefusedPromptlyWithTheReason) {
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  // Sparse, one byte over the image limit: nothing like 64 MB is written.
  test::WriteFileBytes(dir_ / "big", "");
  std::filesystem::resize_file(dir_ / "big", (64u << 20) + 1);
  test::SRecText().Record(1, 0, std::vector<std::uint8_t>(4, 0)).Record(9, 0).WriteTo(dir_ / "app.S");
  const struct {
    std::string arg, reason, textReason;  // textReason: for the text file limit
    bool output;                          // also refused as an output
  } files[] = {
      {"{fifo}", "is a FIFO, not a regular file", "", true},
      {"{big}", "is 67108865 bytes, larger than the 67108864 bytes a file of this kind may be",
       "is 67108865 bytes, larger than the 16777216 bytes a file of this kind may be", false},
  };
  const char* commands[] = {
      "hex scan IN",
      "hex stream IN --target rq700",
      "srec convert IN {out.FMF} --image test",
      "serial-test --file IN --port {no-such-tty}",
      "srec convert {app.S} OUT --image test",
      "dump OUT --port {no-such-tty}",
      "boot read OUT --cpu-rev C --programmer-port {no-such-tty}",
      "pic18 read-eeprom OUT --programmer-port {no-such-tty}",
      "backup save OUT --port {no-such-tty}",
      "tn835 program-test --test-path {app.S} --port {no-such-tty} --log OUT",
  };
  for (const std::string command : commands) {
    const bool output = command.find("OUT") != std::string::npos;
    const bool text = command.rfind("serial-test", 0) == 0;
    for (const auto& f : files) {
      if (output && !f.output) continue;
      std::string args = command;
      args.replace(args.find(output ? "OUT" : "IN"), output ? 3 : 2, f.arg);
      SCOPED_TRACE(args);
      const CliRun r = Run(args);
      EXPECT_EQ(r.status, 5) << r.err;
      const std::string& reason = text && !f.textReason.empty() ? f.textReason : f.reason;
      EXPECT_NE(r.err.find((output ? "Can't Open Output File (" : "(") + reason + ")"), std::string::npos) << r.err;
      EXPECT_FALSE(std::filesystem::exists(dir_ / "out.FMF"));
    }
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir_ / "fifo"));
}

// The production log may not be one of the run's own S-record files (outputs
// written through links: FileAccessTest).
TEST_F(Cli, TheLogIsNoInputOfTheRun) {
  test::SRecText().Record(1, 0, std::vector<std::uint8_t>(4, 0)).Record(9, 0).WriteTo(dir_ / "app.S");
  const std::string original = test::ReadFileBytes(dir_ / "app.S");
  const CliRun same = Run("tn835 program-test --test-path {app.S} --port {no-such-tty} --log {app.S}");
  EXPECT_EQ(same.status, 5) << same.err;
  EXPECT_NE(same.err.find("is also an input of this run"), std::string::npos) << same.err;
  EXPECT_EQ(test::ReadFileBytes(dir_ / "app.S"), original);
}

}  // namespace
}  // namespace tarnvale
