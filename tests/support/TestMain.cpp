// Entry point of every test executable. Before any test runs, it moves every
// place the program writes (settings, home folder, temp folder, working
// directory) into a fresh temporary folder, so no test can touch the user's
// real files.
#include <gtest/gtest.h>

#include "support/TestEnv.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  tarnvale::test::IsolateEnvironment();
  const int result = RUN_ALL_TESTS();
  tarnvale::test::RemoveIsolatedEnvironment();
  return result;
}
