#include "core/backup/BackupTransfer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "core/backup/BackupDiff.h"
#include "core/link/CommPort.h"
#include "core/operator/Operator.h"
#include "core/platform/FileAccess.h"

namespace tarnvale::backup {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

const char* kConnectText =
    "Couldn't connect to controller.  Please check the connection and try again.\n"
    "If already connected, make sure the controller is in Data Backup mode.";

// One conversation of a section: each exchange remembers why it failed, so
// the outcome can say where the section ended.
class Conversation {
 public:
  Conversation(CommPort& port, SectionOutcome& outcome, const Clock& clock, const StopToken& stop)
      : port_(port), outcome_(outcome), clock_(clock), stop_(stop) {}

  // True when a reply came; `reply` holds its payload.
  bool Send(const std::string& command, std::string& reply) {
    if (stop_.StopRequested()) {
      lastError_ = "stopped before \"" + Shorten(command) + "\" was sent";
      stopped_ = true;
      silent_ = false;
      return false;
    }
    ExchangeError why = ExchangeError::None;
    bool checksumOk = true;
    if (ExchangeBackupCommand(port_, command, reply, &why, clock_, kBackupReplyTimeoutMs, &checksumOk)) {
      if (!checksumOk) ++outcome_.badChecksums;
      return true;
    }
    lastError_ = "\"" + Shorten(command) + "\": " + ExchangeErrorText(why);
    silent_ = why == ExchangeError::NoReply || why == ExchangeError::WriteFailed;
    return false;
  }
  // True when the reply came with the wanted status.
  bool Expect(const std::string& command, std::string& reply, char status = '0') {
    if (!Send(command, reply)) return false;
    if (BackupStatus(reply) == status) return true;
    lastError_ = "\"" + Shorten(command) + "\" answered with status '" +
                 std::string(1, BackupStatus(reply)) + "'";
    silent_ = false;
    return false;
  }
  // Notes a reply whose status the sequence cannot go on with.
  void Refused(const std::string& command, const std::string& reply) {
    lastError_ = "\"" + Shorten(command) + "\" answered with status '" +
                 std::string(1, BackupStatus(reply)) + "'";
    silent_ = false;
  }
  // The controller stopped answering (not just refused).
  bool Silent() const { return silent_; }
  void Fail(const std::string& where) {
    outcome_.complete = false;
    outcome_.linkLost = silent_;
    outcome_.stopped = stopped_;
    if (outcome_.failure.empty()) outcome_.failure = where + ": " + lastError_;
  }

 private:
  static std::string Shorten(const std::string& c) { return c.size() > 24 ? c.substr(0, 24) + "..." : c; }

  CommPort& port_;
  SectionOutcome& outcome_;
  const Clock& clock_;
  StopToken stop_;
  std::string lastError_;
  bool silent_ = false;
  bool stopped_ = false;
};

void Emit(const BackupProgress& p, BackupEvent::Kind kind, const SectionOutcome& o) {
  if (p) p(BackupEvent{kind, o.section, o.done, o.total});
}

// Opens a listing ("ML+", "NL+", "PL+"): the record count, or -1.
int OpenListing(Conversation& c, const std::string& command, const char* what) {
  std::string reply;
  if (!c.Expect(command, reply)) {
    c.Fail(std::string("the controller did not open the ") + what);
    return -1;
  }
  return BackupListCount(reply);
}

std::string Ordinal(int n, int total, const char* noun) {
  return std::string(noun) + " " + std::to_string(n) + " of " + std::to_string(total);
}

void GatherSetup(Conversation& c, XMLElement* section, SectionOutcome& o, const BackupProgress& progress) {
  o.total = OpenListing(c, "ML+", "setup list");
  if (o.total < 0) { o.total = 0; return; }
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  std::string reply;
  for (int i = 0; i < o.total; ++i) {
    if (!c.Expect("ML", reply)) return c.Fail(Ordinal(i + 1, o.total, "reading parameter"));
    AddParameter(section, reply);
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
    if (!c.Expect("M+", reply)) return c.Fail(Ordinal(i + 1, o.total, "after parameter"));
  }
  c.Send("ML-", reply);
  o.complete = true;
}

void GatherMaterials(Conversation& c, XMLElement* section, SectionOutcome& o,
                     const BackupProgress& progress) {
  o.total = OpenListing(c, "NL+", "material table");
  if (o.total < 0) { o.total = 0; return; }
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  std::string reply;
  for (int i = 0; i < o.total; ++i) {
    if (!c.Expect("NL", reply)) return c.Fail(Ordinal(i + 1, o.total, "reading material entry"));
    std::string problem;
    if (!MergeMaterialEntry(section, reply, problem)) o.skipped.push_back(problem);
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
    if (!c.Expect("N+", reply)) return c.Fail(Ordinal(i + 1, o.total, "after material entry"));
  }
  c.Send("NL-", reply);
  o.complete = true;
}

void GatherParts(Conversation& c, XMLElement* section, SectionOutcome& o, const BackupProgress& progress) {
  o.total = OpenListing(c, "PL+", "part library");
  if (o.total < 0) { o.total = 0; return; }
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  std::string place, record, reply;
  for (int i = 0; i < o.total; ++i) {
    const std::string where = Ordinal(i + 1, o.total, "reading part");
    if (!c.Expect("PUE", place) || !c.Expect("PU", record)) return c.Fail(where);
    int bends = 0;
    std::string problem;
    XMLElement* part = PlacePart(section, place, record, bends, problem);
    if (!problem.empty()) o.skipped.push_back(problem);
    for (int b = 0; b < bends; ++b) {
      if (!c.Expect("PBL", reply)) return c.Fail(where + ", bend " + std::to_string(b + 1));
      AddBend(part, reply);
      if (!c.Expect("PB+", reply)) return c.Fail(where + ", after bend " + std::to_string(b + 1));
    }
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
    if (!c.Expect("P+", reply)) return c.Fail(Ordinal(i + 1, o.total, "after part"));
  }
  c.Send("PL-", reply);
  o.complete = true;
}

void RestoreSetup(Conversation& c, const XMLDocument& doc, SectionOutcome& o, const BackupProgress& progress) {
  const auto params = WalkSetup(doc);
  o.total = static_cast<int>(params.size());
  std::string reply;
  if (!c.Expect("ML+", reply)) return c.Fail("the controller did not open the setup list");
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  bool stopped = false;
  for (const auto& p : params) {
    const bool answered = c.Send(ParameterCommand(p), reply);
    const char s = BackupStatus(reply);
    if (!answered || (s != '0' && s != '4')) {
      if (answered) c.Refused(ParameterCommand(p), reply);
      c.Fail("writing parameter " + p.name);
      stopped = true;
      break;
    }
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
  }
  // The list is closed after a stop too, unless the controller is gone.
  if (!(stopped && c.Silent())) c.Send("ML-", reply);
  o.complete = !stopped;
}

void RestoreMaterials(Conversation& c, const XMLDocument& doc, SectionOutcome& o,
                      const BackupProgress& progress) {
  const auto entries = WalkMaterials(doc, o.skipped);
  o.total = static_cast<int>(entries.size());
  std::string reply;
  if (!c.Expect("NL+", reply)) return c.Fail("the controller did not open the material table");
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  for (const auto& e : entries) {
    const std::string where = "writing material entry " + std::to_string(o.done + 1) + " of " +
                              std::to_string(o.total) + " (" + *MaterialWord(e.material) + " " +
                              e.values[0] + ")";
    // An "NST" that got no answer counts as "no such entry": the entry is
    // created all the same, and a controller that is really gone shows on
    // the exchanges after it.
    const bool found = c.Send(MaterialSelectCommand(e), reply) && BackupStatus(reply) == '0';
    if (found && !c.Send("ND", reply) && c.Silent()) return c.Fail(where);
    if (!c.Send(MaterialCreateCommand(e), reply) && c.Silent()) return c.Fail(where);
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
  }
  c.Send("NL-", reply);
  o.complete = true;
}

void RestoreParts(Conversation& c, const XMLDocument& doc, float version, SectionOutcome& o,
                  const BackupProgress& progress) {
  const auto parts = WalkParts(doc, o.skipped);
  o.total = static_cast<int>(parts.size());
  std::string reply;
  if (!c.Expect("PL+", reply)) return c.Fail("the controller did not open the part library");
  Emit(progress, BackupEvent::Kind::SectionStarted, o);
  const bool shearKnown = version >= 3.2f;
  for (const auto& p : parts) {
    const std::string where = "writing part " + std::to_string(o.done + 1) + " of " +
                              std::to_string(o.total) + " (" + p.name + ")";
    int asks = 0;
    bool found = false;
    for (;;) {
      if (!c.Send(PartSelectCommand(p), reply)) {
        if (c.Silent()) return c.Fail(where);
        break;
      }
      const char s = BackupStatus(reply);
      if (s == '9' && ++asks < kMaxBusyRepeats) continue;
      if (s == '9') {
        c.Refused(PartSelectCommand(p), reply);
        return c.Fail(where + " (controller still busy after " + std::to_string(asks) + " asks)");
      }
      found = s == '0';
      break;
    }
    if (found && !c.Send("PD", reply) && c.Silent()) return c.Fail(where);
    if (!c.Send(PartCreateCommand(p), reply) && c.Silent()) return c.Fail(where);
    if (!c.Send(PartFileCommand(p), reply) && c.Silent()) return c.Fail(where);
    int shears = 0;
    for (const auto& b : p.bends) {
      if (b.code == kShearCode && !shearKnown) {
        ++shears;
        continue;
      }
      if (!c.Send(BendCommand(b), reply) && c.Silent()) return c.Fail(where);
    }
    if (shears > 0) {
      o.skipped.push_back("part " + p.name + ": " + std::to_string(shears) +
                          " Shear bend(s) left out (controller protocol below 3.2)");
    }
    ++o.done;
    Emit(progress, BackupEvent::Kind::Record, o);
  }
  c.Send("PL-", reply);
  o.complete = true;
}

// A section after the controller went silent is not tried: each of its
// exchanges would only wait out its time-out.
SectionOutcome NotStarted(char selector) {
  SectionOutcome o;
  o.section = selector;
  o.linkLost = true;
  o.failure = "not started, the controller had stopped answering";
  return o;
}

SectionOutcome NotStartedStopped(char selector) {
  SectionOutcome o;
  o.section = selector;
  o.stopped = true;
  o.failure = "not started, the run was stopped";
  return o;
}

bool StopSet(const StopToken& stop) { return stop.StopRequested(); }

std::string Join(const std::vector<std::string>& lines, const std::string& indent) {
  std::string s;
  for (const auto& l : lines) s += indent + l + "\n";
  return s;
}

}  // namespace

std::string SectionTitle(char selector) {
  switch (selector) {
    case kSelectorSetup: return "Settings";
    case kSelectorMaterials: return "Materials";
    case kSelectorParts: return "Parts";
  }
  return std::string(1, selector);
}

bool RunSummary::Success() const {
  if (!fileProblem.empty() || identityMissing) return false;
  for (const auto& s : sections) {
    if (!s.complete) return false;
  }
  return true;
}

bool RunSummary::Stopped() const {
  for (const auto& s : sections) {
    if (s.stopped) return true;
  }
  return false;
}

bool RunSummary::LinkLost() const {
  if (identityMissing) return true;
  for (const auto& s : sections) {
    if (s.linkLost) return true;
  }
  return false;
}

bool RunSummary::NothingDone() const { return !fileProblem.empty() && sections.empty(); }

int RunSummary::BadChecksums() const {
  int n = identityBadChecksums;
  for (const auto& s : sections) n += s.badChecksums;
  return n;
}

ResultCode RunSummary::Result() const {
  if (Success()) return rc::kSuccess;
  if (Stopped()) return rc::kStoppedByProgram;
  if (!fileProblem.empty()) return saving ? rc::kCantWriteOutput : rc::kCantOpenInput;
  if (LinkLost()) return rc::kLinkLost;
  return rc::kUnrecognizedResponse;
}

std::string RunSummary::Text() const {
  std::ostringstream t;
  std::vector<std::string> skipped;
  for (const auto& s : sections) {
    for (const auto& k : s.skipped) skipped.push_back(SectionTitle(s.section) + ": " + k);
  }
  if (Success()) {
    t << (saving ? "Save completed successfully" : "Load completed successfully");
  } else {
    t << (reading ? "The controller could not be read completely."
          : saving ? "The save did not complete."
                   : "The load did not complete.");
    if (!fileProblem.empty()) t << "\n" << fileProblem;
    if (LinkLost() && !port.empty()) t << "\nThe controller on " << port << " did not answer.";
    if (identityMissing) t << "\nIdentity: not read, the controller did not answer.";
    for (const auto& s : sections) {
      t << "\n" << SectionTitle(s.section) << ": " << s.done << " of " << s.total << " records "
        << (saving ? "saved" : "sent");
      if (s.complete) {
        t << " (complete)";
      } else {
        t << " - INCOMPLETE, " << s.failure;
      }
    }
    if (!partialFile.empty()) {
      t << "\nWhat was gathered is kept in " << partialFile << "; " << file
        << (fileExisted ? " is left as it was." : " was not created.");
    }
  }
  if (const int bad = BadChecksums(); bad > 0) {
    t << "\n" << bad << (bad == 1 ? " reply" : " replies")
      << " had a checksum that did not match (taken as received).";
  }
  if (!skipped.empty()) t << "\n\nNot transferred:\n" << Join(skipped, "  ");
  std::string text = t.str();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

float ProtocolVersionOf(const std::string& payload) {
  const std::string third = BackupField(SplitBackupFields(payload), 3);
  return third.empty() ? 0.0f : std::strtof(third.c_str(), nullptr);
}

bool CheckBackupConnection(CommPort& port, Operator* op, float& protocolVersion) {
  return CheckBackupConnectionFor(port, op, protocolVersion) == Connection::Ok;
}

Connection CheckBackupConnectionFor(CommPort& port, Operator* op, float& protocolVersion, const Clock& clock) {
  std::string reply;
  if (!ExchangeBackupCommand(port, "vX", reply, nullptr, clock)) {
    if (op != nullptr) op->ShowMessage(kConnectText);
    return Connection::NoAnswer;
  }
  const std::string model = reply.substr(0, 5);
  if (model != "RQ750") {
    if (op != nullptr) {
      op->ShowMessage(std::string("This feature is currently only available on the RQ750 model.") +
                      "\nCurrent model string: " + model);
    }
    return Connection::WrongModel;
  }
  protocolVersion = ProtocolVersionOf(reply);
  return Connection::Ok;
}

bool ReadControllerInfo(CommPort& port, ControllerInfo& info, const Clock& clock, int* badChecksums) {
  std::string reply;
  bool checksumOk = true;
  if (!ExchangeBackupCommand(port, "vX", reply, nullptr, clock, kBackupReplyTimeoutMs, &checksumOk)) return false;
  if (!checksumOk && badChecksums != nullptr) ++*badChecksums;
  if (!((reply.size() > 0 && reply[0] == 'R') || (reply.size() > 1 && reply[1] == 'Q'))) return false;
  const auto fields = SplitBackupFields(reply);
  info.modelVersion = BackupField(fields, 1);
  info.modelNumber = BackupField(fields, 2);
  info.uartVersion = BackupField(fields, 3);
  return true;
}

SectionOutcome GatherSection(CommPort& port, char selector, XMLDocument& doc, const BackupProgress& progress,
                             const Clock& clock, const StopToken& stop) {
  SectionOutcome o;
  o.section = selector;
  Conversation c(port, o, clock, stop);
  switch (selector) {
    case kSelectorSetup: GatherSetup(c, OpenSection(doc, kSetup), o, progress); break;
    case kSelectorMaterials: GatherMaterials(c, OpenSection(doc, kMaterialTable), o, progress); break;
    case kSelectorParts: GatherParts(c, OpenSection(doc, kPartLibrary), o, progress); break;
    default: o.failure = "unknown section"; return o;
  }
  Emit(progress, BackupEvent::Kind::SectionFinished, o);
  return o;
}

SectionOutcome RestoreSection(CommPort& port, char selector, const XMLDocument& doc, float protocolVersion,
                              const BackupProgress& progress, const Clock& clock, const StopToken& stop) {
  SectionOutcome o;
  o.section = selector;
  Conversation c(port, o, clock, stop);
  switch (selector) {
    case kSelectorSetup: RestoreSetup(c, doc, o, progress); break;
    case kSelectorMaterials: RestoreMaterials(c, doc, o, progress); break;
    case kSelectorParts: RestoreParts(c, doc, protocolVersion, o, progress); break;
    default: o.failure = "unknown section"; return o;
  }
  Emit(progress, BackupEvent::Kind::SectionFinished, o);
  return o;
}

std::vector<char> SectionChoice::Selectors() const {
  std::vector<char> s;
  if (settings) s.push_back(kSelectorSetup);
  if (parts) s.push_back(kSelectorParts);
  if (materials) s.push_back(kSelectorMaterials);
  return s;
}

RunSummary RunSave(CommPort& port, const std::string& path, SectionChoice choice, const BackupProgress& progress,
                   const Clock& clock, const StopToken& stop) {
  RunSummary summary;
  summary.saving = true;
  summary.file = path;
  summary.port = port.PortName();
  std::string reason;
  // A link is written through to the file it names; a device, FIFO or
  // folder is never replaced by a backup.
  const std::string target = platform::ResolveOutputPath(path, {}, &reason);
  if (target.empty()) {
    summary.fileProblem = path + " cannot be written (" + reason + "); nothing was saved.";
    return summary;
  }
  XMLDocument doc;
  std::string error;
  const FileState state = LoadBackupFile(target, doc, error);
  if (state == FileState::Unreadable || state == FileState::NotABackup) {
    summary.fileProblem = path + " exists but is not a readable backup (" + error +
                          "); it was left unchanged and nothing was saved.";
    return summary;
  }
  summary.fileExisted = state == FileState::Loaded;
  // Nothing is written under PATH until the whole save is through: a save
  // that stops part-way must not replace a good backup with a part of one.
  const std::string partial = path + ".partial";
  const auto keepPartial = [&] {
    if (!SaveBackupFile(doc, partial, error)) {
      summary.fileProblem = error;
      return false;
    }
    summary.partialFile = partial;
    return true;
  };
  ControllerInfo info;
  if (StopSet(stop)) {
    // Stopped before anything was asked: the sections below say so.
  } else if (ReadControllerInfo(port, info, clock, &summary.identityBadChecksums)) {
    WriteIdentity(doc, info);
  } else {
    summary.identityMissing = true;
  }
  for (const char s : choice.Selectors()) {
    if (summary.LinkLost()) {
      summary.sections.push_back(NotStarted(s));
      continue;
    }
    if (StopSet(stop)) {
      summary.sections.push_back(NotStartedStopped(s));
      continue;
    }
    summary.sections.push_back(GatherSection(port, s, doc, progress, clock, stop));
    if (!keepPartial()) return summary;
  }
  if (!summary.Success()) {
    if (summary.partialFile.empty()) keepPartial();
    return summary;
  }
  if (!SaveBackupFile(doc, target, error)) {
    summary.fileProblem = error;
    if (summary.partialFile.empty()) keepPartial();
    return summary;
  }
  summary.partialFile.clear();
  std::error_code ec;
  std::filesystem::remove(partial, ec);
  return summary;
}

RunSummary RunLoad(CommPort& port, const std::string& path, SectionChoice choice, float protocolVersion,
                   const BackupProgress& progress, const Clock& clock, const StopToken& stop) {
  RunSummary summary;
  summary.saving = false;
  summary.file = path;
  XMLDocument doc;
  std::string error;
  summary.port = port.PortName();
  const FileState state = LoadBackupFile(path, doc, error);
  if (state != FileState::Loaded) {
    summary.fileProblem = LoadProblemText(path, state, error) + "; nothing was sent.";
    return summary;
  }
  for (const char s : choice.Selectors()) {
    summary.sections.push_back(summary.LinkLost() ? NotStarted(s)
                               : StopSet(stop)    ? NotStartedStopped(s)
                                                  : RestoreSection(port, s, doc, protocolVersion, progress, clock, stop));
  }
  return summary;
}

RunSummary ReadController(CommPort& port, XMLDocument& doc, SectionChoice choice, const BackupProgress& progress,
                          const Clock& clock, const StopToken& stop) {
  RunSummary summary;
  summary.saving = true;
  summary.reading = true;
  summary.port = port.PortName();
  doc.Clear();
  ControllerInfo info;
  if (ReadControllerInfo(port, info, clock, &summary.identityBadChecksums)) {
    WriteIdentity(doc, info);
  } else {
    summary.identityMissing = true;
  }
  for (const char s : choice.Selectors()) {
    summary.sections.push_back(summary.LinkLost() ? NotStarted(s)
                               : StopSet(stop)    ? NotStartedStopped(s)
                                                  : GatherSection(port, s, doc, progress, clock, stop));
  }
  return summary;
}

int LoadChanges::Total() const {
  int n = 0;
  for (const auto& s : sections) n += s.added + s.changed;
  return n;
}

LoadChanges ChangesOfLoad(const XMLDocument& controller, const XMLDocument& file, SectionChoice choice) {
  LoadChanges changes;
  for (const char s : choice.Selectors()) {
    LoadChanges::Counts counts;
    counts.section = s;
    for (const auto& line : DiffBackups(controller, file, SectionNames({s})).lines) {
      if (line.change == DiffLine::Change::Added) ++counts.added;
      if (line.change == DiffLine::Change::Changed) ++counts.changed;
    }
    changes.sections.push_back(counts);
  }
  return changes;
}

std::string LoadQuestion(const std::string& file, const LoadChanges& changes) {
  std::ostringstream t;
  t << "Load Data writes " << file << " into the controller:";
  for (const auto& s : changes.sections) {
    t << "\n  " << SectionTitle(s.section) << ": ";
    if (s.added == 0 && s.changed == 0) {
      t << "no change";
    } else {
      t << s.added << " added, " << s.changed << " changed";
    }
  }
  t << "\nWhat the controller holds now is overwritten.  Would you like to proceed?";
  return t.str();
}

std::string VersionQuestion(const std::string& fileVersion, const std::string& controllerVersion) {
  return std::string(
             "The communications protocol version numbers are different between the backup file\n"
             "and the controller.  This could cause this operation to fail.  Would you like to "
             "proceed?\n\n") +
         "Backup version: " + fileVersion + "\n" + "Controller version: " + controllerVersion + "\n";
}

}  // namespace tarnvale::backup
