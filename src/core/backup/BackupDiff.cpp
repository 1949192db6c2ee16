#include "core/backup/BackupDiff.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "core/backup/BackupDocument.h"

namespace tarnvale::backup {

namespace {

using Keyed = std::map<std::string, std::string>;  // key -> comparable text

std::string Describe(const MaterialEntry& e) {
  std::string s;
  for (std::size_t i = 0; i < e.values.size(); ++i) {
    if (i > 0) s += " ";
    s += std::string(kMaterialValueNames[i]) + "=" + e.values[i];
  }
  return s;
}

std::string Describe(const Part& p) {
  std::string s = "Description=" + p.description + " BlankWidth=" + p.blankWidth + " Thickness=" +
                  p.thickness + " MaterialType=" + MaterialWord(p.material).value_or("?") +
                  " Paint=" + p.paint + " Graphics=" + p.graphics + " Bends=" +
                  std::to_string(p.bends.size());
  for (const auto& b : p.bends) {
    s += " [" + BendTypeWord(b.code).value_or("?");
    for (const auto& v : b.values) s += " " + v;
    s += "]";
  }
  return s;
}

// Compared as bytes (what a restore would send); each side is shown as
// UTF-8 by its own file's encoding.
void Compare(const char* section, const Keyed& from, TextEncoding fromEnc, const Keyed& to, TextEncoding toEnc,
             std::vector<DiffLine>& out) {
  for (const auto& [key, value] : to) {
    const auto it = from.find(key);
    if (it == from.end()) {
      out.push_back({section, DiffLine::Change::Added, DisplayText(key, toEnc), {}, DisplayText(value, toEnc)});
    } else if (it->second != value) {
      out.push_back({section, DiffLine::Change::Changed, DisplayText(key, toEnc), DisplayText(it->second, fromEnc),
                     DisplayText(value, toEnc)});
    }
  }
  for (const auto& [key, value] : from) {
    if (to.find(key) == to.end()) {
      out.push_back({section, DiffLine::Change::Removed, DisplayText(key, fromEnc), DisplayText(value, fromEnc), {}});
    }
  }
}

struct Content {
  Keyed setup, materials, parts;
};

Content Collect(const tinyxml2::XMLDocument& doc, std::vector<std::string>& notes) {
  Content c;
  for (const auto& p : WalkSetup(doc)) c.setup[p.name] = p.value;
  Skipped skipped;
  for (const auto& e : WalkMaterials(doc, skipped)) {
    const std::string key = *MaterialWord(e.material) + "/" + (e.kind == '1' ? "Default" : "UserDefined") +
                            "/" + e.values[0];
    c.materials[key] = Describe(e);
  }
  for (const auto& p : WalkParts(doc, skipped)) {
    c.parts[p.category + "/" + p.subCategory + "/" + p.name] = Describe(p);
  }
  const TextEncoding encoding = DeclaredEncoding(doc);
  for (const auto& s : skipped) notes.push_back(DisplayText(s, encoding));
  return c;
}

const char* ChangeWord(DiffLine::Change c) {
  switch (c) {
    case DiffLine::Change::Added: return "added";
    case DiffLine::Change::Removed: return "removed";
    case DiffLine::Change::Changed: return "changed";
  }
  return "";
}

}  // namespace

BackupDiffResult DiffBackups(const tinyxml2::XMLDocument& from, const tinyxml2::XMLDocument& to,
                             const std::vector<std::string>& sections) {
  BackupDiffResult r;
  const Content a = Collect(from, r.notes);
  const Content b = Collect(to, r.notes);
  const auto wanted = [&](const char* name) {
    return sections.empty() || std::find(sections.begin(), sections.end(), name) != sections.end();
  };
  const TextEncoding ea = DeclaredEncoding(from), eb = DeclaredEncoding(to);
  if (wanted(kSetup)) Compare(kSetup, a.setup, ea, b.setup, eb, r.lines);
  if (wanted(kMaterialTable)) Compare(kMaterialTable, a.materials, ea, b.materials, eb, r.lines);
  if (wanted(kPartLibrary)) Compare(kPartLibrary, a.parts, ea, b.parts, eb, r.lines);
  return r;
}

std::vector<std::string> SectionNames(const std::vector<char>& selectors) {
  std::vector<std::string> names;
  for (const char s : selectors) {
    if (s == 'M') names.emplace_back(kSetup);
    if (s == 'N') names.emplace_back(kMaterialTable);
    if (s == 'P') names.emplace_back(kPartLibrary);
  }
  return names;
}

std::string DiffText(const BackupDiffResult& diff) {
  std::ostringstream t;
  if (diff.Empty()) t << "No differences.\n";
  for (const auto& l : diff.lines) {
    t << l.section << " " << ChangeWord(l.change) << " " << l.key;
    if (l.change == DiffLine::Change::Changed) {
      t << ": " << l.before << " -> " << l.after;
    } else {
      t << ": " << (l.change == DiffLine::Change::Added ? l.after : l.before);
    }
    t << "\n";
  }
  for (const auto& n : diff.notes) t << "Not compared: " << n << "\n";
  return t.str();
}

nlohmann::json DiffJson(const BackupDiffResult& diff) {
  nlohmann::json j;
  j["identical"] = diff.Empty();
  j["changes"] = nlohmann::json::array();
  for (const auto& l : diff.lines) {
    nlohmann::json c{{"section", l.section}, {"change", ChangeWord(l.change)}, {"key", l.key}};
    if (l.change != DiffLine::Change::Added) c["old"] = l.before;
    if (l.change != DiffLine::Change::Removed) c["new"] = l.after;
    j["changes"].push_back(std::move(c));
  }
  j["not_compared"] = diff.notes;
  return j;
}

}  // namespace tarnvale::backup
