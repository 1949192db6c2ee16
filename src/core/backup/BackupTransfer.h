#pragma once
// Moving the three sections between an RQ750 in Data Backup mode and a
// backup document, and the save and load runs built from them.
//
// Runs report a stream of typed events (section started, record n of N,
// section finished) and end with a summary that says exactly what was and
// was not transferred. They never talk to the operator: the connection
// check and the dialog model do that on the operator's thread.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "core/backup/BackupDocument.h"
#include "core/backup/BackupLink.h"

namespace tarnvale {

class CommPort;
class Operator;

namespace backup {

inline constexpr char kSelectorSetup = 'M';
inline constexpr char kSelectorMaterials = 'N';
inline constexpr char kSelectorParts = 'P';
// A part the controller keeps calling busy is given up after this many asks.
inline constexpr int kMaxBusyRepeats = 200;

// "Settings", "Materials", "Parts" as the operator knows the sections.
std::string SectionTitle(char selector);

struct BackupEvent {
  enum class Kind { SectionStarted, Record, SectionFinished };
  Kind kind = Kind::Record;
  char section = kSelectorSetup;
  int done = 0;   // records moved so far
  int total = 0;  // records the section holds (as announced or as in the file)
};
using BackupProgress = std::function<void(const BackupEvent&)>;

struct SectionOutcome {
  char section = kSelectorSetup;
  bool complete = false;  // every record moved and the listing closed
  int done = 0;
  int total = 0;
  std::string failure;    // why it ended early (empty when complete)
  bool linkLost = false;  // it ended because the controller stopped answering
  bool stopped = false;   // it ended (or never began) because the run was stopped
  Skipped skipped;        // records that could not be carried over
};

struct RunSummary {
  bool saving = true;
  std::string file;
  std::string fileProblem;           // the file could not be read or written
  std::string partialFile;           // a stopped save: where what was gathered is kept
  std::vector<SectionOutcome> sections;
  bool Success() const;              // nothing ended early, file fine
  bool NothingDone() const;          // the file problem stopped the run before any section
  bool LinkLost() const;             // a section ended because the controller went silent
  bool Stopped() const;              // the run was stopped (Ctrl-C) before it was through
  // "Save completed successfully" / "Load completed successfully" for real
  // success, otherwise what was and was not transferred. Skipped records
  // are listed after either.
  std::string Text() const;
};

// ---- the controller conversation ------------------------------------------

// "vX": fills the protocol version from the third field. Messages through
// `op` as the dialog shows them; false when no answer or not an RQ750.
bool CheckBackupConnection(CommPort& port, Operator* op, float& protocolVersion);
enum class Connection { Ok, NoAnswer, WrongModel };
Connection CheckBackupConnectionFor(CommPort& port, Operator* op, float& protocolVersion);
// Parses the protocol version of a "vX" payload (0 when none).
float ProtocolVersionOf(const std::string& payload);
// "vX" again: fields 1, 2, 3 go to ModelVersion, ModelNumber, UartVersion.
bool ReadControllerInfo(CommPort& port, ControllerInfo& info, const Clock& clock = SystemClock());

// Every run below takes an optional stop flag: once it is set, no further
// command is sent; the section in progress ends as "stopped" after the
// exchange under way, and the sections after it are not started.
using StopFlag = const std::atomic<bool>*;

// Lists one section into `doc` (merging by the file's editing rules).
// Every exchange waits on `clock` (tests pass a fake one).
SectionOutcome GatherSection(CommPort& port, char selector, tinyxml2::XMLDocument& doc,
                             const BackupProgress& progress = {}, const Clock& clock = SystemClock(), StopFlag stop = nullptr);
// Sends one section of `doc` to the controller. Shear bends are sent only
// when the protocol version is at least 3.2.
SectionOutcome RestoreSection(CommPort& port, char selector, const tinyxml2::XMLDocument& doc,
                              float protocolVersion, const BackupProgress& progress = {},
                              const Clock& clock = SystemClock(), StopFlag stop = nullptr);

// ---- whole runs --------------------------------------------------------------

struct SectionChoice {
  bool settings = false;
  bool parts = false;
  bool materials = false;
  // Settings, Parts, Materials: the order both runs take.
  std::vector<char> Selectors() const;
};

// Save: identity, then each chosen section, the file written after each.
// A file that exists but does not parse is refused and left untouched.
// A stopped save puts what it gathered under "PATH.partial" and leaves the
// file under PATH as it was before the run (or absent, as it was).
RunSummary RunSave(CommPort& port, const std::string& path, SectionChoice choice,
                   const BackupProgress& progress = {}, const Clock& clock = SystemClock(), StopFlag stop = nullptr);
// Load: the file is read once; each chosen section is sent.
RunSummary RunLoad(CommPort& port, const std::string& path, SectionChoice choice, float protocolVersion,
                   const BackupProgress& progress = {}, const Clock& clock = SystemClock(), StopFlag stop = nullptr);

// The whole controller read into a fresh document (for the diff).
RunSummary ReadController(CommPort& port, tinyxml2::XMLDocument& doc, SectionChoice choice,
                          const BackupProgress& progress = {});

// The version question asked before a load when the two texts differ.
std::string VersionQuestion(const std::string& fileVersion, const std::string& controllerVersion);

}  // namespace backup
}  // namespace tarnvale
