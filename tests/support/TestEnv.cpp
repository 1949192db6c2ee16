#include "support/TestEnv.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarnvale::test {
namespace {
std::filesystem::path g_root;  // set once by main before any test runs
}

void IsolateEnvironment() {
  std::string templ = (std::filesystem::temp_directory_path() / "tarnvale-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  g_root = templ;
  const auto home = g_root / "home";
  const auto tmp = g_root / "tmp";
  const auto config = g_root / "config";
  for (const auto& d : {home, tmp, config}) std::filesystem::create_directories(d);
  setenv("HOME", home.c_str(), 1);
  setenv("TMPDIR", tmp.c_str(), 1);
  setenv("TARNVALE_CONFIG_DIR", config.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_root / "xdg").c_str(), 1);
  unsetenv("USERPROFILE");
  std::filesystem::current_path(tmp);
}

void RemoveIsolatedEnvironment() {
  if (g_root.empty() || std::getenv("TARNVALE_KEEP_TEST_FILES") != nullptr) return;
  std::error_code ec;
  std::filesystem::current_path("/", ec);
  std::filesystem::remove_all(g_root, ec);
}

std::filesystem::path MakeTempDir(const std::string& hint) {
  static std::atomic<int> counter{0};
  auto dir = g_root / "work" / (hint + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  return dir;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tarnvale::test
