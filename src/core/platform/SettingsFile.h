#pragma once
// Persistent settings as a text file, standing in for the registry of the
// current user: one [section] per key path, one `name = type:value` line per
// value, where type is `sz` (string) or `dword` (32-bit number). Strings keep
// their text as is, except that '%', CR and LF are written as %25, %0D, %0A.
//
// Every write is a locked read-modify-write that reaches the disk through
// AtomicFile (temporary file, fsync, rename, fsync of the folder): a kill
// during a save leaves the previous file whole, and two processes saving at
// once lose no value.
//
// A file damaged by hand loads what it can: lines that do not parse and
// values of the wrong type read as missing. The first save over such a file
// keeps the damaged text as `settings.ini.bad` first, so no line is lost.
// Given the program's layout (which value lives in which section), a header
// that lost its closing ']' but names a known section still opens it, and a
// value whose header is unreadable or missing goes to the section its name
// belongs in, so a stored port name never falls back to its default.
// Only a regular file up to kSettingsFileMaxBytes is read; anything else (a
// link to a device, a FIFO, a huge file) reads as empty and is never written
// over.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace tarnvale::platform {

// $TARNVALE_CONFIG_DIR, else $XDG_CONFIG_HOME/Quor Controls/Tarnvale, else
// ~/.config/Quor Controls/Tarnvale.
std::filesystem::path SettingsDirectory();
inline constexpr const char* kSettingsFileName = "settings.ini";
inline constexpr std::uintmax_t kSettingsFileMaxBytes = 1024 * 1024;

// The system temp folder: $TMPDIR, else /tmp.
std::string SystemTempPath();

class SettingsFile {
 public:
  using Value = std::variant<std::string, std::uint32_t>;
  using Section = std::map<std::string, Value>;
  using Sections = std::map<std::string, Section>;
  // Value name -> the section (key) it belongs in.
  using Layout = std::map<std::string, std::string>;

  explicit SettingsFile(std::filesystem::path file, Layout layout = {});

  bool KeyExists(const std::string& key) const;
  std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
  std::optional<std::uint32_t> ReadDword(const std::string& key, const std::string& name) const;
  bool Write(const std::string& key, const std::string& name, const Value& value);
  // Creates the section when missing (what opening a key for writing does).
  bool CreateKey(const std::string& key);

  // Parsing and formatting, exposed for tests.
  static Sections Parse(const std::string& text);
  // As above, counting the lines that held something but could not be read.
  static Sections Parse(const std::string& text, int* unparsed);
  // As above, recovering damaged headers and homeless values by `layout`.
  static Sections Parse(const std::string& text, int* unparsed, const Layout& layout);

  // What is wrong with the file as it is, for the person: not a regular file,
  // too large, unreadable, or lines that cannot be read. Empty when sound or
  // missing.
  std::string Problem() const;
  std::filesystem::path BadCopyPath() const;
  static std::string Format(const Sections& sections);

  const std::filesystem::path& Path() const { return file_; }

 private:
  Sections LoadShared() const;
  // The stored value of either type, when the key and value exist.
  std::optional<Value> Find(const std::string& key, const std::string& name) const;
  bool Modify(const std::function<void(Sections&)>& change);

  std::filesystem::path file_;
  Layout layout_;
};

}  // namespace tarnvale::platform
