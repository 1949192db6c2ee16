// tarnvale-cli backup and serial-test against "tarnvale-sim rq750" over a
// pseudo-terminal: the round trip, the diff, --data/--save-data, faults and
// the exit codes a script relies on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "e2e/Processes.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

RunResult Cli(const std::vector<std::string>& args, const std::filesystem::path& dir) {
  std::vector<std::string> argv{TARNVALE_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, dir, 30000);
}

TEST(BackupCli, RoundTripThroughTwoSimulatorsAndTheDiff) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string(), b = (dir / "b").string();
  const std::string saved = (dir / "second.json").string();
  SimProcess first({"--pty"}, dir, "rq750");
  const RunResult s1 = Cli({"backup", "save", a, "--port", first.Port(), "--progress", "json"}, dir);
  ASSERT_EQ(s1.exitCode, cli::kExitOk) << s1.err;
  EXPECT_NE(s1.out.find("Save completed successfully"), std::string::npos);
  // One JSON object per event, the last closing the material table.
  EXPECT_NE(s1.out.find(R"({"done":20,"event":"section_finished","section":"Materials","total":20})"),
            std::string::npos)
      << s1.out;
  EXPECT_NE(s1.out.find(R"({"event":"result","success":true,"text":"Save completed successfully"})"), std::string::npos);

  SimProcess second({"--pty", "--seed", "7", "--save-data", saved}, dir, "rq750");
  const RunResult before = Cli({"backup", "diff", a, "--controller", "--port", second.Port(), "--json"}, dir);
  ASSERT_EQ(before.exitCode, cli::kExitOk) << before.err;
  const auto changes = nlohmann::json::parse(before.out);
  EXPECT_FALSE(changes["identical"].get<bool>());
  EXPECT_EQ(changes["changes"][0]["change"], "changed");
  EXPECT_TRUE(changes["changes"][0].contains("old"));

  const RunResult load = Cli({"backup", "load", a, "--port", second.Port()}, dir);
  ASSERT_EQ(load.exitCode, cli::kExitOk) << load.err;
  EXPECT_NE(load.out.find("Load completed successfully"), std::string::npos);
  const RunResult s2 = Cli({"backup", "save", b, "--port", second.Port()}, dir);
  ASSERT_EQ(s2.exitCode, cli::kExitOk) << s2.err;
  EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(b + ".xml"));  // .xml added to a name without one

  const RunResult diff = Cli({"backup", "diff", a, b + ".xml"}, dir);
  EXPECT_EQ(diff.exitCode, cli::kExitOk);
  EXPECT_EQ(diff.out, "No differences.\n");

  // The restored content survives the simulator through --save-data and
  // comes back with --data.
  EXPECT_EQ(second.Stop(), 0);
  SimProcess third({"--pty", "--data", saved}, dir, "rq750");
  const RunResult after = Cli({"backup", "diff", a, "--controller", "--port", third.Port()}, dir);
  EXPECT_EQ(after.exitCode, cli::kExitOk) << after.err;
  EXPECT_EQ(after.out, "No differences.\n");
}

TEST(BackupCli, SectionsAndExitCodes) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string();
  SimProcess sim({"--pty", "--protocol", "3.1"}, dir, "rq750");
  const RunResult settings = Cli({"backup", "save", a, "--settings", "--port", sim.Port()}, dir);
  ASSERT_EQ(settings.exitCode, cli::kExitOk) << settings.err;
  const std::string text = ReadFileBytes(a);
  EXPECT_NE(text.find("Name=\"Setup\""), std::string::npos);
  EXPECT_EQ(text.find("PartLibrary"), std::string::npos);

  // A file from a 3.2 controller differs in protocol version: declined
  // without --yes-version-differs, sent with it.
  WriteFileBytes(dir / "v32.xml",
                 "<Quor_Backup><Controller><UartVersion>3.2</UartVersion></Controller></Quor_Backup>");
  const std::string v32 = (dir / "v32.xml").string();
  EXPECT_EQ(Cli({"backup", "load", v32, "--port", sim.Port()}, dir).exitCode, cli::kExitDeclined);
  EXPECT_EQ(Cli({"backup", "load", v32, "--yes-version-differs", "--port", sim.Port()}, dir).exitCode,
            cli::kExitOk);

  struct Case {
    std::vector<std::string> args;
    int exit;
  };
  const std::string bad = (dir / "bad.xml").string();
  WriteFileBytes(bad, "<Quor_Backup><Data>");
  const Case cases[] = {
      {{"backup", "save", bad, "--port", sim.Port()}, cli::kExitBadFile},
      {{"backup", "load", bad, "--port", sim.Port()}, cli::kExitBadFile},
      {{"backup", "load", (dir / "none.xml").string(), "--port", sim.Port()}, cli::kExitBadFile},
      {{"backup", "diff", a}, cli::kExitUsage},
      {{"backup", "save", a, "--port", (dir / "no-such-tty").string()}, cli::kExitPort},
  };
  for (const auto& c : cases) {
    const RunResult r = Cli(c.args, dir);
    EXPECT_EQ(r.exitCode, c.exit) << c.args[1] << " " << c.args[2] << ": " << r.err;
  }
  EXPECT_EQ(ReadFileBytes(bad), "<Quor_Backup><Data>");
}

TEST(BackupCli, FaultsOfTheController) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string();
  {
    SimProcess wrong({"--pty", "--fault", "wrong-model"}, dir, "rq750");
    const RunResult r = Cli({"backup", "save", a, "--port", wrong.Port()}, dir);
    EXPECT_EQ(r.exitCode, cli::kExitFailure);
    EXPECT_NE(r.err.find("Current model string: RQ720"), std::string::npos) << r.err;
  }
  {
    SimProcess silent({"--pty", "--fault", "silent-after:30"}, dir, "rq750");
    const RunResult r = Cli({"backup", "save", a, "--port", silent.Port(), "--progress", "plain"}, dir);
    EXPECT_EQ(r.exitCode, cli::kExitTimeout);
    EXPECT_EQ(r.out.find("Save completed successfully"), std::string::npos);
    EXPECT_NE(r.err.find("INCOMPLETE"), std::string::npos) << r.err;
    EXPECT_NE(ReadFileBytes(a).find("<parameter"), std::string::npos);  // what was gathered is kept
  }
}

TEST(SerialTestCli, SendsALineToTheSimulator) {
  const auto dir = MakeTempDir("st");
  SimProcess sim({"--pty"}, dir, "rq750");
  // A backup frame typed as bytes: STX "01" "vX" "D1" ETX.
  const RunResult r =
      Cli({"serial-test", "0x2,0,1,v,X,D,1,0x3", "--port", sim.Port(), "--baud", "38400", "--count", "25"}, dir);
  EXPECT_EQ(r.exitCode, cli::kExitOk) << r.err;
  EXPECT_NE(r.out.find("TX:0x2,0,1,v,X,D,1,0x3"), std::string::npos);
  EXPECT_NE(r.out.find("RX:0x2,0,1,R,Q,7,5,0,-,2,4,$,4,.,1,2,$,3,.,2,$,0"), std::string::npos) << r.out;
  EXPECT_EQ(Cli({"serial-test", "AB", "--port", sim.Port()}, dir).exitCode, cli::kExitUsage);
}

}  // namespace
}  // namespace tarnvale::test
