#include "core/platform/SettingsFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <sstream>

#include "core/platform/AtomicFile.h"

namespace tarnvale::platform {
namespace fs = std::filesystem;
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '%') out += "%25";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const std::string code = s.substr(i + 1, 2);
      if (code == "25") { out += '%'; i += 2; continue; }
      if (code == "0D") { out += '\r'; i += 2; continue; }
      if (code == "0A") { out += '\n'; i += 2; continue; }
    }
    out += s[i];
  }
  return out;
}

std::optional<std::uint32_t> ParseDword(const std::string& text) {
  std::string t = Trim(text);
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t = t.substr(2);
    base = 16;
  }
  std::uint32_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

// Holds an flock on the lock file beside the settings for its lifetime.
class FileLock {
 public:
  FileLock(const fs::path& lockPath, int op) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, op) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

enum class ReadState { kOk, kMissing, kNotRegular, kTooLarge, kUnreadable };

// Reads only a regular file of sane size: a link to a device or a FIFO must
// neither block nor fill memory. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer.
ReadState ReadWhole(const fs::path& p, std::string& text) {
  text.clear();
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? ReadState::kMissing : ReadState::kUnreadable;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return ReadState::kUnreadable;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadState::kNotRegular;
  }
  if (static_cast<std::uintmax_t>(st.st_size) > kSettingsFileMaxBytes) {
    ::close(fd);
    return ReadState::kTooLarge;
  }
  char buf[8192];
  ReadState state = ReadState::kOk;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
      if (text.size() > kSettingsFileMaxBytes) {  // grew while we read
        state = ReadState::kTooLarge;
        text.clear();
        break;
      }
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0) state = ReadState::kUnreadable;
      break;
    }
  }
  ::close(fd);
  return state;
}

std::string ReadWhole(const fs::path& p) {
  std::string text;
  ReadWhole(p, text);
  return text;
}

}  // namespace

fs::path SettingsDirectory() {
  if (const char* dir = std::getenv("TARNVALE_CONFIG_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    return fs::path(xdg) / "Quor Controls" / "Tarnvale";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".config" / "Quor Controls" / "Tarnvale";
}

std::string SystemTempPath() {
  if (const char* t = std::getenv("TMPDIR"); t && *t) return t;
  return "/tmp";
}

SettingsFile::SettingsFile(fs::path file, Layout layout)
    : file_(std::move(file)), layout_(std::move(layout)) {}

SettingsFile::Sections SettingsFile::Parse(const std::string& text) { return Parse(text, nullptr); }

SettingsFile::Sections SettingsFile::Parse(const std::string& text, int* unparsed) {
  return Parse(text, unparsed, Layout{});
}

SettingsFile::Sections SettingsFile::Parse(const std::string& text, int* unparsed,
                                           const Layout& layout) {
  int bad = 0;
  Sections sections;
  Section* current = nullptr;
  auto knownSection = [&](const std::string& name) {
    for (const auto& [value, key] : layout) {
      if (key == name) return true;
    }
    return false;
  };
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        ++bad;  // counted, so the save keeps the damaged text as a copy
        const std::string meant = Trim(line.substr(1, line.back() == ']' ? line.size() - 2 : std::string::npos));
        if (!meant.empty() && knownSection(meant)) {
          current = &sections[meant];
        } else {
          current = nullptr;
        }
        continue;
      }
      current = &sections[line.substr(1, line.size() - 2)];
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      ++bad;
      continue;
    }
    const std::string name = Trim(line.substr(0, eq));
    // Under a header that could not be read, or before any header, a value
    // still has a home when the program knows its name.
    Section* home = current;
    if (home == nullptr) {
      const auto known = layout.find(name);
      if (known == layout.end()) {
        ++bad;
        continue;
      }
      home = &sections[known->second];
    }
    // Keep the value's own leading/trailing spaces except the one after '='.
    std::string rest = raw.substr(raw.find('=') + 1);
    if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
    if (!rest.empty() && rest.back() == '\r') rest.pop_back();
    if (name.empty()) {
      ++bad;
      continue;
    }
    if (rest.rfind("sz:", 0) == 0) {
      (*home)[name] = Unescape(rest.substr(3));
    } else if (rest.rfind("dword:", 0) == 0) {
      if (auto v = ParseDword(rest.substr(6))) (*home)[name] = *v;
      else ++bad;
    } else {
      ++bad;
    }
  }
  if (unparsed) *unparsed = bad;
  return sections;
}

std::string SettingsFile::Format(const Sections& sections) {
  std::string out =
      "; Tarnvale settings. Values are `name = sz:text` or `name = dword:number`.\n";
  for (const auto& [key, values] : sections) {
    out += "\n[" + key + "]\n";
    for (const auto& [name, value] : values) {
      if (const auto* s = std::get_if<std::string>(&value)) {
        out += name + " = sz:" + Escape(*s) + "\n";
      } else {
        out += name + " = dword:" + std::to_string(std::get<std::uint32_t>(value)) + "\n";
      }
    }
  }
  return out;
}

SettingsFile::Sections SettingsFile::LoadShared() const {
  std::error_code ec;
  if (!fs::exists(file_, ec)) return {};
  FileLock lock(file_.string() + ".lock", LOCK_SH);
  return Parse(ReadWhole(file_), nullptr, layout_);  // anything but a sane regular file reads as empty
}

bool SettingsFile::KeyExists(const std::string& key) const { return LoadShared().count(key) != 0; }

std::optional<SettingsFile::Value> SettingsFile::Find(const std::string& key,
                                                      const std::string& name) const {
  const Sections s = LoadShared();
  const auto k = s.find(key);
  if (k == s.end()) return std::nullopt;
  const auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

std::optional<std::string> SettingsFile::ReadString(const std::string& key,
                                                    const std::string& name) const {
  const auto v = Find(key, name);
  const auto* text = v ? std::get_if<std::string>(&*v) : nullptr;
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::uint32_t> SettingsFile::ReadDword(const std::string& key,
                                                     const std::string& name) const {
  const auto v = Find(key, name);
  const auto* n = v ? std::get_if<std::uint32_t>(&*v) : nullptr;
  return n ? std::optional<std::uint32_t>(*n) : std::nullopt;
}

bool SettingsFile::Modify(const std::function<void(Sections&)>& change) {
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  FileLock lock(file_.string() + ".lock", LOCK_EX);
  std::string old;
  const ReadState state = ReadWhole(file_, old);
  // Never write over something that is not our file or that we could not
  // read whole: the person's data there would be lost.
  if (state != ReadState::kOk && state != ReadState::kMissing) return false;
  int unparsed = 0;
  Sections sections = Parse(old, &unparsed, layout_);
  if (unparsed > 0) {
    // Writing drops the lines we could not read; keep them in a copy first.
    AtomicFile bad(BadCopyPath().string(), 0600);
    if (!bad.WriteWhole(old)) return false;
  }
  change(sections);
  // The settings hold the person's own choices: private, like the lock.
  AtomicFile file(file_.string(), 0600);
  return file.WriteWhole(Format(sections));
}

fs::path SettingsFile::BadCopyPath() const { return file_.string() + ".bad"; }

std::string SettingsFile::Problem() const {
  std::string text;
  switch (ReadWhole(file_, text)) {
    case ReadState::kOk:
    case ReadState::kMissing:
      break;
    case ReadState::kNotRegular:
      return "the settings file " + file_.string() +
             " is not a regular file; the defaults are used and it is left as it is";
    case ReadState::kTooLarge:
      return "the settings file " + file_.string() + " is larger than " +
             std::to_string(kSettingsFileMaxBytes / 1024) +
             " KiB; the defaults are used and it is left as it is";
    case ReadState::kUnreadable:
      return "the settings file " + file_.string() +
             " cannot be read; the defaults are used and it is left as it is";
  }
  int unparsed = 0;
  Parse(text, &unparsed, layout_);
  if (unparsed == 0) return {};
  return "the settings file " + file_.string() + " has " + std::to_string(unparsed) +
         (unparsed == 1 ? " line that cannot be read; it is ignored" : " lines that cannot be read; they are ignored") +
         " (values the program knows by name are kept), and a copy of the file is kept as " +
         BadCopyPath().string() + " before the next save";
}

bool SettingsFile::Write(const std::string& key, const std::string& name, const Value& value) {
  return Modify([&](Sections& s) { s[key][name] = value; });
}

bool SettingsFile::CreateKey(const std::string& key) {
  return Modify([&](Sections& s) { s[key]; });
}

}  // namespace tarnvale::platform
