// Rules of the backup file that hold for any content: a difference names
// every record that changed or exists on one side only, once, and nothing
// else; and a saved backup loads and saves again to the same bytes.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "core/backup/BackupDiff.h"
#include "core/backup/BackupDocument.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

// Where a record of the pool is: in one document, in both alike, or in both
// with different values.
enum class Side { Neither, FromOnly, ToOnly, Same, Changed };

struct Record {
  std::string section;
  std::string key;  // as the difference names it
  Side side = Side::Neither;
};

// One document of the pair: each record written with its value, or left out.
struct Pair {
  std::vector<Record> records;
  std::string from, to;
};

// With a declaration and another program's element beside the backup, which
// every save must keep.
std::string Document(const std::string& setup, const std::string& materials, const std::string& parts) {
  return "<?xml version=\"1.0\"?>\n<Other keep=\"yes\"/>\n"
         "<Quor_Backup><Controller><UartVersion>3.2</UartVersion></Controller>"
         "<Data Name=\"Setup\">" + setup + "</Data><Data Name=\"MaterialTable\">" + materials +
         "</Data><Data Name=\"PartLibrary\">" + parts + "</Data></Quor_Backup>";
}

::rc::Gen<Pair> Pairs() {
  return ::rc::gen::exec([] {
    Pair p;
    std::string setup[2], materials[2], parts[2];
    const auto value = [] { return *::rc::gen::element<std::string>("1", "2.50", "x y", ""); };
    const int count = *::rc::gen::inRange(0, 7);
    for (int i = 0; i < count; ++i) {
      const auto side = *::rc::gen::element(Side::Neither, Side::FromOnly, Side::ToOnly, Side::Same, Side::Changed);
      const std::string a = value(), b = side == Side::Changed ? a + "9" : a;
      const auto kind = *::rc::gen::inRange(0, 3);
      std::string key, text[2];
      const std::string n = std::to_string(i);
      if (kind == 0) {
        key = "P" + n;
        for (int d = 0; d < 2; ++d) text[d] = "<parameter Name=\"P" + n + "\">" + (d ? b : a) + "</parameter>";
      } else if (kind == 1) {
        const std::string word = *::rc::gen::element<std::string>("Steel", "Copper");
        const std::string entry = *::rc::gen::element<std::string>("Default", "UserDefined");
        key = word + "/" + entry + "/1." + n;
        for (int d = 0; d < 2; ++d) {
          text[d] = "<" + word + "><" + entry + "><Thickness>1." + n + "</Thickness><" + kMaterialValueNames[1] +
                    ">" + (d ? b : a) + "</" + kMaterialValueNames[1] + "></" + entry + "></" + word + ">";
        }
      } else {
        key = "C/S/Part" + n;
        for (int d = 0; d < 2; ++d) {
          text[d] = "<Category Name=\"C\"><SubCategory Name=\"S\"><Part Name=\"Part" + n + "\"><Description>" +
                    (d ? b : a) + "</Description><MaterialType>Steel</MaterialType></Part></SubCategory></Category>";
        }
      }
      std::string* into[] = {setup, materials, parts};
      if (side != Side::ToOnly && side != Side::Neither) into[kind][0] += text[0];
      if (side != Side::FromOnly && side != Side::Neither) into[kind][1] += text[1];
      p.records.push_back({kind == 0 ? kSetup : kind == 1 ? kMaterialTable : kPartLibrary, key, side});
    }
    p.from = Document(setup[0], materials[0], parts[0]);
    p.to = Document(setup[1], materials[1], parts[1]);
    return p;
  });
}

using Seen = std::multiset<std::tuple<std::string, std::string, DiffLine::Change>>;

Seen Changes(const std::string& from, const std::string& to) {
  tinyxml2::XMLDocument a, b;
  RC_ASSERT(a.Parse(from.c_str()) == tinyxml2::XML_SUCCESS);
  RC_ASSERT(b.Parse(to.c_str()) == tinyxml2::XML_SUCCESS);
  const BackupDiffResult diff = DiffBackups(a, b);
  RC_ASSERT(diff.notes.empty());
  Seen seen;
  for (const auto& l : diff.lines) seen.insert({l.section, l.key, l.change});
  return seen;
}

// Every record on one side only is reported once, as added or removed by
// the side it is on, every changed record once, and nothing else: so the
// difference is empty exactly when the documents hold the same records, and
// swapping the documents swaps added and removed.
RC_GTEST_PROP(BackupDiffProperties, EveryRecordOfOneSideOrChangedIsReportedOnce, ()) {
  const Pair p = *Pairs();
  Seen expected, mirrored;
  for (const Record& r : p.records) {
    const auto add = [&](DiffLine::Change forward, DiffLine::Change backward) {
      expected.insert({r.section, r.key, forward});
      mirrored.insert({r.section, r.key, backward});
    };
    if (r.side == Side::FromOnly) add(DiffLine::Change::Removed, DiffLine::Change::Added);
    if (r.side == Side::ToOnly) add(DiffLine::Change::Added, DiffLine::Change::Removed);
    if (r.side == Side::Changed) add(DiffLine::Change::Changed, DiffLine::Change::Changed);
  }
  RC_ASSERT(Changes(p.from, p.to) == expected);
  RC_ASSERT(Changes(p.to, p.from) == mirrored);
  RC_ASSERT(Changes(p.from, p.from).empty());
}

// Save, load, save: the second file is the first, byte for byte, and its
// records are the same; nothing else is left in the folder.
RC_GTEST_PROP(BackupDiffProperties, SaveLoadSaveKeepsTheBytes, ()) {
  const Pair p = *Pairs();
  const auto dir = test::MakeTempDir("bk");
  const std::string first = (dir / "first.xml").string(), second = (dir / "second.xml").string();
  tinyxml2::XMLDocument doc, again;
  std::string error;
  RC_ASSERT(doc.Parse(p.from.c_str()) == tinyxml2::XML_SUCCESS);
  RC_ASSERT(SaveBackupFile(doc, first, error));
  RC_ASSERT(LoadBackupFile(first, again, error) == FileState::Loaded);
  RC_ASSERT(SaveBackupFile(again, second, error));
  RC_ASSERT(test::ReadFileBytes(second) == test::ReadFileBytes(first));
  RC_ASSERT(test::ReadFileBytes(first).rfind("<?xml version=\"1.0\"?>\n<Other keep=\"yes\"/>", 0) == 0u);
  namespace fs = std::filesystem;
  RC_ASSERT(std::distance(fs::directory_iterator(dir), fs::directory_iterator()) == 2);
  RC_ASSERT(DiffBackups(doc, again).Empty());
}

}  // namespace
}  // namespace tarnvale::backup
