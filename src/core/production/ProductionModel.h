#pragma once
// Everything of the TN835 production dialog ("TN835 Production Programming")
// except its widgets: the fields, the model table, the folders of the two
// generations, and the three "Program ..." sequences that turn an S-record
// file into a stamped flash memory file in the temp folder and program it.
//
//   ProductionModel model(ProductionSources::FromSettings(settings), 4);
//   model.SelectModel(6);                 // generation 4: path follows the model
//   model.SetSerialNumber("..."); model.SetHardwareRevision("B");
//   model.ProgramBoot(link, op, runner);  // then read the fields again
//
// Each run talks to the person only through the Operator, hands the
// programming to the JobRunner (the GUI's progress dialog, the CLI's bar),
// and appends one line to the production log, failed and stopped runs
// included.
//
// Two stations (or two windows) may program two units at once from one
// user temp folder: every run writes its flash memory file into a folder of
// its own there, keeping the file's usual name, programs the image it read
// back from that file, and removes the folder when it ends.
//
// Paths are kept in the stored server form; OpenedXxxPath() is what is
// opened on this system (see SharePath.h), and what the dialog shows.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/flash/Workflows.h"
#include "core/formats/ProductionImage.h"
#include "core/platform/Clock.h"
#include "core/production/ProductionLog.h"
#include "core/programmer/BoxCommands.h"

namespace tarnvale {

class ConfigData;
class LinkState;
class Operator;

namespace production_text {
inline constexpr const char* kDialogTitle = "TN835 Production Programming";
inline constexpr const char* kHeading = "TN835";
inline constexpr const char* kBootNote =
    "The boot image is programmed through the Universal Programmer connected to the JTAG port "
    "(J100) of the 8251 board.";
inline constexpr const char* kApplicationNote =
    "The application image needs an RS-485 converter connected to the controller's encoder "
    "connector.";
inline constexpr const char* kTestNote =
    "The test image needs an RS-485 converter connected to the controller's encoder connector.";
inline constexpr const char* kInvalidSerialPort = "Invalid Serial Port";
inline constexpr const char* kNeedSerial = "You must enter a valid serial number";
inline constexpr const char* kNeedRevision = "You must enter a Hardware Revision";
// The log's result text of a run the program stopped (Ctrl-C, SIGTERM).
inline constexpr const char* kInterrupted = "Interrupted";
inline constexpr const char* kAppTempName = "TN835 Appl.FMF";
inline constexpr const char* kTestTempName = "TN835 Test.FMF";
inline constexpr const char* kBootTempName = "TN835 Boot.FMF";
}  // namespace production_text

// One row of the model list.
struct Tn835Model {
  const char* text;
  const char* code;  // written into the application image, zero-filled to 16 bytes
  const char* folder;
};
inline constexpr std::size_t kTn835ModelCount = 12;
const std::array<Tn835Model, kTn835ModelCount>& Tn835Models();
// The model code of a list index; two spaces for no (or an unknown) selection.
std::string Tn835ModelCode(int index);

// "Invalid JTAG ID 0x%X for TN820, should read 0x%x".
std::string InvalidTn835JtagText(std::uint32_t id);
// "0x%X".
std::string JtagIdField(std::uint32_t id);

// The five production settings, in their stored form.
struct ProductionSources {
  std::string applicationPath;   // folder, ends in a backslash
  std::string applicationFile;
  std::string bootPathAndFile;
  std::string testPathAndFile;   // folder, ends in a backslash
  std::string tempPath;          // the user temp folder (a local path)
  static ProductionSources FromSettings(const ConfigData& settings);
};

struct ProductionOptions {
  EngineTimings timings;
  BoxTimings boxTimings;
  const Clock* clock = nullptr;                     // default: the system clock
  std::optional<std::filesystem::path> logFile;     // default: temp folder + production-log.jsonl
  std::string navNumber;                            // for the record
  std::string shareRoot;                            // default: TARNVALE_SHARE_ROOT or /mnt
  // Reads a source file's build stamp (default: its last-write time).
  std::function<bool(const std::filesystem::path&, BuildStamp&)> readStamp;
};

class ProductionModel {
 public:
  // Generation 4 gives "4", anything else "5".
  ProductionModel(ProductionSources sources, int generation, ProductionOptions options = {});

  const std::string& ProductionVersion() const { return version_; }
  int Generation() const { return version_ == "4" ? 4 : 5; }

  // The model list: index 0 at start. In generation 5 the choice changes no path.
  void SelectModel(int index);
  int ModelIndex() const { return modelIndex_; }

  // The edits: at most 15 and 1 characters, letters in capitals, without
  // the spaces a scanner adds around them.
  void SetSerialNumber(const std::string& text);
  void SetHardwareRevision(const std::string& text);
  const std::string& SerialNumber() const { return serial_; }
  const std::string& HardwareRevision() const { return revision_; }

  // Stored-form paths and the paths opened for them.
  const std::string& ApplicationPath() const { return applicationPath_; }
  const std::string& BootPath() const { return bootPath_; }
  const std::string& TestPath() const { return testPath_; }
  std::string OpenedApplicationPath() const;
  std::string OpenedBootPath() const;
  std::string OpenedTestPath() const;
  // Replace a path outright (line automation); cleared by nothing.
  void OverrideApplicationPath(const std::string& path);
  void OverrideBootPath(const std::string& path);
  void OverrideTestPath(const std::string& path);

  const std::string& BootVersion() const { return bootVersion_; }
  const std::string& ApplicationVersion() const { return applicationVersion_; }
  const std::string& TestVersion() const { return testVersion_; }
  const std::string& JtagIdText() const { return jtagText_; }

  // Called on the run's thread whenever a field the dialog shows changes
  // during a run: the unit's fields cleared as it starts, the JTAG ID as
  // soon as it is read, a version as soon as its image is converted. The
  // dialog shows them then, not only after the run's last message.
  void SetFieldsChanged(std::function<void()> hook) { fieldsChanged_ = std::move(hook); }

  // Station mode: the operator named in every record, and the paths and the
  // model held as they are (SelectModel and the overrides change nothing)
  // so a station cannot drift to another image between units.
  void SetOperatorName(std::string name) { operatorName_ = std::move(name); }
  const std::string& OperatorName() const { return operatorName_; }
  void SetLocked(bool locked) { locked_ = locked; }
  bool Locked() const { return locked_; }

  // "TN835 Appl.FMF", "TN835 Test.FMF" or "TN835 Boot.FMF": the name of a
  // run's flash memory file inside its own folder of the temp folder.
  static const char* TempFileName(ProductionImageKind kind);
  std::filesystem::path LogFile() const;

  // The three buttons. The result is '0' only when the image was programmed;
  // otherwise the code that stopped the run (kStoppedByOperator for a
  // refusal of this dialog's own checks).
  ResultCode ProgramApplication(LinkState& link, Operator& op, JobRunner& runner);
  ResultCode ProgramTest(LinkState& link, Operator& op, JobRunner& runner);
  ResultCode ProgramBoot(LinkState& link, Operator& op, JobRunner& runner);

  // The record of the last run, and the reason its append failed (empty
  // when it was written).
  const ProductionLogRecord& LastRecord() const { return record_; }
  const std::string& LastLogError() const { return logError_; }

 private:
  void RebuildApplicationPath();
  ResultCode ProgramImage(ProductionImageKind kind, LinkState& link, Operator& op,
                          JobRunner& runner);
  ResultCode ConvertAndProgram(ProductionImageKind kind, CommPort& port, Operator& op,
                               JobRunner& runner);
  ResultCode Stop(Operator& op, const std::string& text, ResultCode code);
  // An image step failed: the code's text and what it was about, with the
  // warning icon ShowResult gives a failure.
  ResultCode StopOnImage(Operator& op, ResultCode code, const std::string& detail);
  void FieldsChanged() {
    if (fieldsChanged_) fieldsChanged_();
  }
  // The run's outcome is known: its time ends here (first call counts).
  void MarkEnd();
  void BeginRecord(ProductionImageKind kind);
  void FinishRecord(Operator& op, ResultCode code);
  const Clock& TheClock() const;
  std::string Opened(const std::string& stored) const;

  ProductionSources sources_;
  ProductionOptions options_;
  std::string version_;
  std::string applicationFolder_;
  std::string modelFolder_ = "EF\\";
  int modelIndex_ = 0;
  std::string applicationPath_;
  std::string bootPath_;
  std::string testPath_;
  bool applicationOverridden_ = false;
  std::string serial_;
  std::string revision_;
  std::string bootVersion_;
  std::string applicationVersion_;
  std::string testVersion_;
  std::string jtagText_;

  std::function<void()> fieldsChanged_;
  std::string operatorName_;
  bool locked_ = false;
  std::string lastUnit_;  // the serial number of the last run, whose fields are shown

  ProductionLogRecord record_;
  std::string logError_;
  std::string lastMessage_;
  std::uint32_t startTick_ = 0;
  std::optional<std::uint32_t> endTick_;
};

}  // namespace tarnvale
