// The settle time a simulator bench may give the box: which texts are a
// number of milliseconds, and which waits it replaces.
#include <gtest/gtest.h>

#include "core/programmer/BoxCommands.h"

namespace tarnvale {
namespace {

TEST(BoxSettle, OnlyWholeMillisecondsUpToTheLimitAreTaken) {
  const std::vector<std::pair<const char*, std::optional<std::uint32_t>>> cases{
      {"0", 0u},         {"300", 300u},      {"10000", 10000u}, {"10001", std::nullopt},
      {"", std::nullopt}, {"-1", std::nullopt}, {"30ms", std::nullopt}, {" 30", std::nullopt},
      {"1.5", std::nullopt}, {"0x10", std::nullopt}, {"99999999999", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseBoxSettleMs(text), expected) << '"' << text << '"';
  }
}

TEST(BoxSettle, ReplacesTheRawReplyWaitsAndKeepsTheFramedSilence) {
  BoxTimings real;
  real.recordSilenceMs = 777;
  const BoxTimings bench = WithBoxSettle(real, 250);
  EXPECT_EQ(bench.jtagSettleMs, 250u);
  EXPECT_EQ(bench.jtagSettle386Ms, 250u);
  EXPECT_EQ(bench.boardInfoSettleMs, 250u);
  EXPECT_EQ(bench.recordSilenceMs, 777u);
  EXPECT_TRUE(bench.rawReplyEndsWhenWhole);
  EXPECT_FALSE(real.rawReplyEndsWhenWhole);
  // The real box's own times stay the defaults.
  EXPECT_EQ(std::make_tuple(real.jtagSettleMs, real.jtagSettle386Ms, real.boardInfoSettleMs),
            std::make_tuple(500u, 3500u, 1500u));
}

}  // namespace
}  // namespace tarnvale
