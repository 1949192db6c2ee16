// The settings record and its file backend: first-run defaults, fallbacks,
// damaged files and what a save keeps.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/SettingsFile.h"
#include "core/settings/CRegistry.h"
#include "core/settings/ConfigData.h"
#include "core/settings/SettingsCatalog.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;
using platform::SettingsFile;
constexpr auto kRoot = RegistryRoot::CurrentUser;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir("settings");
    setenv("TARNVALE_CONFIG_DIR", dir_.c_str(), 1);
    tmp_ = test::MakeTempDir("tmpdir");
    setenv("TMPDIR", tmp_.c_str(), 1);
  }
  fs::path File() const { return dir_ / platform::kSettingsFileName; }
  void WriteRaw(const std::string& text) { test::WriteFileBytes(File(), text); }
  static ConfigData Loaded() {
    ConfigData config;
    config.Load();
    return config;
  }

  fs::path dir_;
  fs::path tmp_;
};

TEST_F(SettingsTest, FirstRunWritesEveryDefaultAndEntersTheTempFolder) {
  // The port names, speeds, byte sizes and background colour are the same
  // defaults a damaged or partial file falls back to (the tests below).
  ConfigData config = Loaded();
  EXPECT_EQ(config.GetIPAddress(), "10.10.10.91");
  EXPECT_EQ(config.GetParity(), 0);
  EXPECT_FALSE(config.GetUseIPAddress());
  EXPECT_EQ(config.GetTN835ApplicationFile(), "TN835 Appl.elf.S");
  EXPECT_EQ(config.GetTN835BootPathAndFile(),
            "\\\\QUORPROD\\quor_data\\Production\\TN835\\Boot\\Current\\TN835 Boot.elf.S");
  EXPECT_EQ(config.GetUserTempPath(), tmp_.string());

  // The file now holds the complete set, typed, for the next start.
  SettingsFile file(File());
  EXPECT_EQ(file.ReadDword(settings_key::kPort, "UseIPAddress"), 0u);
  EXPECT_EQ(file.ReadString(settings_key::kPort, "COMPort"), "COM1");
  EXPECT_FALSE(file.ReadDword(settings_key::kPort, "COMPort").has_value()) << "types kept apart";
}

TEST_F(SettingsTest, MissingValuesFallBackAndUseIpFlagIsNeverSaved) {
  WriteRaw("[SOFTWARE\\Quor Controls\\Tarnvale\\Port Settings]\n"
           "COMPort = sz:/dev/ttyUSB0\n"
           "UseIPAddress = dword:5\n"
           "BaudRate = dword:38400\n"
           "ByteSize = sz:7\n"         // the wrong type: the default
           "Parity = dword:0x102\n");  // an 8-bit field takes the low byte
  ConfigData config = Loaded();
  EXPECT_EQ(config.GetCOMPort(), "/dev/ttyUSB0");
  EXPECT_EQ(config.GetBaudRate(), 38400u);
  EXPECT_TRUE(config.GetUseIPAddress());
  EXPECT_EQ(config.GetByteSize(), 8);
  EXPECT_EQ(config.GetParity(), 2);
  EXPECT_EQ(config.GetAuxByteSize(), 8) << "missing AuxByteSize falls back to 8";
  EXPECT_EQ(config.GetAuxCOMPort(), "COM7") << "a port name that cannot be read takes its default";
  EXPECT_EQ(config.GetAuxBaudRate(), 921600u) << "a number keeps its first-run default";

  config.SetBaudRate(9600);
  config.Save();
  SettingsFile file(File());
  EXPECT_EQ(file.ReadDword(settings_key::kPort, "UseIPAddress"), 5u);
  EXPECT_EQ(file.ReadDword(settings_key::kPort, "BaudRate"), 9600u);
}

// Something that is not a plain settings file sits at the settings path: it
// is read as empty at once (a read that blocked or never ended would hold the
// test to its time-out), reported, and never written over.
TEST_F(SettingsTest, NonRegularOrHugeFileIsReportedAndLeftAlone) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* problem;
  };
  const Case cases[] = {
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       "not a regular file"},
      {"fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "not a regular file"},
      {"huge file",
       [](const fs::path& p) {
         test::WriteFileBytes(p, std::string(platform::kSettingsFileMaxBytes + 1, ';'));
       },
       "larger than"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ec;
    fs::remove_all(File(), ec);
    c.make(File());
    const auto before = fs::symlink_status(File()).type();
    SettingsFile file(File());
    EXPECT_NE(file.Problem().find(c.problem), std::string::npos) << file.Problem();
    ConfigData config = Loaded();
    EXPECT_EQ(config.GetCOMPort(), "COM1") << "never an empty port name";
    EXPECT_TRUE(config.LoadNotes().empty()) << "the file's own problem is the one thing to say";
    EXPECT_FALSE(file.Write("K", "N", std::uint32_t{1}));
    EXPECT_EQ(fs::symlink_status(File()).type(), before);
    EXPECT_FALSE(fs::exists(file.BadCopyPath()));
  }
}

// A number written where a port name belongs takes the default, with a
// note that each load says afresh.
TEST_F(SettingsTest, APortNumberWhereTheNameBelongsIsNoted) {
  WriteRaw("[SOFTWARE\\Quor Controls\\Tarnvale\\Port Settings]\nCOMPort = dword:5\nAuxCOMPort = dword:12\n");
  ConfigData config = Loaded();
  EXPECT_EQ(config.GetCOMPort(), "COM1");
  EXPECT_EQ(config.GetAuxCOMPort(), "COM7");
  const std::vector<std::string> notes = {"COMPort holds the number 5, not a port name: using COM1",
                                          "AuxCOMPort holds the number 12, not a port name: using COM7"};
  EXPECT_EQ(config.LoadNotes(), notes);
  config.Load();
  EXPECT_EQ(config.LoadNotes(), notes) << "not twice";
}

// A header that lost its ']' (or gained junk) still opens its section when
// its name is a known one; values under a header nobody knows still land
// where their names belong. Whatever happens, a save through the program
// (as `settings set` does) keeps the port and the production path.
TEST_F(SettingsTest, DamagedHeadersNeverCostAKnownValue) {
  struct Case {
    const char* what;
    std::string header;
  };
  const Case cases[] = {
      {"lost ]", "[SOFTWARE\\Quor Controls\\Tarnvale\\Port Settings"},
      {"unknown, damaged", "[Port Setti"},
      {"no header at all", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRaw(c.header + "\n"
             "COMPort = sz:/dev/ttyUSB3\n"
             "AuxBaudRate = dword:57600\n"
             "[SOFTWARE\\Quor Controls\\Tarnvale\\New Production Settings\n"
             "TN835 Test Path And File = sz:/srv/test/\n");
    fs::remove(dir_ / "settings.ini.bad");
    ConfigData config = Loaded();
    config.SetBaudRate(9600);
    config.Save();
    // What was loaded and then saved: a value lost at loading is lost here too.
    ConfigData again = Loaded();
    EXPECT_EQ(again.GetCOMPort(), "/dev/ttyUSB3");
    EXPECT_EQ(again.GetAuxBaudRate(), 57600u);
    EXPECT_EQ(again.GetTN835TestPathAndFile(), "/srv/test/");
    // The damaged text is kept, for the person to look at.
    EXPECT_TRUE(fs::exists(dir_ / "settings.ini.bad"));
  }
}

// A production key without a temp folder gets the system's; one that names
// a folder not there yet has it made, without moving the working directory.
TEST_F(SettingsTest, UserTempPathIsSuppliedOrCreated) {
  ASSERT_TRUE(CRegistry::WriteString(kRoot, settings_key::kProduction, "TN835 Application File", "X.S"));
  ConfigData config = Loaded();
  EXPECT_EQ(config.GetUserTempPath(), tmp_.string());
  EXPECT_EQ(config.GetTN835ApplicationFile(), "X.S") << "an existing key is not overwritten";
  EXPECT_EQ(config.GetTN835ApplicationPath(), "");
  const fs::path wanted = tmp_ / "deeper" / "work";
  ASSERT_TRUE(CRegistry::WriteString(kRoot, settings_key::kProduction, "User Temp Path", wanted.string()));
  const fs::path before = fs::current_path();
  config.Load();
  EXPECT_TRUE(fs::is_directory(wanted));
  EXPECT_EQ(fs::current_path(), before) << "loading never moves the working directory";
}

// Bytes drawn mostly from those the file format treats specially (the
// escape character, line ends, the separators) so that every one of them
// lands first, last and next to each other.
::rc::Gen<std::string> SettingsText() {
  return ::rc::gen::container<std::string>(::rc::gen::oneOf(
      ::rc::gen::elementOf(std::string("%\r\n=[];# 025ADadsz:")),
      ::rc::gen::map(::rc::gen::inRange(1, 256), [](int c) { return static_cast<char>(c); })));
}

// Any string, any byte at any position, reads back exactly what was written,
// through the file and through a second store opened on it.
RC_GTEST_PROP(SettingsProperties, AnyStringReadsBackExactly, ()) {
  const std::string value = *SettingsText();
  const std::string other = *SettingsText();
  const fs::path file = test::MakeTempDir("prop") / platform::kSettingsFileName;
  SettingsFile store(file, SettingsLayout());
  RC_ASSERT(store.Write(settings_key::kPort, "COMPort", value));
  RC_ASSERT(store.Write("K", "Other", other));
  RC_ASSERT(SettingsFile(file, SettingsLayout()).ReadString(settings_key::kPort, "COMPort") == value);
  RC_ASSERT(store.ReadString("K", "Other") == other);
  RC_ASSERT(store.Problem().empty());
}

// A sound file with exactly one line nobody can read, anywhere in it: the
// problem names one line and the copy, the first save keeps the damaged text
// whole (and the readable values), and is the last to say so or to write the
// copy.
RC_GTEST_PROP(SettingsProperties, OneUnreadableLineKeepsTheBadCopy, ()) {
  const std::vector<std::string> sound = {
      "[SOFTWARE\\Quor Controls\\Tarnvale\\Port Settings]", "COMPort = sz:/dev/ttyUSB1",
      "BaudRate = dword:9600", "; a comment", "", "[K]", "Name = sz:v%25"};
  const std::string damage = *::rc::gen::elementOf(std::vector<std::string>{
      "garbage without equals", "Name = text:x", "Name = dword:zz", "= sz:nameless", "BaudRate = dwo"});
  const auto at = *::rc::gen::inRange<std::size_t>(0, sound.size() + 1);
  const bool lastNewline = *::rc::gen::arbitrary<bool>();
  std::string text;
  for (std::size_t i = 0; i <= sound.size(); ++i) {
    if (i == at) text += damage + "\n";
    if (i < sound.size()) text += sound[i] + "\n";
  }
  if (!lastNewline) text.pop_back();
  const fs::path file = test::MakeTempDir("prop") / platform::kSettingsFileName;
  test::WriteFileBytes(file, text);
  SettingsFile store(file, SettingsLayout());
  RC_ASSERT(store.Problem().find(" has 1 line ") != std::string::npos);
  RC_ASSERT(store.Problem().find("settings.ini.bad") != std::string::npos);
  RC_ASSERT(store.Write("K", "Name", std::string("w")));
  RC_ASSERT(test::ReadFileBytes(store.BadCopyPath()) == text);
  RC_ASSERT(store.ReadString(settings_key::kPort, "COMPort") == std::string("/dev/ttyUSB1"));
  RC_ASSERT(store.ReadDword(settings_key::kPort, "BaudRate") == std::optional<std::uint32_t>(9600));
  RC_ASSERT(store.Problem().empty());
  test::WriteFileBytes(store.BadCopyPath(), "kept");
  RC_ASSERT(store.Write("K", "Name", std::string("x")));
  RC_ASSERT(test::ReadFileBytes(store.BadCopyPath()) == std::string("kept"));
}

// Two programs on one station saving at once: each save reads, changes and
// writes the whole file, so without the lock one would undo the other.
TEST_F(SettingsTest, ConcurrentSavesFromTwoProcessesLoseNoValue) {
  constexpr int kPerProcess = 40;
  const auto name = [](int c, int i) { return "p" + std::to_string(c) + "_" + std::to_string(i); };
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      for (int i = 0; i < kPerProcess; ++i) CRegistry::WriteDWORD(kRoot, "Load", name(c, i), i);
      _exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
  }
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::uint32_t v = 0;
      ASSERT_TRUE(CRegistry::ReadDWORD(kRoot, "Load", name(c, i), v));
      EXPECT_EQ(v, static_cast<std::uint32_t>(i));
    }
  }
}

// What `settings set` takes, `get` and `list` give back in the same words,
// so a value read can be set again as it is.
TEST_F(SettingsTest, ValuesReadBackInTheWordsSetTakes) {
  ConfigData settings = Loaded();
  const struct {
    const char* name;
    const char* typed;
    const char* stored;
    const char* shown;
  } cases[] = {
      // (Names in any case, parity words and the lower bounds are the command line's tests.)
      {"StopBits", "1.5", "1", "1.5"}, {"AuxStopBits", "1", "0", "1"}, {"AuxParity", "1", "1", "ODD"},
      // Written by the flash dialog and the TN835 station, known to the catalogue too.
      {"verifyafterprogramming", "1", "1", "1"}, {"StationNextNumber", "999999999", "999999999", "999999999"},
      {"StationSerialPattern", "TN-{yy}{mm}-{n:04}", "TN-{yy}{mm}-{n:04}", "TN-{yy}{mm}-{n:04}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.typed);
    const SettingDef* def = FindSetting(c.name);
    ASSERT_NE(def, nullptr);
    ASSERT_EQ(WriteSetting(*def, c.typed), "");
    const auto stored = ReadSetting(*def);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, c.stored);
    EXPECT_EQ(ShownForm(*def, *stored), c.shown);
    EXPECT_EQ(CheckSetting(*def, ShownForm(*def, *stored)), "") << "what is shown can be set again";
  }
  // Out of range: refused with the reason, and nothing stored.
  const struct {
    const char* name;
    const char* typed;
    const char* why;
  } refused[] = {
      {"VerifyAfterProgramming", "2", "0 or 1"},
      {"StationNextNumber", "1000000000", "a counter value 1 to 999999999"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.name) + " " + c.typed);
    const SettingDef* def = FindSetting(c.name);
    ASSERT_NE(def, nullptr);
    const auto before = ReadSetting(*def);
    EXPECT_EQ(WriteSetting(*def, c.typed).rfind(c.why, 0), 0u) << WriteSetting(*def, c.typed);
    EXPECT_EQ(ReadSetting(*def), before);
  }
}

TEST(SettingsLocation, EnvironmentChoosesTheFolder) {
  const std::string saved = std::getenv("TARNVALE_CONFIG_DIR");
  setenv("TARNVALE_CONFIG_DIR", "/x/cfg", 1);
  EXPECT_EQ(platform::SettingsDirectory(), fs::path("/x/cfg"));
  unsetenv("TARNVALE_CONFIG_DIR");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/x/home", 1);
  EXPECT_EQ(platform::SettingsDirectory(), fs::path("/x/home/.config/Quor Controls/Tarnvale"));
  setenv("TARNVALE_CONFIG_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace tarnvale
