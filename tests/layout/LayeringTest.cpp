// The core's folders include each other one way only, in the order that
// docs/architecture.md states. The order is read from that document, so the
// document and the code cannot drift apart without this test saying where.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/TestEnv.h"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;

// "…lowest first: platform, result, …, then programmer, production,
// backup and tools." -> {platform, result, …, tools}
std::vector<std::string> StatedOrder(const std::string& doc) {
  const auto start = doc.find("lowest first:");
  if (start == std::string::npos) return {};
  const auto end = doc.find('.', start);
  std::string list = doc.substr(start + 13, end - start - 13);
  std::replace(list.begin(), list.end(), '\n', ' ');
  std::vector<std::string> order;
  const std::regex word(R"([a-z]+)");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), word); it != std::sregex_iterator(); ++it) {
    const std::string w = it->str();
    if (w != "then" && w != "and") order.push_back(w);
  }
  return order;
}

TEST(Layering, CoreFoldersIncludeOnlyFoldersBelowThemInTheStatedOrder) {
  const fs::path root = TARNVALE_SOURCE_DIR;
  const std::vector<std::string> order = StatedOrder(test::ReadFileBytes(root / "docs" / "architecture.md"));
  ASSERT_GE(order.size(), 10u) << "docs/architecture.md no longer states the order (\"lowest first: …\")";
  auto rank = [&](const std::string& folder) {
    return static_cast<int>(std::find(order.begin(), order.end(), folder) - order.begin());
  };
  const std::regex include(R"re(#include\s+["<]([a-z]+)/([a-z]+)/)re");
  std::vector<std::string> faults;
  int files = 0;
  for (const auto& folder : fs::directory_iterator(root / "src" / "core")) {
    if (!folder.is_directory()) continue;
    const std::string name = folder.path().filename().string();
    if (rank(name) == static_cast<int>(order.size())) {
      faults.push_back("src/core/" + name + " is not in the order docs/architecture.md states");
      continue;
    }
    for (const auto& file : fs::recursive_directory_iterator(folder.path())) {
      if (!file.is_regular_file()) continue;
      ++files;
      const std::string text = test::ReadFileBytes(file.path());
      const std::string where = fs::relative(file.path(), root).string();
      if (text.find("#include <Q") != std::string::npos) faults.push_back(where + " includes Qt");
      for (auto it = std::sregex_iterator(text.begin(), text.end(), include); it != std::sregex_iterator(); ++it) {
        const std::string top = (*it)[1].str(), sub = (*it)[2].str();
        if (top != "core") {
          faults.push_back(where + " includes " + top + "/" + sub + "/, which is above the core");
        } else if (rank(sub) > rank(name)) {
          faults.push_back(where + " includes core/" + sub + "/, which comes after " + name);
        }
      }
    }
  }
  EXPECT_GT(files, 50) << "the core was not found at " << root;
  EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
}

}  // namespace
}  // namespace tarnvale
