// tarnvale-cli backup and serial-test against "tarnvale-sim rq750" over a
// pseudo-terminal: the round trip, the diff, --data/--save-data, faults and
// the exit codes a script relies on.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

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
  SimProcess first({"--pty"}, dir, "rq750");
  const RunResult s1 = Cli({"backup", "save", a, "--port", first.Port(), "--progress", "json"}, dir);
  ASSERT_EQ(s1.exitCode, cli::kExitOk) << s1.err;
  EXPECT_NE(s1.out.find("Save completed successfully"), std::string::npos);
  // One JSON object per event, the last closing the material table.
  EXPECT_NE(s1.out.find(R"({"done":20,"event":"section_finished","section":"Materials","total":20})"),
            std::string::npos)
      << s1.out;
  EXPECT_NE(s1.out.find(R"({"bad_checksums":0,"event":"result","success":true,"text":"Save completed successfully"})"), std::string::npos);

  SimProcess second({"--pty", "--seed", "7"}, dir, "rq750");
  const RunResult before = Cli({"backup", "diff", a, "--controller", "--port", second.Port(), "--json"}, dir);
  ASSERT_EQ(before.exitCode, cli::kExitOk) << before.err;
  const auto changes = nlohmann::json::parse(before.out);
  EXPECT_FALSE(changes["identical"].get<bool>());
  EXPECT_EQ(changes["changes"][0]["change"], "changed");

  const RunResult load = Cli({"backup", "load", a, "--yes", "--port", second.Port()}, dir);
  ASSERT_EQ(load.exitCode, cli::kExitOk) << load.err;
  EXPECT_NE(load.out.find("Load completed successfully"), std::string::npos);
  const RunResult s2 = Cli({"backup", "save", b, "--port", second.Port()}, dir);
  ASSERT_EQ(s2.exitCode, cli::kExitOk) << s2.err;
  EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(b + ".xml"));  // .xml added to a name without one

  const RunResult diff = Cli({"backup", "diff", a, b + ".xml"}, dir);
  EXPECT_EQ(diff.exitCode, cli::kExitOk);
  EXPECT_EQ(diff.out, "No differences.\n");
}

TEST(BackupCli, SettingsSectionAndTheVersionQuestion) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string();
  SimProcess sim({"--pty", "--protocol", "3.1"}, dir, "rq750");
  const RunResult settings = Cli({"backup", "save", a, "--settings", "--port", sim.Port()}, dir);
  ASSERT_EQ(settings.exitCode, cli::kExitOk) << settings.err;
  const std::string text = ReadFileBytes(a);
  EXPECT_NE(text.find("Name=\"Setup\""), std::string::npos);
  EXPECT_EQ(text.find("PartLibrary"), std::string::npos);

  // A file from a 3.2 controller differs in protocol version: declined
  // without --yes-version-differs or --yes; with only the version answered,
  // "overwrite the controller?" still has no terminal to be asked on.
  WriteFileBytes(dir / "v32.xml",
                 "<Quor_Backup><Controller><UartVersion>3.2</UartVersion></Controller></Quor_Backup>");
  const std::string v32 = (dir / "v32.xml").string();
  struct Answer {
    std::vector<std::string> flags;
    int exit;
    std::string said;
  };
  const Answer answers[] = {
      {{}, cli::kExitDeclined, "Load declined: the protocol versions differ"},
      {{"--yes-version-differs"}, cli::kExitDeclined, "pass --yes to go ahead without being asked"},
      {{"--yes-version-differs", "--yes"}, cli::kExitOk, "Load completed successfully"},
      {{"--yes"}, cli::kExitOk, "Answered yes (--yes)."},
  };
  for (const auto& w : answers) {
    std::vector<std::string> args{"backup", "load", v32, "--port", sim.Port()};
    args.insert(args.end(), w.flags.begin(), w.flags.end());
    const RunResult r = Cli(args, dir);
    EXPECT_EQ(r.exitCode, w.exit) << r.err;
    EXPECT_NE((r.out + r.err).find(w.said), std::string::npos) << r.out << r.err;
  }
}

// Answers from another address, in lower case and with wrong checksums are
// taken; the diff's JSON counts the wrong ones.
TEST(BackupCli, OddAnswersAreTakenAndCounted) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string();
  SimProcess odd({"--pty", "--fault", "address:07", "--fault", "lower-hex", "--fault", "bad-checksum:10"}, dir,
                 "rq750");
  ASSERT_EQ(Cli({"backup", "save", a, "--port", odd.Port()}, dir).exitCode, cli::kExitOk);
  const RunResult diff = Cli({"backup", "diff", a, "--controller", "--json", "--port", odd.Port()}, dir);
  ASSERT_EQ(diff.exitCode, cli::kExitOk) << diff.err;
  EXPECT_GT(nlohmann::json::parse(diff.out)["bad_checksums"].get<int>(), 0);
}

// Every backup command's results end in their documented exit codes: a
// silent controller 4, a question answered no 6, a bad file 5, a wrong model
// 1, bad arguments 2, a missing port 3 (success: the round trip). (Ctrl-C: InterruptEndToEnd.)
TEST(BackupCli, ExitCodesOfEveryBackupCommand) {
  const auto dir = MakeTempDir("bk");
  const std::string good = (dir / "good.xml").string(), out = (dir / "out.xml").string();
  {
    SimProcess source({"--pty", "--seed", "4"}, dir, "rq750");
    ASSERT_EQ(Cli({"backup", "save", good, "--port", source.Port()}, dir).exitCode, cli::kExitOk);
  }
  const std::string notBackup = (dir / "settings.xml").string();
  WriteFileBytes(notBackup, "<Settings><Port>COM1</Port></Settings>");
  struct Case {
    const char* name;
    std::vector<std::string> sim;  // simulator options besides --pty
    std::vector<std::string> cli;  // "{port}" is the simulator's
    int exit;
    std::string said;  // on stderr
  };
  const std::string port = "{port}";
  const Case cases[] = {
      {"save, silent from the start", {"--fault", "silent-after:0"}, {"backup", "save", out, "--port", port},
       cli::kExitTimeout, "did not answer."},
      {"save into a file that is not a backup", {}, {"backup", "save", notBackup, "--port", port},
       cli::kExitBadFile, "it has no Quor_Backup element"},
      {"load, declined", {}, {"backup", "load", good, "--port", port}, cli::kExitDeclined, "nothing was sent"},
      {"diff of one file", {}, {"backup", "diff", good}, cli::kExitUsage, ""},
      {"save to a port that does not exist", {}, {"backup", "save", out, "--port", (dir / "no-such-tty").string()},
       cli::kExitPort, "no-such-tty"},
      {"save from another model", {"--fault", "wrong-model"}, {"backup", "save", out, "--port", port},
       cli::kExitFailure, "Current model string: RQ720"},
      {"diff, link lost in the setup list", {"--fault", "close-after:6"},
       {"backup", "diff", good, "--controller", "--port", port}, cli::kExitTimeout,
       "The controller could not be read completely."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(out);
    std::vector<std::string> simArgs{"--pty"};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    SimProcess sim(simArgs, dir, "rq750");
    std::vector<std::string> argv{TARNVALE_CLI_PATH};
    for (const auto& a : c.cli) argv.push_back(a == port ? sim.Port() : a);
    const RunResult r = RunCommand(argv, dir, 30000);
    EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, c.said)) << r.err;
    if (c.said == "did not answer.") {
      EXPECT_TRUE(Has(r.err, "The controller on " + sim.Port() + " did not answer.")) << r.err;
      EXPECT_FALSE(std::filesystem::exists(out)) << "a save that did not complete made no file";
    }
  }
}

// A backup written on another machine, with an 8-bit byte in it: the
// controller gets the bytes the file holds, and gives them back.
TEST(BackupCli, EightBitBytesGoThroughTheControllerAsTheyAre) {
  const auto dir = MakeTempDir("bk");
  const std::string base = (dir / "base.xml").string();
  SimProcess sim({"--pty"}, dir, "rq750");
  ASSERT_EQ(Cli({"backup", "save", base, "--port", sim.Port()}, dir).exitCode, cli::kExitOk);
  std::string text = ReadFileBytes(base);
  const std::string description = "<Description>G100 profile</Description>";
  ASSERT_NE(text.find(description), std::string::npos);
  text.replace(text.find(description), description.size(), "<Description>90\xB0 fold</Description>");
  const std::string latin = (dir / "latin.xml").string(), again = (dir / "again.xml").string();
  WriteFileBytes(latin, text);
  const RunResult load = Cli({"backup", "load", latin, "--yes", "--parts", "--port", sim.Port()}, dir);
  ASSERT_EQ(load.exitCode, cli::kExitOk) << load.err;
  ASSERT_EQ(Cli({"backup", "save", again, "--parts", "--port", sim.Port()}, dir).exitCode, cli::kExitOk);
  EXPECT_TRUE(Has(ReadFileBytes(again), "<Description>90\xB0 fold</Description>"));
}

// serial-test with text that is no byte, nothing back, a file of nothing
// valid: said, and not exit 0. (A line sent and its reply: PortOptions.)
TEST(SerialTestCli, WhatIsNotSentOrNotAnsweredEndsNonZero) {
  const auto dir = MakeTempDir("st");
  SimProcess sim({"--pty"}, dir, "rq750");
  WriteFileBytes((dir / "quiet.txt").string(), "Z\nAB\n");
  WriteFileBytes((dir / "bad.txt").string(), "AB\n");
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string text;  // on stdout or stderr
  } cases[] = {
      {{"AB"}, cli::kExitUsage, "Not sent: \"AB\" is neither one character nor a byte value"},
      {{"--file", (dir / "quiet.txt").string(), "--timeout", "50"}, cli::kExitTimeout,
       "Nothing came back on " + sim.Port() + " for any of the 1 line sent"},
      {{"--file", (dir / "bad.txt").string()}, cli::kExitBadFile, "no line of it could be sent"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"serial-test"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"--port", sim.Port()});
    const RunResult bad = Cli(args, dir);
    EXPECT_EQ(bad.exitCode, c.exit) << c.args[0] << bad.out << bad.err;
    EXPECT_TRUE(Has(bad.out + bad.err, c.text)) << c.args[0] << bad.out << bad.err;
  }
}

}  // namespace
}  // namespace tarnvale::test
