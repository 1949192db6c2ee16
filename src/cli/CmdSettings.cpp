// settings list|get|set|path: the stored settings without the GUI.
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "core/production/Station.h"
#include "core/settings/ConfigData.h"
#include "core/settings/SettingsCatalog.h"

namespace tarnvale::cli {
namespace {

// First-run defaults are written as the GUI's start-up would write them, so
// that every setting has a value to show.
void LoadDefaults() {
  ConfigData settings;
  LoadSettings(settings);
}

const SettingDef& Lookup(const std::string& name) {
  const SettingDef* def = FindSetting(name);
  if (def == nullptr) {
    std::string names;
    for (const SettingDef& d : AllSettings()) names += "\n  " + std::string(d.name);
    Fail("unknown setting: " + name + "; the settings are:" + names, kExitUsage);
  }
  return *def;
}

}  // namespace

void RegisterSettingsCommands(CLI::App& app) {
  CLI::App* settings = app.add_subcommand("settings", "Show and change the stored settings (ports, baud rates, paths)");
  settings->require_subcommand(1);

  settings->add_subcommand("list", "Every setting with its value")->callback([] {
    LoadDefaults();
    for (const SettingDef& d : AllSettings()) {
      const auto value = ReadSetting(d);
      std::cout << d.name << " = " << (value ? ShownForm(d, *value) : std::string("(not set)")) << "\n";
    }
  });

  auto getName = std::make_shared<std::string>();
  CLI::App* get = settings->add_subcommand("get", "One setting's value");
  get->add_option("NAME", *getName, "setting name, e.g. BaudRate")->required();
  get->callback([getName] {
    const SettingDef& def = Lookup(*getName);
    LoadDefaults();
    const auto value = ReadSetting(def);
    if (!value) Fail(std::string(def.name) + " is not set", kExitFailure);
    // In the words `set` takes, so a value read can be set again as it is.
    std::cout << ShownForm(def, *value) << "\n";
  });

  auto setName = std::make_shared<std::string>();
  auto setValue = std::make_shared<std::string>();
  CLI::App* set = settings->add_subcommand("set", "Change one setting (checked as the port dialog checks it)");
  set->add_option("NAME", *setName, "setting name, e.g. COMPort")->required();
  set->add_option("VALUE", *setValue, "new value")->required();
  set->callback([setName, setValue] {
    const SettingDef& def = Lookup(*setName);
    std::string why = CheckSetting(def, *setValue);
    // The station's pattern is checked as the station reads it (the
    // settings layer knows no patterns).
    std::string error;
    if (why.empty() && def.name == kStationPatternValue && !SerialPattern::Parse(*setValue, error)) {
      why = "not a serial pattern: " + error;
    }
    if (!why.empty()) {
      Fail("invalid value for " + std::string(def.name) + ": " + *setValue + " (" + why + ")", kExitUsage);
    }
    LoadDefaults();
    if (const std::string failed = WriteSetting(def, *setValue); !failed.empty()) Fail(failed, kExitBadFile);
  });

  settings->add_subcommand("path", "The settings file")->callback([] { std::cout << SettingsFilePath() << "\n"; });
}

}  // namespace tarnvale::cli
