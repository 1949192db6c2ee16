#pragma once
// The "Data Backup" dialog without its widgets.
//
// While the dialog is open the primary port runs at 38400 8N1; the port's
// own settings are read when the dialog opens and put back when it closes
// (the stored primary settings when they could not be read). Save and load
// are split in two: the operator's part (connection check, file choice,
// version question) runs on the operator's thread; the transfer itself is a
// RunSummary-returning call meant for a worker thread (see BackupJob).

#include <cstdint>
#include <optional>
#include <string>

#include "core/backup/BackupTransfer.h"
#include "core/settings/ConfigData.h"

namespace tarnvale {

class CommPort;
class LinkState;
class Operator;

namespace backup {

inline constexpr const char* kBackupFilter = "Backup Files|*.xml|All Files (*.*)|*.*||";

// A port's current serial settings in the travelling order (name aside);
// nothing for a TCP connection or when they cannot be read.
std::optional<PortParams> ReadSerialSettings(CommPort& port);

// `path` with ".xml" appended when it has no extension.
std::string WithXmlExtension(const std::string& path);

class DataBackupModel {
 public:
  DataBackupModel(LinkState& link, Operator& op);
  ~DataBackupModel();
  DataBackupModel(const DataBackupModel&) = delete;
  DataBackupModel& operator=(const DataBackupModel&) = delete;

  // Remembers the port, reopens it at 38400 8N1 and checks the connection.
  // False: the dialog closes at once (the port is already given back).
  bool Open();
  // Gives the port back with its remembered settings. Safe to call twice.
  void Close();
  bool IsOpen() const { return open_; }

  SectionChoice& Choice() { return choice_; }
  float ProtocolVersion() const { return version_; }
  // What Close will reopen the port with.
  const PortParams& Remembered() const { return remembered_; }
  bool RememberedFromPort() const { return rememberedFromPort_; }

  // Connection check and save file choice; the path, or nothing to stop.
  // With no section ticked it says so and stops: a save of the identity
  // alone is not a backup.
  std::optional<std::string> PrepareSave();
  // Connection check, file choice and the version question (No unless
  // answered Yes); the path, or nothing to stop. Nothing ticked stops too.
  std::optional<std::string> PrepareLoad();
  // What the controller holds now in the ticked sections (worker thread),
  // for the question below.
  RunSummary ReadForLoad(tinyxml2::XMLDocument& controller, const BackupProgress& progress = {},
                         const StopToken& stop = {});
  // Asks, No unless answered Yes, naming what loading `path` would change
  // on the controller read by ReadForLoad. A read that did not complete is
  // reported instead, and nothing is loaded.
  bool ConfirmLoad(const std::string& path, const tinyxml2::XMLDocument& controller, const RunSummary& read);

  // The transfers (worker thread; they do not talk to the operator).
  RunSummary Save(const std::string& path, const BackupProgress& progress = {}, const StopToken& stop = {});
  RunSummary Load(const std::string& path, const BackupProgress& progress = {}, const StopToken& stop = {});

  // The closing message of a run.
  void Report(const RunSummary& summary);

  CommPort& Port();

 private:
  LinkState& link_;
  Operator& op_;
  SectionChoice choice_;
  float version_ = 0.0f;
  PortParams remembered_;
  bool rememberedFromPort_ = false;
  bool open_ = false;
};

}  // namespace backup
}  // namespace tarnvale
