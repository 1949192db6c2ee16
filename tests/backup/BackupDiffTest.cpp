// Comparing backups written on other machines: values compared as the
// files' bytes, shown as UTF-8 by each file's declared encoding, never an
// abort; and XML that is not a backup refused rather than compared as empty.
#include <gtest/gtest.h>

#include "core/backup/BackupDiff.h"
#include "core/backup/BackupDocument.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

std::string Backup(const std::string& declaration, const std::string& angle, const std::string& part) {
  return declaration +
         "<Quor_Backup><Controller><UartVersion>3.2</UartVersion></Controller>"
         "<Data Name=\"Setup\"><parameter Name=\"Angle\">" + angle + "</parameter></Data>"
         "<Data Name=\"PartLibrary\"><Category Name=\"C\"><SubCategory Name=\"S\"><Part Name=\"" + part +
         "\"><Description>d</Description><MaterialType>Steel</MaterialType></Part></SubCategory></Category></Data>"
         "</Quor_Backup>";
}

TEST(BackupDiff, ValuesAreShownByTheFilesEncoding) {
  const auto dir = test::MakeTempDir("enc");
  const std::string base = (dir / "base.xml").string();
  test::WriteFileBytes(base, Backup("", "90", "P"));
  struct Case {
    const char* name;
    std::string declaration;
    std::string angle;  // bytes as in the file
    std::string part;
    std::string shown;  // the new value as UTF-8
    std::string key;    // the added part's key as UTF-8
  };
  const Case cases[] = {
      {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "90\xC2\xB0", "P\xC3\xA9", "90\u00B0", "C/S/P\u00E9"},
      {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "90\xB0", "P\xE9", "90\u00B0", "C/S/P\u00E9"},
      {"windows-1252", "<?xml version='1.0' encoding='windows-1252'?>", "90\xB0\x80", "P\x96", "90\u00B0\u20AC",
       "C/S/P\u2013"},
      {"no declaration, a stray byte", "", "90\xB0", "P\xE9", "90\u00B0", "C/S/P\u00E9"},
      {"no declaration, UTF-8", "", "90\xC2\xB0", "P", "90\u00B0", ""},
      {"UTF-8 declared, a stray byte", "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "90\xB0", "P\xFF", "90\uFFFD",
       "C/S/P\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string other = (dir / "other.xml").string();
    test::WriteFileBytes(other, Backup(c.declaration, c.angle, c.part));
    tinyxml2::XMLDocument from, to;
    std::string error;
    ASSERT_EQ(LoadBackupFile(base, from, error), FileState::Loaded);
    ASSERT_EQ(LoadBackupFile(other, to, error), FileState::Loaded) << error;
    // Bytes are kept as they were in the file.
    EXPECT_EQ(WalkSetup(to)[0].value, c.angle);
    const BackupDiffResult diff = DiffBackups(from, to);
    ASSERT_FALSE(diff.lines.empty());
    EXPECT_EQ(diff.lines[0].key, "Angle");
    EXPECT_EQ(diff.lines[0].before, "90");
    EXPECT_EQ(diff.lines[0].after, c.shown);
    if (!c.key.empty()) {
      ASSERT_EQ(diff.lines.size(), 3u);  // the part under its new name added, the old one removed
      EXPECT_EQ(diff.lines[1].key, c.key);
    }
    // The strict dump throws on anything that is not UTF-8.
    const nlohmann::json j = nlohmann::json::parse(DiffJson(diff).dump());
    EXPECT_EQ(j["changes"][0]["new"], c.shown);
    EXPECT_NE(DiffText(diff).find("Setup changed Angle: 90 -> " + c.shown), std::string::npos);
  }
}

TEST(BackupFile, XmlThatIsNotABackupIsRefused) {
  const auto dir = test::MakeTempDir("notbk");
  struct Case {
    std::string text;
    FileState state;
    std::string why;
  };
  const Case cases[] = {
      {"<Settings><Port>COM1</Port></Settings>", FileState::NotABackup,
       "it has no Quor_Backup element, its root is Settings"},
      {"<Quor_Backup><Data Name=\"Setup\"/></Quor_Backup>", FileState::NotABackup,
       "its Quor_Backup element has no Controller element"},
      {"<?xml version=\"1.0\"?><!-- only a comment -->", FileState::NotABackup, "it has no Quor_Backup element"},
      {"<Quor_Backup><Controller>", FileState::Unreadable, ""},
      {"<Other/><Quor_Backup><Controller/></Quor_Backup>", FileState::Loaded, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = (dir / "f.xml").string();
    test::WriteFileBytes(path, c.text);
    tinyxml2::XMLDocument doc;
    std::string error;
    EXPECT_EQ(LoadBackupFile(path, doc, error), c.state);
    if (c.state == FileState::NotABackup) {
      EXPECT_EQ(error, c.why);
      EXPECT_EQ(LoadProblemText(path, c.state, error), path + " is not a backup (" + c.why + ")");
    }
  }
}

}  // namespace
}  // namespace tarnvale::backup
