#include "FormatsTestUtil.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/TestEnv.h"

namespace tarnvale::test {

std::vector<Packet> DrainStream(IntelHexFile& file, std::size_t limit) {
  std::vector<Packet> out;
  Packet p;
  while (!file.IsFinished()) {
    if (out.size() >= limit) throw std::runtime_error("stream does not finish");
    file.GetNextPacket(p);
    out.push_back(p);
  }
  return out;
}

std::vector<Packet> NonEmpty(const std::vector<Packet>& packets) {
  std::vector<Packet> out;
  for (const auto& p : packets) {
    if (!p.empty()) out.push_back(p);
  }
  return out;
}

std::string ToHex(const Packet& packet) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : packet) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 0xF]);
  }
  return s;
}

Packet FromHex(const std::string& hex) {
  Packet p;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    p.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return p;
}

std::filesystem::path WriteTemp(const std::string& name, const std::string& text) {
  const auto path = MakeTempDir("fmt") / name;
  WriteFileBytes(path, text);
  return path;
}

int RunCommand(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const auto candidate = std::filesystem::path(dir.empty() ? "." : dir) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

std::string Quote(const std::filesystem::path& p) {
  std::string s = "'";
  for (char c : p.string()) {
    if (c == '\'') {
      s += "'\\''";
    } else {
      s.push_back(c);
    }
  }
  return s + "'";
}

}  // namespace tarnvale::test
