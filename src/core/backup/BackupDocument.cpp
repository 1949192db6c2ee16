#include "core/backup/BackupDocument.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/backup/BackupLink.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/FileAccess.h"

namespace tarnvale::backup {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;
using tinyxml2::XMLPrinter;

namespace {

constexpr std::array<const char*, 3> kQualities = {"Fine", "Medium", "Coarse"};
constexpr std::array<const char*, 4> kActions = {"None", "Flip", "Rotate", "FlipAndRotate"};

template <std::size_t N>
std::optional<char> CodeOf(const std::array<const char*, N>& words, std::string_view word, char first) {
  for (std::size_t i = 0; i < N; ++i) {
    if (word == words[i]) return static_cast<char>(first + static_cast<int>(i));
  }
  return std::nullopt;
}

template <std::size_t N>
std::optional<std::string> WordOf(const std::array<const char*, N>& words, char code, char first) {
  if (code < first || code >= first + static_cast<int>(N)) return std::nullopt;
  return std::string(words[static_cast<std::size_t>(code - first)]);
}

// A value's text: the first text node of the element, empty when absent.
std::string TextOf(const XMLElement* e) {
  if (e == nullptr) return {};
  const char* t = e->GetText();
  return t != nullptr ? t : std::string();
}

std::string ChildText(const XMLElement* parent, const char* name) {
  return parent != nullptr ? TextOf(parent->FirstChildElement(name)) : std::string();
}

std::string Attribute(const XMLElement* e, const char* name) {
  const char* v = e != nullptr ? e->Attribute(name) : nullptr;
  return v != nullptr ? v : std::string();
}

XMLElement* AppendValue(XMLElement* parent, const char* name, const std::string& text) {
  XMLElement* e = parent->InsertNewChildElement(name);
  e->InsertNewText(text.c_str());
  return e;
}

// The first child element called `element` whose `Name` attribute is `name`.
XMLElement* FindNamed(XMLElement* parent, const char* element, const std::string& name) {
  for (XMLElement* e = parent->FirstChildElement(element); e != nullptr;
       e = e->NextSiblingElement(element)) {
    if (Attribute(e, "Name") == name) return e;
  }
  return nullptr;
}

XMLElement* FindOrAppendNamed(XMLElement* parent, const char* element, const std::string& name) {
  if (XMLElement* e = FindNamed(parent, element, name)) return e;
  XMLElement* e = parent->InsertNewChildElement(element);
  e->SetAttribute("Name", name.c_str());
  return e;
}

const XMLElement* Root(const XMLDocument& doc) { return doc.FirstChildElement(kRoot); }

}  // namespace

std::optional<std::string> MaterialWord(char code) {
  if (code < '1' || code > '5') return std::nullopt;
  return std::string(kItemNames[static_cast<std::size_t>(code - '1')]);
}

std::optional<char> MaterialCode(std::string_view word) {
  for (std::size_t i = 0; i < 5; ++i) {
    if (word == kItemNames[i]) return static_cast<char>('1' + static_cast<int>(i));
  }
  return std::nullopt;
}

std::optional<std::string> BendTypeWord(char code) {
  if (code < '0' || code > '5') return std::nullopt;
  return std::string(kItemNames[5 + static_cast<std::size_t>(code - '0')]);
}

std::optional<char> BendTypeCode(std::string_view word) {
  for (std::size_t i = 5; i < kItemNames.size(); ++i) {
    if (word == kItemNames[i]) return static_cast<char>('0' + static_cast<int>(i - 5));
  }
  return std::nullopt;
}

const std::vector<std::string>& BendChildren(char code) {
  static const std::vector<std::vector<std::string>> table = {
      {"BackGaugePos", "SecBackGaugePos", "BendAngle", "OverBend", "ClampOpeningPos",
       "ClampPressure", "BackGaugeOffset", "SecBackGaugeOffset"},
      {"BackGaugePos", "SecBackGaugePos", "ClampClosingPos", "ClampPressure", "BackGaugeOffset",
       "SecBackGaugeOffset", "ClampOpeningPos"},
      {"BackGaugePos", "SecBackGaugePos", "OverBend", "ClampOpeningPos", "ClampPressure",
       "BackGaugeOffset", "SecBackGaugeOffset", "Radius", "SecRadius", "Arc", "Quality"},
      {"Action"},
      {"Segment"},
      {"BackGaugePos", "SecBackGaugePos", "ClampOpeningPos", "ClampPressure",
       "BackGaugeCorrection", "SecBackGaugeCorrection", "ShearForwardTimer", "Enabled"},
  };
  static const std::vector<std::string> none;
  if (code < '0' || code > '5') return none;
  return table[static_cast<std::size_t>(code - '0')];
}

std::optional<std::string> QualityWord(char code) { return WordOf(kQualities, code, '0'); }
std::optional<char> QualityCode(std::string_view word) { return CodeOf(kQualities, word, '0'); }
std::optional<std::string> ActionWord(char code) { return WordOf(kActions, code, '0'); }
std::optional<char> ActionCode(std::string_view word) { return CodeOf(kActions, word, '0'); }

// ---- files ------------------------------------------------------------------

FileState LoadBackupFile(const std::string& path, XMLDocument& doc, std::string& error) {
  doc.Clear();
  std::error_code ec;
  // A dangling link is "missing" as well: a save creates the file it names.
  if (!std::filesystem::exists(path, ec)) return FileState::Missing;
  // Only a regular file of a backup's size is read: a FIFO or a device
  // given as a backup would never end.
  std::string bytes;
  if (!platform::ReadInputFile(path, platform::kBackupFileLimit, &bytes, &error)) return FileState::Unreadable;
  if (doc.Parse(bytes.data(), bytes.size()) != tinyxml2::XML_SUCCESS) {
    const char* why = doc.ErrorStr();
    error = why != nullptr ? why : "unreadable";
    doc.Clear();
    return FileState::Unreadable;
  }
  error = NotABackupReason(doc);
  if (!error.empty()) {
    doc.Clear();
    return FileState::NotABackup;
  }
  return FileState::Loaded;
}

std::string NotABackupReason(const XMLDocument& doc) {
  const XMLElement* root = doc.FirstChildElement(kRoot);
  if (root == nullptr) {
    const XMLElement* first = doc.FirstChildElement();
    return std::string("it has no ") + kRoot + " element" +
           (first != nullptr ? std::string(", its root is ") + first->Name() : std::string());
  }
  if (root->FirstChildElement(kController) == nullptr) {
    return std::string("its ") + kRoot + " element has no " + kController + " element";
  }
  return {};
}

std::string LoadProblemText(const std::string& path, FileState state, const std::string& error) {
  switch (state) {
    case FileState::Loaded: return {};
    case FileState::Missing: return path + " does not exist";
    case FileState::Unreadable: return path + " is not a readable backup (" + error + ")";
    case FileState::NotABackup: return path + " is not a backup (" + error + ")";
  }
  return path;
}

// ---- text encoding ----------------------------------------------------------

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

// The length of the valid UTF-8 sequence at `i`, or 0.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  char32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceAt(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Windows-1252 0x80-0x9F; 0 where the code page has no character.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string FromSingleByte(std::string_view bytes, bool cp1252) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    char32_t cp = c;
    if (cp1252 && c >= 0x80 && c <= 0x9F) cp = kCp1252High[c - 0x80] != 0 ? kCp1252High[c - 0x80] : kReplacement;
    AppendUtf8(out, cp);
  }
  return out;
}

std::string RepairedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = Utf8SequenceAt(bytes, i);
    if (n == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    out.append(bytes.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

TextEncoding DeclaredEncoding(const XMLDocument& doc) {
  const tinyxml2::XMLNode* first = doc.FirstChild();
  const tinyxml2::XMLDeclaration* decl = first != nullptr ? first->ToDeclaration() : nullptr;
  if (decl == nullptr || decl->Value() == nullptr) return TextEncoding::Undeclared;
  const std::string text = Lower(decl->Value());
  const std::size_t at = text.find("encoding");
  if (at == std::string::npos) return TextEncoding::Undeclared;
  const std::size_t quote = text.find_first_of("\"'", at);
  if (quote == std::string::npos) return TextEncoding::Undeclared;
  const std::size_t end = text.find(text[quote], quote + 1);
  const std::string name = text.substr(quote + 1, end == std::string::npos ? std::string::npos : end - quote - 1);
  if (name == "utf-8" || name == "utf8") return TextEncoding::Utf8;
  if (name == "iso-8859-1" || name == "latin1" || name == "latin-1" || name == "iso_8859-1") return TextEncoding::Latin1;
  if (name == "windows-1252" || name == "cp1252") return TextEncoding::Windows1252;
  return TextEncoding::Undeclared;
}

std::string DisplayText(std::string_view bytes, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8: return RepairedUtf8(bytes);
    case TextEncoding::Latin1: return FromSingleByte(bytes, false);
    case TextEncoding::Windows1252: return FromSingleByte(bytes, true);
    case TextEncoding::Undeclared: break;
  }
  return IsUtf8(bytes) ? std::string(bytes) : FromSingleByte(bytes, true);
}

bool SaveBackupFile(XMLDocument& doc, const std::string& path, std::string& error) {
  XMLPrinter printer;
  doc.Print(&printer);
  platform::AtomicFile file(path);
  if (!file.IsOpen()) {
    error = file.Problem().empty() ? "cannot write " + path : file.Problem();
    return false;
  }
  // CStrSize counts the closing NUL, which is no part of the file.
  const std::size_t size = printer.CStrSize() > 0 ? static_cast<std::size_t>(printer.CStrSize() - 1) : 0;
  if (!file.Write(printer.CStr(), size) || !file.Commit()) {
    error = file.Problem().empty() ? "cannot write " + path + " (disk full?)" : file.Problem();
    return false;
  }
  return true;
}

// ---- save side ------------------------------------------------------------------

XMLElement* BackupRoot(XMLDocument& doc) {
  if (XMLElement* root = doc.FirstChildElement(kRoot)) return root;
  XMLElement* root = doc.NewElement(kRoot);
  doc.InsertEndChild(root);
  return root;
}

void WriteIdentity(XMLDocument& doc, const ControllerInfo& info) {
  XMLElement* root = BackupRoot(doc);
  if (XMLElement* old = root->FirstChildElement(kController)) root->DeleteChild(old);
  XMLElement* c = root->InsertNewChildElement(kController);
  AppendValue(c, "ModelNumber", info.modelNumber);
  AppendValue(c, "ModelVersion", info.modelVersion);
  AppendValue(c, "UartVersion", info.uartVersion);
}

XMLElement* OpenSection(XMLDocument& doc, const char* name) {
  XMLElement* root = BackupRoot(doc);
  XMLElement* section = FindNamed(root, kData, name);
  if (section != nullptr && std::strcmp(name, kSetup) == 0) {
    root->DeleteChild(section);
    section = nullptr;
  }
  if (section == nullptr) {
    section = root->InsertNewChildElement(kData);
    section->SetAttribute("Name", name);
  }
  return section;
}

void AddParameter(XMLElement* section, const std::string& record) {
  const auto fields = SplitBackupFields(record);
  XMLElement* p = section->InsertNewChildElement("parameter");
  p->SetAttribute("Name", BackupField(fields, 1).c_str());
  p->InsertNewText(BackupField(fields, 2).c_str());
}

bool MergeMaterialEntry(XMLElement* section, const std::string& record, std::string& problem) {
  const char materialCode = record.size() > 1 ? record[1] : '\0';
  const char kindCode = record.size() > 2 ? record[2] : '\0';
  const auto fields = SplitBackupFields(record.size() > 3 ? std::string_view(record).substr(3) : "");
  const auto material = MaterialWord(materialCode);
  if (!material) {
    problem = "material entry with unknown material code '" + std::string(1, materialCode) +
              "' (thickness " + BackupField(fields, 1) + ") left out";
    return false;
  }
  const char* kind = kindCode == '1' ? "Default" : "UserDefined";
  XMLElement* m = section->FirstChildElement(material->c_str());
  if (m == nullptr) m = section->InsertNewChildElement(material->c_str());
  const std::string thickness = BackupField(fields, 1);
  for (XMLElement* e = m->FirstChildElement(kind); e != nullptr; e = e->NextSiblingElement(kind)) {
    if (ChildText(e, "Thickness") == thickness) {
      m->DeleteChild(e);
      break;
    }
  }
  XMLElement* entry = m->InsertNewChildElement(kind);
  for (std::size_t i = 0; i < kMaterialValueNames.size(); ++i) {
    AppendValue(entry, kMaterialValueNames[i], BackupField(fields, i + 1));
  }
  return true;
}

XMLElement* PlacePart(XMLElement* section, const std::string& placeRecord, const std::string& partRecord,
                      int& bendCount, std::string& problem) {
  const auto place = SplitBackupFields(placeRecord);
  std::string category = BackupField(place, 1), sub = BackupField(place, 2);
  if (category.empty()) category = kNone;
  if (sub.empty()) sub = kNone;
  const auto fields = SplitBackupFields(partRecord);
  const std::string name = BackupField(fields, 1);
  const std::string packed = BackupField(fields, 5);
  const char materialCode = packed.size() > 0 ? packed[0] : '\0';

  XMLElement* cat = FindOrAppendNamed(section, "Category", category);
  XMLElement* subCat = FindOrAppendNamed(cat, "SubCategory", sub);
  if (XMLElement* old = FindNamed(subCat, "Part", name)) subCat->DeleteChild(old);
  XMLElement* part = subCat->InsertNewChildElement("Part");
  part->SetAttribute("Name", name.c_str());
  AppendValue(part, "Description", BackupField(fields, 2));
  AppendValue(part, "BlankWidth", BackupField(fields, 3));
  AppendValue(part, "Thickness", BackupField(fields, 4));
  const auto material = MaterialWord(materialCode);
  if (!material) {
    problem = "part " + name + " has unknown material code '" + std::string(1, materialCode) +
              "' (kept as it came)";
  }
  AppendValue(part, "MaterialType", material ? *material : std::string(1, materialCode));
  AppendValue(part, "Paint", packed.size() > 1 ? packed.substr(1, 1) : std::string());
  AppendValue(part, "Graphics", packed.size() > 2 ? packed.substr(2, 1) : std::string());
  bendCount = 0;
  for (std::size_t i = 4; i < packed.size() && i < 9; ++i) {
    const char c = packed[i];
    if (c < '0' || c > '9') {
      if (bendCount == 0 && c == ' ') continue;
      break;
    }
    bendCount = bendCount * 10 + (c - '0');
  }
  if (bendCount > 0) part->InsertNewChildElement("Bends");
  return part;
}

void AddBend(XMLElement* part, const std::string& record) {
  XMLElement* bends = part->FirstChildElement("Bends");
  if (bends == nullptr) bends = part->InsertNewChildElement("Bends");
  XMLElement* bend = bends->InsertNewChildElement("Bend");
  const char code = record.empty() ? '\0' : record[0];
  const auto type = BendTypeWord(code);
  if (!type) return;  // an unknown type is kept as an empty Bend
  bend->SetAttribute("Type", type->c_str());
  const auto fields = SplitBackupFields(record.size() > 1 ? std::string_view(record).substr(1) : "");
  const auto& children = BendChildren(code);
  for (std::size_t i = 0; i < children.size(); ++i) {
    const std::string value = BackupField(fields, i + 1);
    if (children[i] == "Quality" || children[i] == "Action") {
      const char c = value.empty() ? '\0' : value[0];
      const auto word = children[i] == "Quality" ? QualityWord(c) : ActionWord(c);
      if (word) AppendValue(bend, children[i].c_str(), *word);
      continue;
    }
    AppendValue(bend, children[i].c_str(), value);
  }
}

// ---- load side ------------------------------------------------------------------

ControllerInfo ReadIdentity(const XMLDocument& doc) {
  const XMLElement* root = Root(doc);
  const XMLElement* c = root != nullptr ? root->FirstChildElement(kController) : nullptr;
  return {ChildText(c, "ModelNumber"), ChildText(c, "ModelVersion"), ChildText(c, "UartVersion")};
}

const XMLElement* FindSection(const XMLDocument& doc, const char* name) {
  const XMLElement* root = Root(doc);
  if (root == nullptr) return nullptr;
  for (const XMLElement* e = root->FirstChildElement(kData); e != nullptr; e = e->NextSiblingElement(kData)) {
    if (Attribute(e, "Name") == name) return e;
  }
  return nullptr;
}

std::vector<Parameter> WalkSetup(const XMLDocument& doc) {
  std::vector<Parameter> out;
  const XMLElement* s = FindSection(doc, kSetup);
  if (s == nullptr) return out;
  for (const XMLElement* p = s->FirstChildElement("parameter"); p != nullptr;
       p = p->NextSiblingElement("parameter")) {
    out.push_back({Attribute(p, "Name"), TextOf(p)});
  }
  return out;
}

std::vector<MaterialEntry> WalkMaterials(const XMLDocument& doc, Skipped& skipped) {
  std::vector<MaterialEntry> out;
  const XMLElement* s = FindSection(doc, kMaterialTable);
  if (s == nullptr) return out;
  for (const XMLElement* m = s->FirstChildElement(); m != nullptr; m = m->NextSiblingElement()) {
    const auto code = MaterialCode(m->Name());
    for (const XMLElement* e = m->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
      MaterialEntry entry;
      for (std::size_t i = 0; i < kMaterialValueNames.size(); ++i) {
        entry.values[i] = ChildText(e, kMaterialValueNames[i]);
      }
      if (!code) {
        skipped.push_back(std::string("material entry under unknown material \"") + m->Name() +
                          "\" (thickness " + entry.values[0] + ")");
        continue;
      }
      entry.material = *code;
      entry.kind = std::strcmp(e->Name(), "Default") == 0 ? '1' : '0';
      out.push_back(std::move(entry));
    }
  }
  return out;
}

namespace {

// Reads one Part; false when its material word has no code. What is left out is said in `skipped`.
bool ReadPart(const XMLElement* p, const std::string& category, const std::string& sub, Part& part,
              Skipped& skipped) {
  part.category = category;
  part.subCategory = sub;
  part.name = Attribute(p, "Name");
  part.description = ChildText(p, "Description");
  part.blankWidth = ChildText(p, "BlankWidth");
  part.thickness = ChildText(p, "Thickness");
  part.paint = ChildText(p, "Paint");
  part.graphics = ChildText(p, "Graphics");
  const std::string materialText = ChildText(p, "MaterialType");
  const auto material = MaterialCode(materialText);
  if (!material) {
    skipped.push_back("part " + part.name + ": unknown material \"" + materialText + "\" (part left out)");
    return false;
  }
  part.material = *material;
  const XMLElement* bends = p->FirstChildElement("Bends");
  int index = 0;
  for (const XMLElement* b = bends != nullptr ? bends->FirstChildElement("Bend") : nullptr; b != nullptr;
       b = b->NextSiblingElement("Bend")) {
    ++index;
    const std::string typeText = Attribute(b, "Type");
    const auto code = BendTypeCode(typeText);
    if (!code) {
      skipped.push_back("part " + part.name + ": bend " + std::to_string(index) + " of unknown type \"" +
                        typeText + "\" left out");
      continue;  // the part itself still goes; only this bend is skipped
    }
    Bend bend;
    bend.code = *code;
    bool ok = true;
    for (const auto& child : BendChildren(*code)) {
      const std::string text = ChildText(b, child.c_str());
      if (child == "Quality" || child == "Action") {
        const auto c = child == "Quality" ? QualityCode(text) : ActionCode(text);
        if (!c) {
          skipped.push_back("part " + part.name + ": bend " + std::to_string(index) + " with unknown " +
                            child + " \"" + text + "\" left out");
          ok = false;
          break;
        }
        bend.values.emplace_back(1, *c);
        continue;
      }
      bend.values.push_back(text);
    }
    if (ok) part.bends.push_back(std::move(bend));
  }
  return true;
}

void AddPart(const XMLElement* p, const std::string& category, const std::string& sub,
             std::vector<Part>& out, Skipped& skipped) {
  Part part;
  if (ReadPart(p, category, sub, part, skipped)) out.push_back(std::move(part));
}

}  // namespace

std::vector<Part> WalkParts(const XMLDocument& doc, Skipped& skipped) {
  std::vector<Part> out;
  const XMLElement* s = FindSection(doc, kPartLibrary);
  if (s == nullptr) return out;
  for (const XMLElement* c = s->FirstChildElement("Category"); c != nullptr;
       c = c->NextSiblingElement("Category")) {
    const std::string category = Attribute(c, "Name");
    for (const XMLElement* sc = c->FirstChildElement("SubCategory"); sc != nullptr;
         sc = sc->NextSiblingElement("SubCategory")) {
      const std::string sub = Attribute(sc, "Name");
      for (const XMLElement* p = sc->FirstChildElement("Part"); p != nullptr; p = p->NextSiblingElement("Part")) {
        AddPart(p, category, sub, out, skipped);
      }
    }
    for (const XMLElement* p = c->FirstChildElement("Part"); p != nullptr; p = p->NextSiblingElement("Part")) {
      AddPart(p, category, kNone, out, skipped);
    }
  }
  for (const XMLElement* p = s->FirstChildElement("Part"); p != nullptr; p = p->NextSiblingElement("Part")) {
    AddPart(p, kNone, kNone, out, skipped);
  }
  return out;
}

// ---- commands ---------------------------------------------------------------------

std::string ParameterCommand(const Parameter& p) { return "MC" + p.name + "$" + p.value; }

std::string MaterialSelectCommand(const MaterialEntry& e) {
  return std::string("NST") + e.material + e.kind + e.values[0] + "$";
}

std::string MaterialCreateCommand(const MaterialEntry& e) {
  std::string c = std::string("NC+") + e.material + e.kind;
  for (const auto& v : e.values) c += v + "$";
  return c;
}

std::string PartSelectCommand(const Part& p) { return "PST" + p.name + "$"; }

std::string PartCreateCommand(const Part& p) {
  return "PC+" + p.name + "$" + p.description + "$" + p.blankWidth + "$" + p.thickness + "$" +
         std::string(1, p.material) + p.paint + p.graphics;
}

std::string PartFileCommand(const Part& p) { return "PCE" + p.category + "$" + p.subCategory + "$"; }

std::string BendCommand(const Bend& b) {
  std::string c = std::string("PBC+") + b.code;
  if (b.code == '3') {  // Reposition: the action code alone, no separator
    return c + (b.values.empty() ? std::string() : b.values[0]);
  }
  for (const auto& v : b.values) c += v + "$";
  return c;
}

}  // namespace tarnvale::backup
