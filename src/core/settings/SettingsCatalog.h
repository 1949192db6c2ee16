#pragma once
// The stored settings by name, for tools that show and change them without
// the GUI (tarnvale-cli settings). Values are checked as the port settings
// dialog checks them, and every write goes through the same store as the
// program's own saves (one locked, atomic write per value).

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnvale {

struct SettingDef {
  std::string_view name;  // the stored value's name, e.g. "BaudRate"
  std::string_view key;   // the key (section) it lives under
  bool number;            // a 32-bit number; otherwise text
  std::string_view help;  // what the value means
};

// Every setting, ports first.
std::span<const SettingDef> AllSettings();
// The setting of a name (case-insensitive), or null.
const SettingDef* FindSetting(std::string_view name);

// The stored value as text (numbers in decimal), or none when not stored.
std::optional<std::string> ReadSetting(const SettingDef& def);

// Why `text` is not a valid value of the setting; empty when it is. Parity,
// stop bits and data bits take their stored code or the dialog's word
// ("EVEN", "1.5", ...).
std::string CheckSetting(const SettingDef& def, const std::string& text);

// The value `text` stands for, as it is stored (e.g. "EVEN" gives "2").
// Call after CheckSetting found no fault.
std::string StoredForm(const SettingDef& def, const std::string& text);

// A stored value as `set` takes it: the dialog's word for parity and stop
// bits ("2" gives "EVEN", "1" gives "1.5"); every other value as stored.
std::string ShownForm(const SettingDef& def, const std::string& stored);

// Checks and stores a value. Empty on success, else the reason.
std::string WriteSetting(const SettingDef& def, const std::string& text);

// The settings file the values live in.
std::string SettingsFilePath();

// Which section each known value lives in: what lets the settings file
// recover the values of a damaged header.
std::map<std::string, std::string> SettingsLayout();

}  // namespace tarnvale
