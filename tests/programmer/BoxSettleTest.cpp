// The settle time a simulator bench may give the box: which waits it
// replaces, and the real box's own times.
#include <gtest/gtest.h>

#include "core/programmer/BoxCommands.h"

namespace tarnvale {
namespace {

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
