#pragma once
// End-to-end tests of the box commands, run once over a pseudo-terminal
// (parameter false) and once over loopback TCP (true): tarnvale-sim box on
// that link, and CLI runs pointed at it as the programmer port.
#include <gtest/gtest.h>

#include "e2e/Processes.h"
#include "support/TestEnv.h"

namespace tarnvale::test {

class BoxOnEitherLink : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { dir_ = MakeTempDir("box-e2e"); }
  std::unique_ptr<SimProcess> Box(const std::vector<std::string>& extra) const {
    std::vector<std::string> a{GetParam() ? "--tcp" : "--pty"};
    if (GetParam()) a.push_back("127.0.0.1:0");
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

}  // namespace tarnvale::test
