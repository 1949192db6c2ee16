#pragma once
// What a restore would change: the differences between two backups (or a
// backup and a controller read into a document), section by section.
// Parameters by name with old and new value; material entries by material,
// kind and thickness text; parts by category, subcategory and name.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <tinyxml2.h>

namespace tarnvale::backup {

// One field of a changed material entry or part, with its old and new value.
struct DiffField {
  std::string name;  // "Description", "ClampPos", "Bend 2", ...
  std::string before;
  std::string after;
};

// Keys and values of a DiffLine are UTF-8 text for a person or JSON (the
// comparison itself is made on the files' bytes).
struct DiffLine {
  enum class Change { Added, Removed, Changed };
  std::string section;  // "Setup", "MaterialTable", "PartLibrary"
  Change change = Change::Changed;
  std::string key;      // parameter name, "Steel/Default/1.50", "Cat/Sub/Part"
  std::string before;   // old value (parameters) or a short description
  std::string after;
  // A changed material entry or part: only the fields that differ (before
  // and after then hold the whole records). Empty for a parameter, which is
  // one value.
  std::vector<DiffField> fields;
};

struct BackupDiffResult {
  std::vector<DiffLine> lines;
  std::vector<std::string> notes;  // records that could not be compared (unknown words)
  bool Empty() const { return lines.empty(); }
};

// `from` is what is there now (the controller, or the first file); `to` is
// what a restore would leave (the backup).
// `sections` limits the comparison ("Setup", "MaterialTable", "PartLibrary");
// empty compares all three.
BackupDiffResult DiffBackups(const tinyxml2::XMLDocument& from, const tinyxml2::XMLDocument& to,
                             const std::vector<std::string>& sections = {});
// The section names of the selectors 'M', 'N', 'P'.
std::vector<std::string> SectionNames(const std::vector<char>& selectors);

std::string DiffText(const BackupDiffResult& diff);
nlohmann::json DiffJson(const BackupDiffResult& diff);

}  // namespace tarnvale::backup
