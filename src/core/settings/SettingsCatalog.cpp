#include "core/settings/SettingsCatalog.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "core/platform/SettingsFile.h"
#include "core/settings/CRegistry.h"
#include "core/settings/ConfigData.h"

namespace tarnvale {
namespace {

using namespace settings_key;
constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;
constexpr std::uint32_t kMaxStationNumber = 999999999;

constexpr std::array<SettingDef, 22> kSettings{{
    {"COMPort", kPort, false, "primary (controller) port: a device path, COMn or TCP/IP"},
    {"BaudRate", kPort, true, "primary port baud rate"},
    {"Parity", kPort, true, "primary port parity: 0 NONE, 1 ODD, 2 EVEN"},
    {"StopBits", kPort, true, "primary port stop bits: 0 (1), 1 (1.5), 2 (2)"},
    {"ByteSize", kPort, true, "primary port data bits: 7 or 8"},
    {"AuxCOMPort", kPort, false, "Universal Programmer port: a device path, COMn or TCP/IP"},
    {"AuxBaudRate", kPort, true, "programmer port baud rate"},
    {"AuxParity", kPort, true, "programmer port parity: 0 NONE, 1 ODD, 2 EVEN"},
    {"AuxStopBits", kPort, true, "programmer port stop bits: 0 (1), 1 (1.5), 2 (2)"},
    {"AuxByteSize", kPort, true, "programmer port data bits: 7 or 8"},
    {"IPAddress", kPort, false, "address of a controller on TCP/IP (port 4000)"},
    {"UseIPAddress", kPort, true, "1: the primary link uses the IP address"},
    {"ForeGroundTextColor", kWindow, true, "terminal text colour (0xBBGGRR)"},
    {"BackGroundTextColor", kWindow, true, "terminal background colour (0xBBGGRR)"},
    {"VerifyAfterProgramming", kWindow, true, "1: the flash dialog reads the image back after programming"},
    {"TN835 Application Path", kProduction, false, "folder of the TN835 application images"},
    {"TN835 Application File", kProduction, false, "file name of the TN835 application image"},
    {"TN835 Boot Path And File", kProduction, false, "TN835 boot image"},
    {"TN835 Test Path And File", kProduction, false, "folder of the TN835 test images"},
    {"User Temp Path", kProduction, false, "folder of the error log"},
    {"StationSerialPattern", kProduction, false,
     "TN835 station serial pattern: text with one counter {n} or {n:05}, and {yyyy} {yy} {mm} {dd}"},
    {"StationNextNumber", kProduction, true, "TN835 station: counter value of the next unit (1 to 999999999)"},
}};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::uint32_t> ParseNumber(const std::string& text) {
  std::uint32_t v = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    first += 2;
    base = 16;
  }
  if (first == last) return std::nullopt;
  const auto [end, ec] = std::from_chars(first, last, v, base);
  if (ec != std::errc() || end != last) return std::nullopt;
  return v;
}

// The code of a word of the port dialog's lists, or of a code itself.
std::optional<std::uint32_t> CodeOf(const std::string& text, std::span<const std::string_view> words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (SameName(text, words[i])) return static_cast<std::uint32_t>(i);
  }
  const auto n = ParseNumber(text);
  if (n && *n < words.size()) return n;
  return std::nullopt;
}

constexpr std::array<std::string_view, 3> kParityWords{"NONE", "ODD", "EVEN"};
constexpr std::array<std::string_view, 3> kStopWords{"1", "1.5", "2"};

bool Ends(std::string_view name, std::string_view tail) {
  return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
}

bool IsIpAddress(const std::string& text) {
  int parts = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t dot = std::min(text.find('.', pos), text.size());
    const std::string part = text.substr(pos, dot - pos);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) ||
        std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    pos = dot + 1;
  }
  return parts == 4;
}

}  // namespace

std::span<const SettingDef> AllSettings() { return kSettings; }

const SettingDef* FindSetting(std::string_view name) {
  for (const SettingDef& d : kSettings) {
    if (SameName(d.name, name)) return &d;
  }
  return nullptr;
}

std::optional<std::string> ReadSetting(const SettingDef& def) {
  const std::string key(def.key), name(def.name);
  if (def.number) {
    std::uint32_t v = 0;
    if (!CRegistry::ReadDWORD(kRoot, key, name, v)) return std::nullopt;
    return std::to_string(v);
  }
  std::string text;
  if (!CRegistry::ReadString(kRoot, key, name, text)) return std::nullopt;
  return text;
}

std::string CheckSetting(const SettingDef& def, const std::string& text) {
  const std::string_view n = def.name;
  if (Ends(n, "BaudRate")) {
    const auto v = ParseNumber(text);
    if (!v || std::find(kBaudRates.begin(), kBaudRates.end(), *v) == kBaudRates.end()) {
      std::string list;
      for (const std::uint32_t r : kBaudRates) list += (list.empty() ? "" : ", ") + std::to_string(r);
      return "not a baud rate of the port dialog (" + list + ")";
    }
    return {};
  }
  if (Ends(n, "Parity")) return CodeOf(text, kParityWords) ? "" : "parity is NONE, ODD or EVEN (0, 1, 2)";
  if (Ends(n, "StopBits")) return CodeOf(text, kStopWords) ? "" : "stop bits are 1, 1.5 or 2 (codes 0, 1, 2)";
  if (Ends(n, "ByteSize")) {
    const auto v = ParseNumber(text);
    return v && (*v == 7 || *v == 8) ? "" : "data bits are 7 or 8";
  }
  if (n == "IPAddress") return IsIpAddress(text) ? "" : "not a dotted IPv4 address (A.B.C.D)";
  if (n == "VerifyAfterProgramming") {
    const auto v = ParseNumber(text);
    return v && *v <= 1 ? "" : "0 or 1";
  }
  if (n == "StationNextNumber") {
    // A counter of at most nine digits, the widest a pattern can give it.
    const auto v = ParseNumber(text);
    return v && *v >= 1 && *v <= kMaxStationNumber ? "" : "a counter value 1 to 999999999";
  }
  if (n == "UseIPAddress") {
    const auto v = ParseNumber(text);
    return v && *v <= 1 ? "" : "0 or 1";
  }
  if (def.number) {
    const auto v = ParseNumber(text);
    return v && *v <= 0xFFFFFF ? "" : "a colour 0 to 0xFFFFFF";
  }
  if (Ends(n, "COMPort") && text.empty()) return "a port name is needed";
  if (text.empty()) return "an empty value cannot be stored";
  return {};
}

std::string StoredForm(const SettingDef& def, const std::string& text) {
  const std::string_view n = def.name;
  if (Ends(n, "Parity")) return std::to_string(*CodeOf(text, kParityWords));
  if (Ends(n, "StopBits")) return std::to_string(*CodeOf(text, kStopWords));
  if (def.number) return std::to_string(*ParseNumber(text));
  return text;
}

std::string ShownForm(const SettingDef& def, const std::string& stored) {
  const std::string_view n = def.name;
  const auto word = [&](std::span<const std::string_view> words) {
    const auto code = ParseNumber(stored);
    return code && *code < words.size() ? std::string(words[*code]) : stored;
  };
  if (Ends(n, "Parity")) return word(kParityWords);
  if (Ends(n, "StopBits")) return word(kStopWords);
  return stored;
}

std::string WriteSetting(const SettingDef& def, const std::string& text) {
  if (std::string why = CheckSetting(def, text); !why.empty()) return why;
  const std::string key(def.key), name(def.name), stored = StoredForm(def, text);
  const bool ok = def.number
                      ? CRegistry::WriteDWORD(kRoot, key, name, static_cast<std::uint32_t>(std::stoul(stored)))
                      : CRegistry::WriteString(kRoot, key, name, stored);
  return ok ? "" : "the settings file " + SettingsFilePath() + " could not be written";
}

std::string SettingsFilePath() {
  return (platform::SettingsDirectory() / platform::kSettingsFileName).string();
}

std::map<std::string, std::string> SettingsLayout() {
  std::map<std::string, std::string> layout;
  for (const SettingDef& def : kSettings) layout.emplace(def.name, def.key);
  return layout;
}

}  // namespace tarnvale
