// --help and --version of the desktop tool are answered before Qt starts,
// so they work without a display (the man page is written from them).
#include <gtest/gtest.h>

#include <sstream>

#include "gui/app/InfoOptions.h"

namespace tarnvale::gui {
namespace {

TEST(InfoOptions, AnswersHelpAndVersionAndLeavesTheRestToQt) {
  struct Case {
    std::vector<const char*> args;
    std::optional<int> exitCode;
    std::string printedStart;  // what the output begins with; empty: nothing printed
  };
  const std::string version = std::string("tarnvale ") + TARNVALE_VERSION + "\n";
  const std::vector<Case> cases{
      {{}, std::nullopt, ""},
      {{"--help"}, 0, "Tarnvale: program and test Quor Controls controllers\nUsage: tarnvale [OPTIONS]\n"},
      {{"--version"}, 0, version},
      // Help wins over version wherever each stands, as in the other programs.
      {{"--version", "--help"}, 0, "Tarnvale: program and test"},
      {{"-platform", "offscreen", "--version"}, 0, version},
      // Only whole words count.
      {{"--versions", "-help"}, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<const char*> argv{"tarnvale"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::ostringstream out;
    EXPECT_EQ(AnswerInfoOptions(static_cast<int>(argv.size()), argv.data(), out), c.exitCode);
    EXPECT_EQ(out.str().substr(0, c.printedStart.size()), c.printedStart);
    if (c.printedStart.empty()) {
      EXPECT_EQ(out.str(), "");
    }
  }
}

}  // namespace
}  // namespace tarnvale::gui
