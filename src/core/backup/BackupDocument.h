#pragma once
// The backup file: an XML document of the controller's identity, setup,
// material table and part library, and the two ways it is used.
//
// On save the controller's records are merged into the document one by one
// (a repeated save replaces what it saved before); on load the document is
// walked into plain items that the transfer turns into write commands. Values
// travel as the controller's own text; only the one-character codes are
// turned into words and back.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tinyxml2.h>

namespace tarnvale::backup {

// Element and attribute names of the file.
inline constexpr const char* kRoot = "Quor_Backup";
inline constexpr const char* kController = "Controller";
inline constexpr const char* kData = "Data";
inline constexpr const char* kSetup = "Setup";
inline constexpr const char* kMaterialTable = "MaterialTable";
inline constexpr const char* kPartLibrary = "PartLibrary";
inline constexpr const char* kNone = "None";

// The item name table: the five materials, then the six bend types.
inline constexpr std::array<const char*, 11> kItemNames = {
    "Aluminium", "Copper", "Stainless", "Steel", "Zinc", "NormalBend",
    "CloseHem",  "Radius", "Reposition", "Reclamp", "Shear"};
inline constexpr std::array<const char*, 6> kMaterialValueNames = {
    "Thickness", "ClampPos", "ClampPressure", "OverBend", "RadiusAdjustment", "HemPressure"};
inline constexpr char kShearCode = '5';

// The word of a material code '1'-'5'; nothing for another code.
std::optional<std::string> MaterialWord(char code);
// The code of a material word (exact comparison); nothing when none matches.
std::optional<char> MaterialCode(std::string_view word);
// Bend type word of a code '0'-'5', and back.
std::optional<std::string> BendTypeWord(char code);
std::optional<char> BendTypeCode(std::string_view word);
// The child element names of a bend type, in document order.
const std::vector<std::string>& BendChildren(char code);
std::optional<std::string> QualityWord(char code);
std::optional<char> QualityCode(std::string_view word);
std::optional<std::string> ActionWord(char code);
std::optional<char> ActionCode(std::string_view word);

struct ControllerInfo {
  std::string modelNumber;
  std::string modelVersion;
  std::string uartVersion;
  bool operator==(const ControllerInfo&) const = default;
};

// ---- files ----------------------------------------------------------------

enum class FileState { Missing, Loaded, Unreadable, NotABackup };

// Loads `path` into `doc`. A missing file leaves `doc` empty (Missing); a
// file that is not a regular file of a backup's size, or does not parse,
// gives Unreadable with the reason in `error`; well-formed XML without a
// Quor_Backup element holding a Controller gives NotABackup with what is
// missing in `error`. Neither of the last two is ever written over. The
// text keeps the file's own bytes, whatever its encoding.
FileState LoadBackupFile(const std::string& path, tinyxml2::XMLDocument& doc, std::string& error);
// Empty when `doc` is a backup; otherwise what it lacks.
std::string NotABackupReason(const tinyxml2::XMLDocument& doc);
// "PATH does not exist" / "PATH is not a readable backup (why)" /
// "PATH is not a backup (why)" for a state other than Loaded.
std::string LoadProblemText(const std::string& path, FileState state, const std::string& error);

// ---- text encoding ----------------------------------------------------------
//
// Values stay as the bytes of the file (or of the controller, whose link is
// 8-bit) everywhere inside the program, so a load sends exactly what a save
// received. Only text shown to a person or written as JSON is turned into
// UTF-8, by the encoding the file declares.

enum class TextEncoding {
  Undeclared,   // no declaration: UTF-8 where the bytes are, else Windows-1252 (what this program writes)
  Utf8,         // declared UTF-8: a byte that is not UTF-8 shows as U+FFFD
  Latin1,       // ISO-8859-1: each byte is its own code point
  Windows1252,  // windows-1252 (also cp1252)
};
// The encoding named by the document's XML declaration.
TextEncoding DeclaredEncoding(const tinyxml2::XMLDocument& doc);
// `bytes` as valid UTF-8 text; never fails.
std::string DisplayText(std::string_view bytes, TextEncoding encoding);

// Writes `doc` to a temporary file beside `path` and renames it over `path`,
// so a crash or a full disk never leaves a half-written backup.
bool SaveBackupFile(tinyxml2::XMLDocument& doc, const std::string& path, std::string& error);

// ---- save side: merging controller records --------------------------------

// The first top-level Quor_Backup element, appended when there is none.
tinyxml2::XMLElement* BackupRoot(tinyxml2::XMLDocument& doc);
// Replaces the Controller element by a new one at the root's end.
void WriteIdentity(tinyxml2::XMLDocument& doc, const ControllerInfo& info);
// The Data element of a section: Setup is always new at the root's end;
// MaterialTable and PartLibrary are kept where they stand or appended.
tinyxml2::XMLElement* OpenSection(tinyxml2::XMLDocument& doc, const char* name);

// An "ML" payload: appends a parameter.
void AddParameter(tinyxml2::XMLElement* section, const std::string& record);
// An "NL" payload: merges the entry by material, kind and exact thickness
// text. False (nothing stored) when the material code has no word; `problem`
// says which entry was left out.
bool MergeMaterialEntry(tinyxml2::XMLElement* section, const std::string& record,
                        std::string& problem);
// A "PUE" and a "PU" payload: files the part, replacing one of the same name
// in the same place. The bend count is returned through `bendCount`. A
// material code without a word is kept as the code character itself and
// reported in `problem`.
tinyxml2::XMLElement* PlacePart(tinyxml2::XMLElement* section, const std::string& placeRecord,
                                const std::string& partRecord, int& bendCount, std::string& problem);
// A "PBL" payload: appends a Bend to the part's Bends.
void AddBend(tinyxml2::XMLElement* part, const std::string& record);

// ---- load side: walking the document ---------------------------------------

struct Parameter {
  std::string name;
  std::string value;
  bool operator==(const Parameter&) const = default;
};

struct MaterialEntry {
  char material = '1';
  char kind = '1';  // '1' Default, '0' UserDefined
  std::array<std::string, 6> values;  // Thickness first
  bool operator==(const MaterialEntry&) const = default;
};

struct Bend {
  char code = '0';
  // Values in the bend table's order; for Radius the last is the quality
  // code, for Reposition the only one is the action code.
  std::vector<std::string> values;
  bool operator==(const Bend&) const = default;
};

struct Part {
  std::string category;
  std::string subCategory;
  std::string name;
  std::string description;
  std::string blankWidth;
  std::string thickness;
  char material = '1';
  std::string paint;
  std::string graphics;
  std::vector<Bend> bends;
  bool operator==(const Part&) const = default;
};

// What a walk could not turn into commands, in words for the summary.
using Skipped = std::vector<std::string>;

ControllerInfo ReadIdentity(const tinyxml2::XMLDocument& doc);
const tinyxml2::XMLElement* FindSection(const tinyxml2::XMLDocument& doc, const char* name);
std::vector<Parameter> WalkSetup(const tinyxml2::XMLDocument& doc);
std::vector<MaterialEntry> WalkMaterials(const tinyxml2::XMLDocument& doc, Skipped& skipped);
std::vector<Part> WalkParts(const tinyxml2::XMLDocument& doc, Skipped& skipped);

// ---- write commands made from walked items --------------------------------

std::string ParameterCommand(const Parameter& p);            // "MC" name "$" value
std::string MaterialSelectCommand(const MaterialEntry& e);   // "NST" ...
std::string MaterialCreateCommand(const MaterialEntry& e);   // "NC+" ...
std::string PartSelectCommand(const Part& p);                // "PST" name "$"
std::string PartCreateCommand(const Part& p);                // "PC+" ...
std::string PartFileCommand(const Part& p);                  // "PCE" cat "$" sub "$"
std::string BendCommand(const Bend& b);                      // "PBC+" ...

}  // namespace tarnvale::backup
