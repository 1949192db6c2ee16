#include "core/flash/LoadMemoryModel.h"

#include <cstdio>

#include "core/link/CommPort.h"
#include "core/platform/FileAccess.h"
#include "core/platform/SystemFacts.h"
#include "core/protocol/Util.h"
#include "core/operator/Operator.h"
#include "core/operator/ShowResult.h"

namespace tarnvale {

std::string FormatElapsed(std::uint32_t seconds) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d Min. %d Sec.", static_cast<int>((seconds / 60) % 60),
                static_cast<int>(seconds % 60));
  return buf;
}

std::string FormatLastModified(const std::tm& t) {
  const int hour = t.tm_hour > 12 ? t.tm_hour - 12 : t.tm_hour;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%d  @  %02d:%02d:%02d %s", t.tm_mon + 1, t.tm_mday,
                t.tm_year + 1900, hour, t.tm_min, t.tm_sec, t.tm_hour < 12 ? "AM" : "PM");
  return buf;
}

std::string LastModifiedText(const std::string& path) {
  const auto facts = platform::StatFile(path);
  std::tm local{};
  if (!facts || !platform::LocalTime(facts->lastWrite, &local)) return {};
  return FormatLastModified(local);
}

std::string FileNameOnly(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string RecordsProcessedText(std::uint32_t done, std::uint32_t total) {
  return "Records " + std::to_string(done) + " of " + std::to_string(total) + " processed";
}

std::string RecordsWrittenText(std::uint32_t done) {
  return std::to_string(done) + " Records successfully written!";
}

std::string EraseErrorText(std::uint8_t reply) { return "Erase Error - " + std::to_string(reply); }

LoadMemoryModel::LoadMemoryModel(ProgrammingRequest request, LoadMemoryView& view, Operator& op,
                                 const Clock& clock)
    : request_(std::move(request)), view_(view), op_(op), clock_(clock) {}

LoadMemoryModel::~LoadMemoryModel() { Wait(); }

std::uint32_t LoadMemoryModel::Seconds(std::uint32_t sinceTick) const {
  return (clock_.TickMs() - sinceTick) / 1000;
}

void LoadMemoryModel::Open() {
  view_.SetFileName({});
  view_.SetLastModified({});
  view_.SetEraseTime({});
  view_.SetProgramTime({});
  view_.SetStatus({});
  view_.SetProgress(0);
  view_.ShowRunOnCompletion(request_.mode != kModeProgramFlash);
}

bool LoadMemoryModel::Begin(ProgrammingEvents* sink) {
  const bool flash = request_.mode == kModeProgramFlash;
  view_.SetTitle(flash ? std::string(Info(request_.target).dialogTitle) : load_text::kTitleLoad);
  if (request_.path.empty()) {
    const std::string filter =
        flash ? std::string(Info(request_.target).fileFilter) : load_text::kFilterDownload;
    const auto chosen = op_.ChooseOpenFile(filter);
    if (!chosen || chosen->empty()) {
      result_ = kCancelled;
      view_.Close();
      return false;
    }
    request_.path = *chosen;
  }
  view_.SetFileName(FileNameOnly(request_.path));
  view_.SetLastModified(LastModifiedText(request_.path));
  if (!LoadImageFirst()) {
    view_.Close();
    return false;
  }

  if (!flash) {
    view_.SetEraseTime(load_text::kNotApplicable);
    programStart_ = clock_.TickMs();
    view_.SetStatus(load_text::kStartProgramming);
  }
  // The flash-revision exchange, the erase and the stream are one run on
  // the engine's thread: the caller never waits on the device.
  engine_ = std::make_unique<ProgrammingEngine>(request_, sink ? *sink : *this, clock_);
  engine_->SetExitHook(exitHook_);
  engine_->Start(flash);
  return true;
}

void LoadMemoryModel::OnEraseStarted() { view_.SetStatus(load_text::kErasing); }

void LoadMemoryModel::OnEraseWaited(std::uint32_t seconds) {
  view_.SetEraseTime(FormatElapsed(seconds));
  view_.EraseWaited(seconds);
}

void LoadMemoryModel::OnEraseEnded(const EraseOutcome& erase) {
  using Kind = EraseOutcome::Kind;
  eraseFailed_ = erase.kind != Kind::Erased;
  if (eraseFailed_) OutcomeKnown();
  if (erase.kind != Kind::Stopped) view_.SetStatus(load_text::kEraseEnded);
  switch (erase.kind) {
    case Kind::ShortWrite:
      result_ = rc::kTooFewBytes;
      ShowResult(op_, result_);
      break;
    case Kind::Stopped:
      result_ = rc::kStoppedByProgram;
      break;
    case Kind::LinkLost:
      result_ = rc::kLinkLost;
      ShowResult(op_, result_);
      break;
    case Kind::Timeout:
      result_ = rc::kTimeout;
      op_.ShowMessage(load_text::kEraseTimeout);
      break;
    case Kind::Error:
      result_ = rc::kEraseError;
      op_.ShowMessage(EraseErrorText(erase.reply));
      break;
    case Kind::Erased:
      view_.SetEraseTime(FormatElapsed(erase.elapsedSeconds));
      programStart_ = clock_.TickMs();
      view_.SetStatus(load_text::kStartProgramming);
      break;
  }
}

bool LoadMemoryModel::EraseStopRequested() { return view_.StopRequested(); }

bool LoadMemoryModel::VerifyRequested() { return view_.VerifyAfterProgramming(); }

bool LoadMemoryModel::LoadImageFirst() {
  if (request_.image) return true;
  // The whole file is read and checked before anything reaches the device:
  // a mistyped name, a damaged record or a FIFO must never leave a chip or a
  // boot flash erased with nothing to program into it.
  std::string reason;
  std::FILE* in = platform::OpenInputFile(request_.path, platform::kImageFileLimit, &reason);
  LoadedImage loaded;
  if (in == nullptr) {
    loaded.code = rc::kCantOpenInput;
    loaded.failure.reason = reason;
  } else {
    loaded = LoadImage(request_, in);
  }
  if (loaded.file || loaded.code == rc::kFileOk) {
    request_.image = std::move(loaded.file);  // none: the target has no image of its own
    return true;
  }
  result_ = loaded.code;
  op_.ShowMessage(ImageRefusedText(request_.path, loaded.code, loaded.failure) +
                      (request_.mode == kModeProgramFlash ? "; nothing was erased or programmed"
                                                          : "; nothing was loaded"),
                  MessageIcon::Exclamation);
  return false;
}

std::string ImageRefusedText(const std::string& path, ResultCode code, const FileFailure& failure) {
  return FileFailureText(path, ResultText(code), failure);
}

void LoadMemoryModel::Wait() {
  if (engine_) engine_->Join();
  if (stopRequested_ && !resultReceived_) {
    result_ = rc::kStoppedByProgram;
    OutcomeKnown();
  }
}

void LoadMemoryModel::OutcomeKnown() {
  if (outcomeTold_) return;
  outcomeTold_ = true;
  if (request_.onOutcome) request_.onOutcome();
}

void LoadMemoryModel::Stop() {
  stopRequested_ = true;
  if (engine_) engine_->RequestStop();
}

void LoadMemoryModel::OnTotal(std::uint32_t packets) {
  total_ = packets;
  view_.SetStatus(RecordsProcessedText(engine_ ? engine_->Acknowledged() : 0, total_));
  view_.SetProgressRange(total_, Info(request_.target).progressStep);
}

void LoadMemoryModel::OnProgress(std::uint32_t acknowledged) {
  view_.SetStatus(RecordsProcessedText(acknowledged, total_));
  view_.StepProgress();
}

void LoadMemoryModel::OnBootVersion(const std::string& version) {
  bootVersionText_ = "Boot Version = " + version;
  ShowFreeText();
}

void LoadMemoryModel::OnWarning(const std::string& text) {
  warningText_ = "Warning: " + text;
  ShowFreeText();
}

void LoadMemoryModel::ShowFreeText() {
  std::string text = bootVersionText_;
  if (!warningText_.empty()) text += (text.empty() ? "" : "\n") + warningText_;
  view_.SetFreeText(text);
}

void LoadMemoryModel::OnNotice(const std::string& text) { op_.ShowMessage(text); }

void LoadMemoryModel::OnResult(ResultCode code) {
  resultReceived_ = true;
  if (eraseFailed_) {  // the erase's end has said why
    view_.Close();
    return;
  }
  result_ = code;
  OutcomeKnown();
  const std::uint32_t acked = engine_ ? engine_->Acknowledged() : 0;
  if (code != rc::kSuccess) {
    if (acked == 0) view_.SetStatus({});
    if (code == rc::kDataMismatch && verified_ && verified_->Failed()) {
      op_.ShowMessage(VerifyFailedText(*verified_), MessageIcon::Exclamation);
    } else if (code == rc::kTimeout && refusedWith_ == code) {
      // The device's own '@': our wait for acknowledgements ends in 'J'.
      op_.ShowMessage(ResultText(code) + " (sent by the device in place of an acknowledgement, after " +
                          std::to_string(acked) + " packets; not a wait of this program that ran out)",
                      MessageIcon::Exclamation);
    } else if (code < rc::kSuccess && code != rc::kFileOk) {
      // A file-layer code (the image read on the run's own thread): the
      // file is named, as every refusal of one is.
      op_.ShowMessage(ImageRefusedText(request_.path, code, {}), MessageIcon::Exclamation);
    } else {
      ShowResult(op_, code);
    }
    view_.Close();
    return;
  }
  if (view_.RunOnCompletion()) {
    // Starts the program just loaded; every packet has been acknowledged.
    const std::uint8_t go[2] = {'g', 0x0D};
    request_.port->Write(go, sizeof go);
  }
  view_.SetProgress(verified_ ? 100 : total_);
  view_.SetStatus(RecordsWrittenText(acked));
  view_.SetProgramTime(FormatElapsed(Seconds(programStart_)));
  finished_ = true;
  ShowResult(op_, rc::kSuccess, verified_ ? VerifiedText(verified_->bytes) : std::string());
}

namespace {
std::string VerifyingText(std::uint64_t done, std::uint64_t total) {
  return std::string(load_text::kVerifying) + " " + std::to_string(done) + " of " +
         std::to_string(total) + " bytes";
}
}  // namespace

void LoadMemoryModel::OnVerifyTotal(std::uint64_t bytes) {
  verifyTotal_ = bytes;
  view_.SetProgressRange(100, 1);
  view_.SetProgress(0);
  view_.SetStatus(VerifyingText(0, bytes));
}

void LoadMemoryModel::OnVerifyProgress(std::uint64_t bytes) {
  view_.SetProgress(verifyTotal_ == 0 ? 100 : static_cast<std::uint32_t>(bytes * 100 / verifyTotal_));
  view_.SetStatus(VerifyingText(bytes, verifyTotal_));
}

void LoadMemoryModel::OnVerifyOutcome(const VerifyOutcome& outcome) { verified_ = outcome; }

}  // namespace tarnvale
