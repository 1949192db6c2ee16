// The operating system is reached only through src/core/platform: the rest
// of the core is plain C++ over its small functions, so what the system does
// differently (or a second system) is one folder's business.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace tarnvale {
namespace {

namespace fs = std::filesystem;

// Headers that exist only to call the system directly.
const std::regex kSystemHeader(
    R"(^\s*#\s*include\s*<(unistd\.h|fcntl\.h|sys/[^>]+|termios\.h|poll\.h|signal\.h|csignal|pwd\.h|grp\.h|)"
    R"(dirent\.h|dlfcn\.h|spawn\.h|pthread\.h|netdb\.h|netinet/[^>]+|arpa/[^>]+|asm/[^>]+|linux/[^>]+)>)");

std::vector<std::string> SystemIncludes(const fs::path& file) {
  std::vector<std::string> found;
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (std::regex_search(line, kSystemHeader)) found.push_back(std::to_string(number) + ": " + line);
  }
  return found;
}

TEST(SystemCalls, OnlyThePlatformFolderIncludesSystemHeaders) {
  const fs::path core = fs::path(TARNVALE_SOURCE_DIR) / "src" / "core";
  ASSERT_TRUE(fs::is_directory(core / "platform")) << core;
  std::size_t scanned = 0, platformHits = 0;
  std::string offenders;
  for (const auto& entry : fs::recursive_directory_iterator(core)) {
    const fs::path& p = entry.path();
    if (!entry.is_regular_file() || (p.extension() != ".cpp" && p.extension() != ".h")) continue;
    if (fs::relative(p, core).begin()->string() == "platform") {
      platformHits += SystemIncludes(p).size();
      continue;
    }
    ++scanned;
    for (const std::string& hit : SystemIncludes(p)) offenders += fs::relative(p, core).string() + ":" + hit + "\n";
  }
  EXPECT_GT(scanned, 50u) << "the core's sources were not found";
  // The pattern must know the system headers the platform folder does use:
  // one that matched nothing would pass anything.
  EXPECT_GT(platformHits, 10u);
  EXPECT_EQ(offenders, "");
}

}  // namespace
}  // namespace tarnvale
