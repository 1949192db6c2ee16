// --port, --programmer-port and --baud hold for one run only: every command
// reaches the device it was pointed at, and the stored settings stay byte for
// byte as they were (the stored ports lead to no simulator, so a command that
// fell back to them would fail).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/platform/SettingsFile.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

RunResult Cli(std::vector<std::string> args, const std::filesystem::path& dir) {
  args.insert(args.begin(), TARNVALE_CLI_PATH);
  return RunCommand(args, dir, 60000);
}

TEST(PortOptions, EveryCommandUsesTheGivenPortAndLeavesTheSettingsAlone) {
  const auto dir = MakeTempDir("ports");
  ASSERT_EQ(Cli({"settings", "list"}, dir).exitCode, 0);
  const auto settingsFile = platform::SettingsDirectory() / platform::kSettingsFileName;
  const std::string stored = ReadFileBytes(settingsFile);
  ASSERT_FALSE(stored.empty());
  const std::string testImage = (dir / "test.S").string();
  WriteSRecImage(testImage, 0, 0x800, 0x210, "T2.00", 7);
  const std::string log = (dir / "production.jsonl").string();

  struct Case {
    const char* device;              // the simulator's subcommand
    std::vector<std::string> sim;    // its options besides --pty
    std::vector<std::string> args;   // "{port}" is the simulator's port
    std::string shows = "";          // on stdout
  };
  const Case cases[] = {
      {"rq700", {}, {"info", "--port", "{port}", "--baud", "57600"}},
      {"box", {}, {"box", "version", "--programmer-port", "{port}", "--baud", "57600"}},
      {"box", {}, {"pic18", "id", "--programmer-port", "{port}", "--baud", "57600"}},
      {"box", {}, {"boot", "blank", "--programmer-port", "{port}", "--baud", "57600"}},
      {"tn835",
       {"--erase-ms", "20"},
       {"tn835", "program-test", "--port", "{port}", "--baud", "57600", "--test-path", testImage, "--log", log,
        "--progress", "plain"}},
      {"rq750", {}, {"backup", "save", (dir / "saved.xml").string(), "--port", "{port}", "--baud", "38400"}},
      // A backup frame typed as bytes, STX "01" "vX" "D1" ETX, and the controller's reply.
      {"rq750", {}, {"serial-test", "0x2,0,1,v,X,D,1,0x3", "--port", "{port}", "--baud", "38400", "--count", "25"},
       "RX:0x2,0,1,R,Q,7,5,0,-,2,4,$,4,.,1,2,$,3,.,2,$,0"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> simArgs{"--pty"};
    simArgs.insert(simArgs.end(), c.sim.begin(), c.sim.end());
    SimProcess sim(simArgs, dir, c.device);
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "{port}") a = sim.Port();
    }
    SCOPED_TRACE(args[0] + " " + args[1]);
    const RunResult r = Cli(args, dir);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, c.shows)) << r.out;
    EXPECT_EQ(ReadFileBytes(settingsFile), stored);
  }
}

}  // namespace
}  // namespace tarnvale::test
