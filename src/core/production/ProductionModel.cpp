#include "core/production/ProductionModel.h"

#include <cstdlib>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/formats/TN820HexFile.h"
#include "core/link/CommPort.h"
#include "core/operator/Operator.h"
#include "core/operator/ShowResult.h"
#include "core/production/NavNumber.h"
#include "core/platform/FileAccess.h"
#include "core/production/SharePath.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"

namespace tarnvale {
namespace {

constexpr std::array<Tn835Model, kTn835ModelCount> kModels = {{
    {"EF ( NT835EF Panel Mount )", "EF", "EF\\"},
    {"N ( TN835N Consolet )", "N", "N\\"},
    {"K ( TN835K Consolet )", "K", "K\\"},
    {"B ( TN835B Consolet )", "B", "B\\"},
    {"M ( TN835M Consolet )", "M", "M\\"},
    {"R ( TN835R Consolet)", "R", "R\\"},
    {"PR ( NT835PR Panel Mount)", "PR", "PR\\"},
    {"Z ( TN835Z Consolet )", "Z", "Z\\"},
    {"F ( TN835F Consolet )", "F", "F\\"},
    {"G ( TN835G Consolet )", "G", "G\\"},
    {"TN835 ( Consolet )", "", "TN835\\"},
    {"NT835 ( Panel Mount )", "  ", "NT835\\"},
}};

std::string Capitals(const std::string& entered, std::size_t limit) {
  const std::string text = TrimmedEntry(entered);
  std::string out = text.substr(0, std::min(text.size(), limit));
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

const char* KindName(ProductionImageKind kind) {
  switch (kind) {
    case ProductionImageKind::Boot: return "boot";
    case ProductionImageKind::Test: return "test";
    default: return "application";
  }
}

// One run's own folder in the temp folder, so that runs at the same time
// never share a file; removed with what is in it when the run ends.
class RunFolder {
 public:
  explicit RunFolder(const std::filesystem::path& parent) {
    path_ = platform::MakeUniqueFolder((parent / "tn835-run-XXXXXX").string(), &error_);
  }
  ~RunFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  std::filesystem::path path_;
  std::string error_;
};

// The 32-bit little-endian image sum stored in a loaded image.
std::uint32_t StoredSum(const std::vector<std::uint8_t>& image, ProductionImageKind kind) {
  const std::size_t at =
      kind == ProductionImageKind::Boot ? production::kBootSumOffset : production::kAppSumOffset;
  if (image.size() < at + 4) return 0;
  return image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
         static_cast<std::uint32_t>(image[at + 3]) << 24;
}

}  // namespace

const std::array<Tn835Model, kTn835ModelCount>& Tn835Models() { return kModels; }

std::string Tn835ModelCode(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kModels.size()) return "  ";
  return kModels[static_cast<std::size_t>(index)].code;
}

std::string InvalidTn835JtagText(std::uint32_t id) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Invalid JTAG ID 0x%X for TN820, should read 0x%x", id,
                kTn835JtagId);
  return buf;
}

std::string JtagIdField(std::uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", id);
  return buf;
}

ProductionSources ProductionSources::FromSettings(const ConfigData& s) {
  return {s.GetTN835ApplicationPath(), s.GetTN835ApplicationFile(), s.GetTN835BootPathAndFile(),
          s.GetTN835TestPathAndFile(), s.GetUserTempPath()};
}

ProductionModel::ProductionModel(ProductionSources sources, int generation,
                                 ProductionOptions options)
    : sources_(std::move(sources)),
      options_(std::move(options)),
      version_(generation == 4 ? "4" : "5") {
  if (version_ == "4") {
    applicationFolder_ = sources_.applicationPath + "Ver_4\\";
    testPath_ = sources_.testPathAndFile + "Ver_1\\TN835 Test.elf.S";
  } else {
    applicationFolder_ = sources_.applicationPath + "Ver_5\\";
    testPath_ = sources_.testPathAndFile + "Ver_2\\TN835 Test.elf.S";
  }
  RebuildApplicationPath();
  bootPath_ = sources_.bootPathAndFile;
}

void ProductionModel::RebuildApplicationPath() {
  if (applicationOverridden_) return;
  applicationPath_ = version_ == "4"
                         ? applicationFolder_ + modelFolder_ + sources_.applicationFile
                         : applicationFolder_ + sources_.applicationFile;
}

void ProductionModel::SelectModel(int index) {
  if (locked_) return;
  modelIndex_ = index;
  if (index >= 0 && static_cast<std::size_t>(index) < kModels.size()) {
    modelFolder_ = kModels[static_cast<std::size_t>(index)].folder;
  }
  RebuildApplicationPath();
}

void ProductionModel::SetSerialNumber(const std::string& text) {
  serial_ = Capitals(text, production::kSerialMax);
}
void ProductionModel::SetHardwareRevision(const std::string& text) {
  revision_ = Capitals(text, 1);
}

std::string ProductionModel::Opened(const std::string& stored) const {
  return options_.shareRoot.empty() ? OpenablePath(stored)
                                    : OpenablePath(stored, options_.shareRoot);
}
std::string ProductionModel::OpenedApplicationPath() const { return Opened(applicationPath_); }
std::string ProductionModel::OpenedBootPath() const { return Opened(bootPath_); }
std::string ProductionModel::OpenedTestPath() const { return Opened(testPath_); }

void ProductionModel::OverrideApplicationPath(const std::string& path) {
  if (locked_) return;
  applicationOverridden_ = true;
  applicationPath_ = path;
}
void ProductionModel::OverrideBootPath(const std::string& path) {
  if (!locked_) bootPath_ = path;
}
void ProductionModel::OverrideTestPath(const std::string& path) {
  if (!locked_) testPath_ = path;
}

const char* ProductionModel::TempFileName(ProductionImageKind kind) {
  return kind == ProductionImageKind::Boot   ? production_text::kBootTempName
         : kind == ProductionImageKind::Test ? production_text::kTestTempName
                                             : production_text::kAppTempName;
}

std::filesystem::path ProductionModel::LogFile() const {
  return options_.logFile ? *options_.logFile
                          : std::filesystem::path(sources_.tempPath) / kProductionLogName;
}

const Clock& ProductionModel::TheClock() const {
  return options_.clock != nullptr ? *options_.clock : SystemClock();
}

ResultCode ProductionModel::Stop(Operator& op, const std::string& text, ResultCode code) {
  MarkEnd();
  lastMessage_ = text;
  op.ShowMessage(text);
  return code;
}

ResultCode ProductionModel::StopOnImage(Operator& op, ResultCode code, const std::string& detail) {
  MarkEnd();
  const ResultMessage message = MakeResultMessage(code);
  lastMessage_ = message.text + "\n\n" + detail;
  op.ShowMessage(lastMessage_, message.icon);
  return code;
}

void ProductionModel::MarkEnd() {
  if (!endTick_) endTick_ = TheClock().TickMs();
}

void ProductionModel::BeginRecord(ProductionImageKind kind) {
  record_ = ProductionLogRecord{};
  logError_.clear();
  lastMessage_.clear();
  startTick_ = TheClock().TickMs();
  endTick_.reset();
  record_.time = IsoUtcTime(std::time(nullptr));
  record_.station = StationName();
  record_.generation = version_;
  record_.navNumber = options_.navNumber;
  record_.imageKind = KindName(kind);
  if (kind == ProductionImageKind::Application) {
    record_.modelCode = Tn835ModelCode(modelIndex_);
    if (modelIndex_ >= 0 && static_cast<std::size_t>(modelIndex_) < kModels.size()) {
      record_.modelText = kModels[static_cast<std::size_t>(modelIndex_)].text;
    }
  }
  // Every image is tied to the unit the operator (or --serial) named, not
  // only the boot image that carries the serial number.
  record_.serialNumber = serial_;
  record_.hardwareRevision = revision_;
  record_.operatorName = operatorName_;
  // What the dialog shows of a unit belongs to it: another unit's fields go
  // as its first run starts, and a run's own fields go before it fills them
  // again, so a failed run never leaves the last run's texts behind.
  if (serial_ != lastUnit_) {
    jtagText_.clear();
    bootVersion_.clear();
    applicationVersion_.clear();
    testVersion_.clear();
    lastUnit_ = serial_;
  }
  (kind == ProductionImageKind::Boot   ? bootVersion_
   : kind == ProductionImageKind::Test ? testVersion_
                                       : applicationVersion_)
      .clear();
  if (kind == ProductionImageKind::Boot) jtagText_.clear();
  FieldsChanged();
  const std::string& stored = kind == ProductionImageKind::Boot   ? bootPath_
                              : kind == ProductionImageKind::Test ? testPath_
                                                                  : applicationPath_;
  record_.sourcePath = Opened(stored);
}

void ProductionModel::FinishRecord(Operator& op, ResultCode code) {
  MarkEnd();
  record_.result = code;
  record_.resultText = code == rc::kSuccess ? ResultText(rc::kSuccess) : lastMessage_;
  if (code == rc::kStoppedByProgram) record_.resultText = production_text::kInterrupted;
  if (record_.resultText.empty()) record_.resultText = ResultText(code);
  // The programming's own time: the result box shown after it stays open as
  // long as the operator likes.
  record_.elapsedSeconds = (*endTick_ - startTick_) / 1000.0;
  logError_ = AppendProductionLog(LogFile(), record_);
  if (!logError_.empty()) op.ShowMessage(logError_, MessageIcon::Exclamation);
}

namespace {

// ":LINE (REASON)" after a file's name, as far as the reader said.
std::string WhereInFile(const FileFailure& failure) {
  return (failure.line != 0 ? ":" + std::to_string(failure.line) : std::string()) +
         (failure.reason.empty() ? std::string() : " (" + failure.reason + ")");
}

}  // namespace

ResultCode ProductionModel::ConvertAndProgram(ProductionImageKind kind, CommPort& port,
                                              Operator& op, JobRunner& runner) {
  const bool boot = kind == ProductionImageKind::Boot;
  const std::string& stored = boot                               ? bootPath_
                              : kind == ProductionImageKind::Test ? testPath_
                                                                  : applicationPath_;
  if (const std::string problem = SharePathProblem(stored); !problem.empty()) {
    return Stop(op, problem, rc::kCantOpenInput);
  }
  const RunFolder folder(sources_.tempPath);
  if (folder.Path().empty()) {
    return StopOnImage(op, rc::kCantOpenOutput, sources_.tempPath + ": " + folder.Error());
  }
  const std::filesystem::path temp = folder.Path() / TempFileName(kind);

  ProductionImageOptions image;
  image.kind = kind;
  image.readStamp = options_.readStamp;
  if (kind == ProductionImageKind::Application) image.modelCode = Tn835ModelCode(modelIndex_);
  if (boot) {
    image.serialNumber = serial_;
    image.hardwareRevision = revision_.empty() ? '\0' : revision_[0];
  }
  const std::string source = record_.sourcePath;
  std::string version;
  std::filesystem::path written;
  ProductionImageFacts facts;
  FileFailure failure;
  const ResultCode converted =
      ConvertProductionImage(source, temp, image, version, &written, &failure, &facts);
  if (converted == rc::kCantOpenOutput || converted == rc::kCantWriteOutput) {
    // The image was read and stamped; only its flash memory file failed.
    record_.stamp = facts.stamp;
    record_.imageSum = facts.imageSum;
    record_.version = version;
    return StopOnImage(op, converted, temp.string());
  }
  if (converted != rc::kFileOk) {
    // Where in the file and why, for a file cut short or run together.
    return StopOnImage(op, converted, source + WhereInFile(failure));
  }
  record_.stamp = facts.stamp;
  record_.imageSum = facts.imageSum;
  record_.version = version;
  (boot ? bootVersion_ : kind == ProductionImageKind::Test ? testVersion_ : applicationVersion_) =
      version;
  FieldsChanged();

  ProgrammingRequest request;
  request.port = &port;
  request.mode = kModeProgramFlash;
  request.target = boot ? Target::Tn835Jtag : Target::Tn835;
  request.path = written.empty() ? temp.string() : written.string();
  request.layoutMode = boot ? 1 : 2;
  request.timings = options_.timings;
  if (!facts.droppedText.empty()) request.imageWarning = source + ": " + facts.droppedText;
  // What is programmed is what this run wrote and logs: the file is read
  // back here, its stored sum checked against the one just stamped, and the
  // image itself handed to the programming.
  LoadedImage loaded = LoadImage(request);
  if (!loaded.file) {
    const ResultCode code = loaded.code != rc::kFileOk ? loaded.code : rc::kCantOpenInput;
    return StopOnImage(op, code, request.path + WhereInFile(loaded.failure));
  }
  if (StoredSum(loaded.file->ImageBytes(), kind) != facts.imageSum) {
    return StopOnImage(op, rc::kErrorInHexFile, request.path);
  }
  request.image = std::move(loaded.file);
  request.onOutcome = [this] { MarkEnd(); };
  const ResultCode result = runner.RunProgramming(request);
  if (result != rc::kSuccess) lastMessage_ = ResultText(result);
  return result;
}

ResultCode ProductionModel::ProgramImage(ProductionImageKind kind, LinkState& link, Operator& op,
                                         JobRunner& runner) {
  BeginRecord(kind);
  // After "Program Boot" the programmer port is open and the primary port
  // closed: the primary link is opened again for the controller's images
  // before anything is sent, or the erase would go nowhere.
  ResultCode code = rc::kSuccess;
  if (link.SelectTarget(Target::Tn835) != rc::kSuccess || link.PrimaryPort() == nullptr) {
    // The person is told which port and why; the log keeps its fixed text.
    code = Stop(op, std::string(production_text::kInvalidSerialPort) + ": " + link.OpenFailure(PortRole::Primary),
                rc::kPortOpenFailed);
    lastMessage_ = production_text::kInvalidSerialPort;
  } else {
    link.PrimaryPort()->Purge();
    code = ConvertAndProgram(kind, *link.PrimaryPort(), op, runner);
  }
  FinishRecord(op, code);
  return code;
}

ResultCode ProductionModel::ProgramApplication(LinkState& link, Operator& op, JobRunner& runner) {
  return ProgramImage(ProductionImageKind::Application, link, op, runner);
}

ResultCode ProductionModel::ProgramTest(LinkState& link, Operator& op, JobRunner& runner) {
  return ProgramImage(ProductionImageKind::Test, link, op, runner);
}

ResultCode ProductionModel::ProgramBoot(LinkState& link, Operator& op, JobRunner& runner) {
  BeginRecord(ProductionImageKind::Boot);
  const auto finish = [&](ResultCode code) {
    FinishRecord(op, code);
    return code;
  };
  if (const ResultCode r = link.SelectTarget(Target::Tn835Jtag); r != rc::kSuccess) {
    return finish(Stop(op, box_text::kBoxUnreachable, r));
  }
  if (link.ProgrammerPort() == nullptr) {
    return finish(Stop(op, production_text::kInvalidSerialPort, rc::kPortOpenFailed));
  }
  if (link.PrimaryPort() != nullptr) link.PrimaryPort()->Purge();
  if (serial_.empty()) return finish(Stop(op, production_text::kNeedSerial, kStoppedByOperator));
  if (revision_.empty()) {
    return finish(Stop(op, production_text::kNeedRevision, kStoppedByOperator));
  }
  if (const ResultCode r = link.SelectTarget(Target::Tn835Jtag); r != rc::kSuccess) {
    return finish(Stop(op, box_text::kBoxUnreachable, r));
  }
  std::uint32_t id = 0;
  BoxLink box(*link.ProgrammerPort(), options_.boxTimings, TheClock());
  const ResultCode check = box.CheckTn835Id(id);
  jtagText_ = JtagIdField(id);
  FieldsChanged();  // shown before the message about it
  // With no reply at all there is no ID to keep in the record.
  if (check != rc::kTooFewBytes) record_.jtagId = id;
  // No whole reply is no ID at all, not an ID of 0.
  if (check == rc::kTooFewBytes) return finish(Stop(op, box.NoJtagIdText(), check));
  if (check != rc::kSuccess) return finish(Stop(op, InvalidTn835JtagText(id), check));
  return finish(ConvertAndProgram(ProductionImageKind::Boot, *link.ProgrammerPort(), op, runner));
}

}  // namespace tarnvale
