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

// A part or material entry in both backups: a changed one names only the
// fields that differ, in the text, the JSON and the dialog alike; a record
// on one side only is still shown whole.
std::string Records(const std::string& description, const std::string& bends, const std::string& clamp,
                    const std::string& extraPart) {
  return "<Quor_Backup><Controller><UartVersion>3.2</UartVersion></Controller>"
         "<Data Name=\"PartLibrary\"><Category Name=\"C\"><SubCategory Name=\"S\"><Part Name=\"G100\">"
         "<Description>" + description + "</Description><BlankWidth>120</BlankWidth>"
         "<MaterialType>Steel</MaterialType><Paint>1</Paint><Bends>" + bends + "</Bends></Part>" + extraPart +
         "</SubCategory></Category></Data>"
         "<Data Name=\"MaterialTable\"><Steel><Default><Thickness>1.5</Thickness><ClampPos>" + clamp +
         "</ClampPos><HemPressure>9</HemPressure></Default></Steel></Data></Quor_Backup>";
}

TEST(BackupDiff, ChangedRecordsShowOnlyTheFieldsThatChanged) {
  const std::string bend = "<Bend Type=\"NormalBend\"><BackGaugePos>5</BackGaugePos></Bend>";
  const std::string bend2 = "<Bend Type=\"NormalBend\"><BackGaugePos>7</BackGaugePos></Bend>";
  const std::string before = Records("G100 profile", bend, "4", "");
  struct Case {
    const char* name;
    std::string after;
    std::vector<std::string> text;  // lines of DiffText, in order
  };
  const auto part = [](const std::string& fields) { return "PartLibrary changed C/S/G100" + fields; };
  const Case cases[] = {
      {"description", Records("G100 profile rev B", bend, "4", ""),
       {part(""), "  Description: G100 profile \u2192 G100 profile rev B"}},
      {"one bend's value", Records("G100 profile", bend2, "4", ""),
       {part(""), "  Bend 1 BackGaugePos: 5 \u2192 7"}},
      {"a bend added", Records("G100 profile", bend + bend2, "4", ""),
       {part(""), "  Bends: 1 \u2192 2", "  Bend 2: (none) \u2192 NormalBend BackGaugePos=7"}},
      {"a material value", Records("G100 profile", bend, "6", ""),
       {"MaterialTable changed Steel/Default/1.5", "  ClampPos: 4 \u2192 6"}},
      {"a part on one side only stays whole",
       Records("G100 profile", bend, "4", "<Part Name=\"N\"><Description>new</Description><MaterialType>Steel</MaterialType></Part>"),
       {"PartLibrary added C/S/N: Description=new BlankWidth= Thickness= MaterialType=Steel Paint= Graphics= Bends=0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument from, to;
    ASSERT_EQ(from.Parse(before.c_str()), tinyxml2::XML_SUCCESS);
    ASSERT_EQ(to.Parse(c.after.c_str()), tinyxml2::XML_SUCCESS);
    const BackupDiffResult diff = DiffBackups(from, to);
    std::string expected;
    for (const auto& line : c.text) expected += line + "\n";
    EXPECT_EQ(DiffText(diff), expected);
    // The JSON carries a change's fields, never its whole records.
    const nlohmann::json change = DiffJson(diff)["changes"][0];
    const bool changed = diff.lines[0].change == DiffLine::Change::Changed;
    EXPECT_EQ(change.contains("fields"), changed);
    EXPECT_FALSE(change.contains("old"));
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
