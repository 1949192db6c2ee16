#include "core/backup/BackupDiff.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "core/backup/BackupDocument.h"

namespace tarnvale::backup {

namespace {

// A record as its whole text (shown when it is on one side only) and as
// named fields in a fixed order (compared when it is on both). A parameter
// is its value and no fields. A field on one side only (a bend that one
// part has and the other not) shows its `alone` text, or nothing when that
// is empty (the values of such a bend, which its own field already names).
struct Field {
  std::string name;
  std::string value;
  std::string alone;
  bool operator==(const Field&) const = default;
};
using Fields = std::vector<Field>;
struct Record {
  std::string whole;
  Fields fields;
  bool operator==(const Record&) const = default;
};
using Keyed = std::map<std::string, Record>;  // key -> the record

Record RecordOf(const MaterialEntry& e) {
  Record r;
  for (std::size_t i = 0; i < e.values.size(); ++i) {
    if (i > 0) r.whole += " ";
    r.whole += std::string(kMaterialValueNames[i]) + "=" + e.values[i];
    r.fields.push_back({kMaterialValueNames[i], e.values[i], e.values[i]});
  }
  return r;
}

Record RecordOf(const Part& p) {
  Record r;
  const std::pair<const char*, std::string> top[] = {
      {"Description", p.description}, {"BlankWidth", p.blankWidth}, {"Thickness", p.thickness},
      {"MaterialType", MaterialWord(p.material).value_or("?")}, {"Paint", p.paint}, {"Graphics", p.graphics},
      {"Bends", std::to_string(p.bends.size())}};
  for (const auto& [name, value] : top) {
    r.whole += (r.whole.empty() ? "" : " ") + std::string(name) + "=" + value;
    r.fields.push_back({name, value, value});
  }
  for (std::size_t i = 0; i < p.bends.size(); ++i) {
    const Bend& b = p.bends[i];
    const std::string bend = "Bend " + std::to_string(i + 1);
    const std::string type = BendTypeWord(b.code).value_or("?");
    r.whole += " [" + type;
    const std::size_t typeField = r.fields.size();
    r.fields.push_back({bend, type, type});
    const auto& names = BendChildren(b.code);
    for (std::size_t v = 0; v < b.values.size(); ++v) {
      const std::string name = v < names.size() ? names[v] : std::to_string(v + 1);
      r.whole += " " + b.values[v];
      r.fields.push_back({bend + " " + name, b.values[v], {}});
      if (!b.values[v].empty()) r.fields[typeField].alone += " " + name + "=" + b.values[v];
    }
    r.whole += "]";
  }
  return r;
}

// The fields whose values differ; a bend on one side only shows as "(none)"
// on the other.
std::vector<DiffField> ChangedFields(const Fields& from, TextEncoding fromEnc, const Fields& to, TextEncoding toEnc) {
  std::vector<DiffField> out;
  const auto find = [](const Fields& f, const std::string& name) -> const Field* {
    for (const Field& field : f) {
      if (field.name == name) return &field;
    }
    return nullptr;
  };
  for (const Field& after : to) {
    const Field* before = find(from, after.name);
    if (before == nullptr) {
      if (!after.alone.empty()) out.push_back({after.name, "(none)", DisplayText(after.alone, toEnc)});
    } else if (before->value != after.value) {
      out.push_back({after.name, DisplayText(before->value, fromEnc), DisplayText(after.value, toEnc)});
    }
  }
  for (const Field& before : from) {
    if (find(to, before.name) == nullptr && !before.alone.empty()) {
      out.push_back({before.name, DisplayText(before.alone, fromEnc), "(none)"});
    }
  }
  return out;
}

// Compared as bytes (what a restore would send); each side is shown as
// UTF-8 by its own file's encoding.
void Compare(const char* section, const Keyed& from, TextEncoding fromEnc, const Keyed& to, TextEncoding toEnc,
             std::vector<DiffLine>& out) {
  for (const auto& [key, value] : to) {
    const auto it = from.find(key);
    if (it == from.end()) {
      out.push_back({section, DiffLine::Change::Added, DisplayText(key, toEnc), {}, DisplayText(value.whole, toEnc), {}});
    } else if (it->second != value) {
      out.push_back({section, DiffLine::Change::Changed, DisplayText(key, toEnc),
                     DisplayText(it->second.whole, fromEnc), DisplayText(value.whole, toEnc),
                     ChangedFields(it->second.fields, fromEnc, value.fields, toEnc)});
    }
  }
  for (const auto& [key, value] : from) {
    if (to.find(key) == to.end()) {
      out.push_back(
          {section, DiffLine::Change::Removed, DisplayText(key, fromEnc), DisplayText(value.whole, fromEnc), {}, {}});
    }
  }
}

struct Content {
  Keyed setup, materials, parts;
};

Content Collect(const tinyxml2::XMLDocument& doc, std::vector<std::string>& notes) {
  Content c;
  for (const auto& p : WalkSetup(doc)) c.setup[p.name] = {p.value, {}};
  Skipped skipped;
  for (const auto& e : WalkMaterials(doc, skipped)) {
    const std::string key = *MaterialWord(e.material) + "/" + (e.kind == '1' ? "Default" : "UserDefined") +
                            "/" + e.values[0];
    c.materials[key] = RecordOf(e);
  }
  for (const auto& p : WalkParts(doc, skipped)) {
    c.parts[p.category + "/" + p.subCategory + "/" + p.name] = RecordOf(p);
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
    if (!l.fields.empty()) {
      // A record: only what changed, one field a line.
      for (const auto& f : l.fields) t << "\n  " << f.name << ": " << f.before << " \u2192 " << f.after;
    } else if (l.change == DiffLine::Change::Changed) {
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
    if (!l.fields.empty()) {
      c["fields"] = nlohmann::json::array();
      for (const auto& f : l.fields) c["fields"].push_back({{"name", f.name}, {"old", f.before}, {"new", f.after}});
    } else {
      if (l.change != DiffLine::Change::Added) c["old"] = l.before;
      if (l.change != DiffLine::Change::Removed) c["new"] = l.after;
    }
    j["changes"].push_back(std::move(c));
  }
  j["not_compared"] = diff.notes;
  return j;
}

}  // namespace tarnvale::backup
