#include "core/backup/DataBackupModel.h"

#include <filesystem>
#include <utility>

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "core/operator/Operator.h"
#include "core/platform/SerialDevice.h"
#include "core/roles/PortRoles.h"

namespace tarnvale::backup {

std::optional<PortParams> ReadSerialSettings(CommPort& port) {
  if (!port.IsOpen() || port.IsTcp()) return std::nullopt;
  const auto line = platform::ReadLineSettings(port.Descriptor());
  if (!line) return std::nullopt;
  PortParams p;
  p.name = port.PortName();
  p.baudRate = line->baud;
  p.byteSize = line->byteSize;
  p.parity = static_cast<std::uint8_t>(line->parity);
  p.stopBits = static_cast<std::uint8_t>(line->stopBits);
  return p;
}

std::string WithXmlExtension(const std::string& path) {
  if (std::filesystem::path(path).has_extension()) return path;
  return path + ".xml";
}

DataBackupModel::DataBackupModel(LinkState& link, Operator& op) : link_(link), op_(op) {}

DataBackupModel::~DataBackupModel() { Close(); }

CommPort& DataBackupModel::Port() { return link_.EnsurePrimaryPort(); }

bool DataBackupModel::Open() {
  CommPort& port = Port();
  std::string name = port.IsOpen() && !port.IsTcp() ? port.PortName() : link_.PrimaryPortName();
  if (name.empty()) name = link_.Settings().PrimaryPortParams().name;
  const auto current = ReadSerialSettings(port);
  rememberedFromPort_ = current.has_value();
  // Settings that cannot be read (a TCP link, a closed port) fall back to
  // the stored primary settings, so the terminal still gets its own link back.
  remembered_ = current ? *current : link_.Settings().PrimaryPortParams();
  remembered_.name = current ? name : remembered_.name;
  port.Close();
  open_ = true;
  if (!port.Open(name, kBackupBaudRate, platform::Parity::None, 8, platform::StopBits::One)) {
    op_.ShowMessage(
        "Couldn't connect to controller.  Please check the connection and try again.\n"
        "If already connected, make sure the controller is in Data Backup mode.");
    Close();
    return false;
  }
  if (!CheckBackupConnection(port, &op_, version_)) {
    Close();
    return false;
  }
  return true;
}

void DataBackupModel::Close() {
  if (!open_) return;
  open_ = false;
  CommPort& port = Port();
  port.Close();
  if (OpenWith(port, remembered_)) {
    link_.SetPrimaryOpened(remembered_.name, remembered_.baudRate);
  }
}

namespace {

constexpr const char* kNothingTicked = "No section is ticked: tick Settings, Parts or Materials to choose what to ";

}  // namespace

std::optional<std::string> DataBackupModel::PrepareSave() {
  if (choice_.Selectors().empty()) {
    op_.ShowMessage(std::string(kNothingTicked) + "save.", MessageIcon::Exclamation);
    return std::nullopt;
  }
  if (!CheckBackupConnection(Port(), &op_, version_)) return std::nullopt;
  const auto chosen = op_.ChooseSaveFile(kBackupFilter);
  if (!chosen || chosen->empty()) return std::nullopt;
  return WithXmlExtension(*chosen);
}

std::optional<std::string> DataBackupModel::PrepareLoad() {
  if (choice_.Selectors().empty()) {
    op_.ShowMessage(std::string(kNothingTicked) + "load.", MessageIcon::Exclamation);
    return std::nullopt;
  }
  if (!CheckBackupConnection(Port(), &op_, version_)) return std::nullopt;
  const auto chosen = op_.ChooseOpenFile(kBackupFilter);
  if (!chosen || chosen->empty()) return std::nullopt;
  const std::string path = WithXmlExtension(*chosen);
  tinyxml2::XMLDocument doc;
  std::string error;
  const FileState state = LoadBackupFile(path, doc, error);
  if (state != FileState::Loaded) {
    // Nothing could be sent from it: say so instead of asking about versions.
    op_.ShowMessage(state == FileState::Missing
                        ? "The backup file " + path + " does not exist.\nNothing was sent."
                    : state == FileState::NotABackup
                        ? "The file " + path + " is not a backup (" + error + ").\nNothing was sent."
                        : "The backup file " + path + " could not be read (" + error + ").\nNothing was sent.",
                    MessageIcon::Exclamation);
    return std::nullopt;
  }
  ControllerInfo controller;
  if (!ReadControllerInfo(Port(), controller)) {
    op_.ShowMessage("The controller on " + Port().PortName() + " did not answer.\nNothing was sent.",
                    MessageIcon::Exclamation);
    return std::nullopt;
  }
  const ControllerInfo file = ReadIdentity(doc);
  if (file.uartVersion != controller.uartVersion &&
      !op_.AskYesNoDefaultNo(VersionQuestion(file.uartVersion, controller.uartVersion))) {
    return std::nullopt;
  }
  return path;
}

RunSummary DataBackupModel::ReadForLoad(tinyxml2::XMLDocument& controller, const BackupProgress& progress,
                                        const StopToken& stop) {
  return ReadController(Port(), controller, choice_, progress, SystemClock(), stop);
}

bool DataBackupModel::ConfirmLoad(const std::string& path, const tinyxml2::XMLDocument& controller,
                                  const RunSummary& read) {
  if (!read.Success()) {
    op_.ShowMessage(read.Text() + "\nNothing was sent.", MessageIcon::Exclamation);
    return false;
  }
  tinyxml2::XMLDocument file;
  std::string error;
  if (LoadBackupFile(path, file, error) != FileState::Loaded) {
    op_.ShowMessage("The backup file " + path + " could not be read again (" + error + ").\nNothing was sent.",
                    MessageIcon::Exclamation);
    return false;
  }
  return op_.AskYesNoDefaultNo(LoadQuestion(path, ChangesOfLoad(controller, file, choice_)));
}

RunSummary DataBackupModel::Save(const std::string& path, const BackupProgress& progress, const StopToken& stop) {
  return RunSave(Port(), path, choice_, progress, SystemClock(), stop);
}

RunSummary DataBackupModel::Load(const std::string& path, const BackupProgress& progress, const StopToken& stop) {
  return RunLoad(Port(), path, choice_, version_, progress, SystemClock(), stop);
}

void DataBackupModel::Report(const RunSummary& summary) {
  op_.ShowMessage(summary.Text(), summary.Success() ? MessageIcon::None : MessageIcon::Exclamation);
}

}  // namespace tarnvale::backup
