#pragma once
// Moving the three sections between an RQ750 in Data Backup mode and a
// backup document, and the save and load runs built from them.
//
// Runs report a stream of typed events (section started, record n of N,
// section finished) and end with a summary that says exactly what was and
// was not transferred. They never talk to the operator: the connection
// check and the dialog model do that on the operator's thread.

#include <functional>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "core/backup/BackupDocument.h"
#include "core/backup/BackupLink.h"
#include "core/jobs/StopToken.h"
#include "core/result/ResultCode.h"

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
  int badChecksums = 0;   // replies taken although their checksum did not match
};

struct RunSummary {
  bool saving = true;
  bool reading = false;              // the controller read for a comparison (no file written)
  std::string file;
  std::string port;                  // the controller's port, named when it stopped answering
  std::string fileProblem;           // the file could not be read or written
  std::string partialFile;           // a save that did not complete: where what was gathered is kept
  bool fileExisted = false;          // the save's file was there before the run (and still is, as it was)
  bool identityMissing = false;      // the controller did not answer the identity question
  int identityBadChecksums = 0;
  std::vector<SectionOutcome> sections;
  bool Success() const;              // nothing ended early, file fine
  bool NothingDone() const;          // the file problem stopped the run before any section
  bool LinkLost() const;             // the controller went silent (identity or a section)
  bool Stopped() const;              // the run was stopped (Ctrl-C) before it was through
  int BadChecksums() const;          // replies whose checksum did not match, all taken
  // The result as one code, for exit codes: success, stopped by the program
  // (Ctrl-C), a file that could not be read or written, the link lost, or a
  // refusal by the controller.
  ResultCode Result() const;
  // "Save completed successfully" / "Load completed successfully" for real
  // success, otherwise what was and was not transferred. Skipped records
  // and replies with a wrong checksum are listed after either.
  std::string Text() const;
};

// ---- the controller conversation ------------------------------------------

// "vX": fills the protocol version from the third field. Messages through
// `op` as the dialog shows them; false when no answer or not an RQ750.
bool CheckBackupConnection(CommPort& port, Operator* op, float& protocolVersion);
enum class Connection { Ok, NoAnswer, WrongModel };
// The reply is awaited on `clock` (tests pass a fake one).
Connection CheckBackupConnectionFor(CommPort& port, Operator* op, float& protocolVersion,
                                    const Clock& clock = SystemClock());
// Parses the protocol version of a "vX" payload (0 when none).
float ProtocolVersionOf(const std::string& payload);
// "vX" again: fields 1, 2, 3 go to ModelVersion, ModelNumber, UartVersion.
// `badChecksums` (when given) is increased when the reply's checksum did not match.
bool ReadControllerInfo(CommPort& port, ControllerInfo& info, const Clock& clock = SystemClock(),
                        int* badChecksums = nullptr);

// Every run below takes the stop token of the runner it runs on (none: it
// is never stopped): once a stop is asked for, no further command is sent;
// the section in progress ends as "stopped" after the exchange under way,
// and the sections after it are not started.

// Lists one section into `doc` (merging by the file's editing rules).
// Every exchange waits on `clock` (tests pass a fake one).
SectionOutcome GatherSection(CommPort& port, char selector, tinyxml2::XMLDocument& doc,
                             const BackupProgress& progress = {}, const Clock& clock = SystemClock(), const StopToken& stop = {});
// Sends one section of `doc` to the controller. Shear bends are sent only
// when the protocol version is at least 3.2.
SectionOutcome RestoreSection(CommPort& port, char selector, const tinyxml2::XMLDocument& doc,
                              float protocolVersion, const BackupProgress& progress = {},
                              const Clock& clock = SystemClock(), const StopToken& stop = {});

// ---- whole runs --------------------------------------------------------------

struct SectionChoice {
  bool settings = false;
  bool parts = false;
  bool materials = false;
  // Settings, Parts, Materials: the order both runs take.
  std::vector<char> Selectors() const;
};

// Save: identity, then each chosen section, merged into the file's content.
// A file that exists but does not parse, or is not a backup, is refused and
// left untouched; so is a path that is a device, FIFO or folder (a symbolic
// link is written through). The file under PATH is replaced only by a save
// that completed: what a save gathers is kept in "PATH.partial" after each
// section, so one that did not complete (silent controller, lost link,
// Ctrl-C) leaves PATH as it was and what was gathered beside it.
RunSummary RunSave(CommPort& port, const std::string& path, SectionChoice choice,
                   const BackupProgress& progress = {}, const Clock& clock = SystemClock(), const StopToken& stop = {});
// Load: the file is read once; each chosen section is sent.
RunSummary RunLoad(CommPort& port, const std::string& path, SectionChoice choice, float protocolVersion,
                   const BackupProgress& progress = {}, const Clock& clock = SystemClock(), const StopToken& stop = {});

// The whole controller read into a fresh document (for the diff).
RunSummary ReadController(CommPort& port, tinyxml2::XMLDocument& doc, SectionChoice choice,
                          const BackupProgress& progress = {}, const Clock& clock = SystemClock(),
                          const StopToken& stop = {});

// What a load of `file` would change on a controller read into `controller`:
// per chosen section, the records it would add and those it would change
// (records only on the controller are left alone by a load).
struct LoadChanges {
  struct Counts {
    char section = kSelectorSetup;
    int added = 0;
    int changed = 0;
  };
  std::vector<Counts> sections;
  int Total() const;
};
LoadChanges ChangesOfLoad(const tinyxml2::XMLDocument& controller, const tinyxml2::XMLDocument& file,
                          SectionChoice choice);
// The question asked before a load, naming those counts.
std::string LoadQuestion(const std::string& file, const LoadChanges& changes);

// The version question asked before a load when the two texts differ.
std::string VersionQuestion(const std::string& fileVersion, const std::string& controllerVersion);

}  // namespace backup
}  // namespace tarnvale
