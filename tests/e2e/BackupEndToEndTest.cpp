// tarnvale-cli backup and serial-test against "tarnvale-sim rq750" over a
// pseudo-terminal: the round trip, the diff, --data/--save-data, faults and
// the exit codes a script relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
  const std::string saved = (dir / "second.json").string();
  SimProcess first({"--pty"}, dir, "rq750");
  const RunResult s1 = Cli({"backup", "save", a, "--port", first.Port(), "--progress", "json"}, dir);
  ASSERT_EQ(s1.exitCode, cli::kExitOk) << s1.err;
  EXPECT_NE(s1.out.find("Save completed successfully"), std::string::npos);
  // One JSON object per event, the last closing the material table.
  EXPECT_NE(s1.out.find(R"({"done":20,"event":"section_finished","section":"Materials","total":20})"),
            std::string::npos)
      << s1.out;
  EXPECT_NE(s1.out.find(R"({"bad_checksums":0,"event":"result","success":true,"text":"Save completed successfully"})"), std::string::npos);

  SimProcess second({"--pty", "--seed", "7", "--save-data", saved}, dir, "rq750");
  const RunResult before = Cli({"backup", "diff", a, "--controller", "--port", second.Port(), "--json"}, dir);
  ASSERT_EQ(before.exitCode, cli::kExitOk) << before.err;
  const auto changes = nlohmann::json::parse(before.out);
  EXPECT_FALSE(changes["identical"].get<bool>());
  EXPECT_EQ(changes["changes"][0]["change"], "changed");
  EXPECT_TRUE(changes["changes"][0].contains("old"));

  const RunResult load = Cli({"backup", "load", a, "--yes", "--port", second.Port()}, dir);
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
// taken; the wrong ones are counted in the result and in a diff.
TEST(BackupCli, OddAnswersAreTakenAndCounted) {
  const auto dir = MakeTempDir("bk");
  const std::string a = (dir / "a.xml").string();
  {
    SimProcess odd({"--pty", "--fault", "address:07", "--fault", "lower-hex", "--fault", "bad-checksum:10"}, dir,
                   "rq750");
    const RunResult r = Cli({"backup", "save", a, "--port", odd.Port(), "--progress", "json"}, dir);
    EXPECT_EQ(r.exitCode, cli::kExitOk) << r.err;
    const std::size_t line = r.out.rfind("{\"bad_checksums\"");
    ASSERT_NE(line, std::string::npos) << r.out;
    const auto result = nlohmann::json::parse(r.out.substr(line, r.out.find('\n', line) - line));
    EXPECT_GT(result["bad_checksums"].get<int>(), 0);
    EXPECT_NE(result["text"].get<std::string>().find(std::to_string(result["bad_checksums"].get<int>()) +
                                                     " replies had a checksum that did not match"),
              std::string::npos);
    const RunResult diff = Cli({"backup", "diff", a, "--controller", "--json", "--port", odd.Port()}, dir);
    ASSERT_EQ(diff.exitCode, cli::kExitOk) << diff.err;
    EXPECT_GT(nlohmann::json::parse(diff.out)["bad_checksums"].get<int>(), 0);
  }
}

// A save that does not complete leaves the backup it was saving into byte
// for byte as it was and keeps what was gathered beside it; the message names
// both files and the port of the controller that stopped answering.
TEST(BackupCli, SaveThatStopsPartWayKeepsTheOldFile) {
  const auto dir = MakeTempDir("bk");
  const std::string b = (dir / "B.xml").string();
  {
    SimProcess source({"--pty", "--seed", "5"}, dir, "rq750");
    ASSERT_EQ(Cli({"backup", "save", b, "--port", source.Port()}, dir).exitCode, cli::kExitOk);
  }
  const std::string before = ReadFileBytes(b);
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  // The connection check and the identity are exchanges 1 and 2, "ML+" is 3
  // and parameter k is read by exchange 2k+2.
  const struct {
    std::string fault;
    std::size_t parameters;  // in the kept setup section
  } cases[] = {
      {"silent-after:1", 12},  // nothing new: the old file's setup is kept as it was
      {"silent-after:40", 12},  // the setup list complete, the part library not
      {"close-after:2", 0},
      {"close-after:5", 1},
  };
  for (const auto& [fault, parameters] : cases) {
    SCOPED_TRACE(fault);
    std::filesystem::remove(b + ".partial");
    SimProcess sim({"--pty", "--fault", fault}, dir, "rq750");
    const RunResult r = Cli({"backup", "save", b, "--port", sim.Port(), "--progress", "plain"}, dir);
    EXPECT_EQ(r.exitCode, cli::kExitTimeout) << r.err;
    EXPECT_EQ(ReadFileBytes(b), before);
    EXPECT_EQ(count(ReadFileBytes(b + ".partial"), "<parameter "), parameters);
    EXPECT_NE(r.err.find("What was gathered is kept in " + b + ".partial; " + b + " is left as it was."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("The controller on " + sim.Port() + " did not answer."), std::string::npos) << r.err;
  }
}

// Every backup command's results end in their documented exit codes: a
// silent controller 4, a question answered no 6, a bad file 5, a wrong model
// 1, bad arguments 2, a missing port 3, success 0. (Ctrl-C: InterruptEndToEnd.)
TEST(BackupCli, ExitCodesOfEveryBackupCommand) {
  const auto dir = MakeTempDir("bk");
  const std::string good = (dir / "good.xml").string(), out = (dir / "out.xml").string();
  {
    SimProcess source({"--pty", "--seed", "4"}, dir, "rq750");
    ASSERT_EQ(Cli({"backup", "save", good, "--port", source.Port()}, dir).exitCode, cli::kExitOk);
  }
  const std::string notBackup = (dir / "settings.xml").string();
  WriteFileBytes(notBackup, "<Settings><Port>COM1</Port></Settings>");
  const std::string fifo = (dir / "fifo.xml").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string bad = (dir / "bad.xml").string();
  WriteFileBytes(bad, "<Quor_Backup><Data>");
  struct Case {
    const char* name;
    std::vector<std::string> sim;  // simulator options besides --pty
    std::vector<std::string> cli;  // "{port}" is the simulator's
    int exit;
    std::string said;  // on stderr
  };
  const std::string port = "{port}";
  const Case cases[] = {
      {"save, success", {}, {"backup", "save", out, "--port", port}, cli::kExitOk, ""},
      {"save, silent from the start", {"--fault", "silent-after:0"}, {"backup", "save", out, "--port", port},
       cli::kExitTimeout, "did not answer."},
      {"save, silent after the check", {"--fault", "silent-after:1"}, {"backup", "save", out, "--port", port},
       cli::kExitTimeout, "did not answer."},
      {"save into a FIFO", {}, {"backup", "save", fifo, "--port", port}, cli::kExitBadFile, fifo},
      {"save into a file that is not a backup", {}, {"backup", "save", notBackup, "--port", port},
       cli::kExitBadFile, "it has no Quor_Backup element"},
      {"load, success", {}, {"backup", "load", good, "--yes", "--port", port}, cli::kExitOk, ""},
      {"load, silent after the check", {"--fault", "silent-after:1"},
       {"backup", "load", good, "--yes", "--port", port}, cli::kExitTimeout, "did not answer."},
      {"load, declined", {}, {"backup", "load", good, "--port", port}, cli::kExitDeclined, "nothing was sent"},
      {"load of a file that is not a backup", {}, {"backup", "load", notBackup, "--yes", "--port", port},
       cli::kExitBadFile, notBackup + " is not a backup (it has no Quor_Backup element, its root is Settings)"},
      {"load of a FIFO", {}, {"backup", "load", fifo, "--yes", "--port", port}, cli::kExitBadFile, fifo},
      {"diff, success", {}, {"backup", "diff", good, "--controller", "--port", port}, cli::kExitOk, ""},
      {"save into a damaged backup", {}, {"backup", "save", bad, "--port", port}, cli::kExitBadFile, bad},
      {"load of a damaged backup", {}, {"backup", "load", bad, "--port", port}, cli::kExitBadFile, bad},
      {"load of a missing file", {}, {"backup", "load", (dir / "none.xml").string(), "--port", port},
       cli::kExitBadFile, "none.xml"},
      {"diff of one file", {}, {"backup", "diff", good}, cli::kExitUsage, ""},
      {"save to a port that does not exist", {}, {"backup", "save", out, "--port", (dir / "no-such-tty").string()},
       cli::kExitPort, "no-such-tty"},
      {"save from another model", {"--fault", "wrong-model"}, {"backup", "save", out, "--port", port},
       cli::kExitFailure, "Current model string: RQ720"},
      {"diff, silent after the check", {"--fault", "silent-after:1"},
       {"backup", "diff", good, "--controller", "--port", port}, cli::kExitTimeout, "did not answer."},
      {"diff, link lost in the setup list", {"--fault", "close-after:6"},
       {"backup", "diff", good, "--controller", "--port", port}, cli::kExitTimeout,
       "The controller could not be read completely."},
      {"diff with a file that is not a backup", {}, {"backup", "diff", notBackup, "--controller", "--port", port},
       cli::kExitBadFile, "is not a backup"},
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
  EXPECT_EQ(ReadFileBytes(bad), "<Quor_Backup><Data>");
}

// Backups written on other machines: 8-bit bytes by the file's declared
// encoding (or none), compared as text and as JSON without an abort (the
// encodings themselves: BackupDiffTest), and kept byte for byte through a
// load and a save.
TEST(BackupCli, FilesFromOtherMachines) {
  const auto dir = MakeTempDir("bk");
  const std::string base = (dir / "base.xml").string();
  SimProcess sim({"--pty"}, dir, "rq750");
  ASSERT_EQ(Cli({"backup", "save", base, "--port", sim.Port()}, dir).exitCode, cli::kExitOk);
  const std::string text = ReadFileBytes(base);
  const std::string description = "<Description>G100 profile</Description>";
  ASSERT_NE(text.find(description), std::string::npos);
  const auto withDescription = [&](const std::string& declaration, const std::string& bytes) {
    std::string t = text;
    t.replace(t.find(description), description.size(), "<Description>" + bytes + "</Description>");
    return declaration + t;
  };
  struct Case {
    const char* name;
    std::string file;
    std::string shown;  // the new description as UTF-8
  };
  const Case cases[] = {
      {"windows-1252", withDescription("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n", "90\xB0 \x93" "fold\x94"),
       "90\u00B0 \u201Cfold\u201D"},
      {"UTF-8 declared, a stray byte", withDescription("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", "90\xB0 fold"),
       "90\uFFFD fold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string other = (dir / "other.xml").string();
    WriteFileBytes(other, c.file);
    const RunResult plain = Cli({"backup", "diff", base, other}, dir);
    EXPECT_EQ(plain.exitCode, cli::kExitOk) << plain.err;
    EXPECT_TRUE(Has(plain.out, "\n  Description: G100 profile \u2192 " + c.shown + "\n")) << plain.out;
    const RunResult json = Cli({"backup", "diff", base, other, "--json"}, dir);
    ASSERT_EQ(json.exitCode, cli::kExitOk) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["changes"].size(), 1u);
    ASSERT_EQ(j["changes"][0]["fields"].size(), 1u);
    EXPECT_EQ(j["changes"][0]["fields"][0]["name"], "Description");
    EXPECT_EQ(j["changes"][0]["fields"][0]["new"], c.shown);
  }
  // A well-formed XML file that is not a backup is refused, not compared as empty.
  const std::string settings = (dir / "settings.xml").string();
  WriteFileBytes(settings, "<Settings><Port>COM1</Port></Settings>");
  const RunResult r = Cli({"backup", "diff", base, settings, "--json"}, dir);
  EXPECT_EQ(r.exitCode, cli::kExitBadFile);
  EXPECT_TRUE(Has(r.err, settings + " is not a backup (it has no Quor_Backup element, its root is Settings).")) << r.err;
  // The controller gets the bytes the file holds, and gives them back.
  const std::string latin = (dir / "latin.xml").string(), again = (dir / "again.xml").string();
  WriteFileBytes(latin, withDescription("", "90\xB0 fold"));
  const RunResult load = Cli({"backup", "load", latin, "--yes", "--parts", "--port", sim.Port()}, dir);
  ASSERT_EQ(load.exitCode, cli::kExitOk) << load.err;
  ASSERT_EQ(Cli({"backup", "save", again, "--parts", "--port", sim.Port()}, dir).exitCode, cli::kExitOk);
  EXPECT_TRUE(Has(ReadFileBytes(again), "<Description>90\xB0 fold</Description>"));
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
  // Nothing back, a folder, a file of nothing valid: said, and not exit 0.
  WriteFileBytes((dir / "quiet.txt").string(), "Z\nAB\n");
  WriteFileBytes((dir / "bad.txt").string(), "AB\n");
  const struct {
    std::vector<std::string> args;
    int exit;
    std::string text;  // on stdout or stderr
  } cases[] = {
      {{"AB"}, cli::kExitUsage, "Not sent: \"AB\" is neither one character nor a byte value"},
      {{"Z", "--timeout", "100"}, cli::kExitTimeout, "No reply within 100 ms"},
      {{"Z", "--count", "0"}, cli::kExitTimeout, "Nothing came back on " + sim.Port()},
      {{"--file", (dir / "quiet.txt").string(), "--timeout", "50"}, cli::kExitTimeout,
       "Nothing came back on " + sim.Port() + " for any of the 1 line sent"},
      {{"--file", (dir / "bad.txt").string()}, cli::kExitBadFile, "no line of it could be sent"},
      {{"--file", dir.string()}, cli::kExitBadFile, "Unable to Open File! (is a folder, not a regular file)"},
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
