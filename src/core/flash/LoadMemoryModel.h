#pragma once
// Everything of the programming dialog ("Load Memory") except its widgets.
//
// A front end implements LoadMemoryView (the GUI's CLoadMemoryDialog, the
// CLI's progress display) and drives a LoadMemoryModel:
//
//   model.Open();            when the dialog opens (fields cleared, progress 0,
//                            "Run on completion" hidden when programming flash)
//   model.Begin();           on the first 100 ms timer tick: title, file choice,
//                            file fields, the whole image read and checked
//                            (unless the request brought it), then the
//                            worker, which runs the flash-revision exchange,
//                            the erase (its wait reported by OnEraseWaited)
//                            and the stream. Nothing on the calling thread
//                            waits on the device.
//                            False when the dialog is to close at once.
//   ...engine events...      the model is a ProgrammingEvents; the worker calls
//                            it on its own thread. A GUI passes its own
//                            marshalling sink to Begin and calls the model's
//                            On* on its UI thread (blocking the worker meanwhile).
//   model.Wait();            joins the worker (the destructor does too).
//
// View calls happen on the thread that calls the model: Open/Begin on the
// caller's, On* on whichever thread delivers them.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/flash/ProgrammingEngine.h"
#include "core/platform/Clock.h"

namespace tarnvale {

class Operator;

namespace load_text {
inline constexpr const char* kTitleFlash = "Program Flash Memory";
inline constexpr const char* kTitleLoad = "Load Memory";
inline constexpr const char* kFilterHex = "Hex File (*.HEX)|*.HEX|";
inline constexpr const char* kFilterFmf = "Flash Memory File (*.FMF)|*.FMF|";
inline constexpr const char* kFilterDownload = "Download File (*.HEX)|*.HEX|";
inline constexpr const char* kErasing = "Erasing Flash Memory...Please wait, this could take several seconds";
inline constexpr const char* kEraseEnded = "Erasing Ended";
inline constexpr const char* kEraseTimeout = "Timeout while waiting for flash to erase";
inline constexpr const char* kNotApplicable = "N/A";
// The status line while a verify reads back: "Verifying N of M bytes".
inline constexpr const char* kVerifying = "Verifying";
inline constexpr const char* kStartProgramming = "Start Programming...Please wait, this can take several minutes";
}  // namespace load_text

// "%d Min. %d Sec." of whole seconds; hours are not shown.
std::string FormatElapsed(std::uint32_t seconds);
// "%02d/%02d/%d  @  %02d:%02d:%02d %s" of a local time (12-hour clock).
std::string FormatLastModified(const std::tm& local);
// The last-modified text of a file, or empty when it cannot be read.
std::string LastModifiedText(const std::string& path);
// The part of a path after its last separator.
std::string FileNameOnly(const std::string& path);
// "Records %d of %d processed".
std::string RecordsProcessedText(std::uint32_t done, std::uint32_t total);
// "%d Records successfully written!".
std::string RecordsWrittenText(std::uint32_t done);
// "Erase Error - %d".
std::string EraseErrorText(std::uint8_t reply);
// An image file refused: "PATH:LINE: <result text> (<reason>)" (no line when
// no record was at fault, no reason when none is known).
std::string ImageRefusedText(const std::string& path, ResultCode code, const FileFailure& failure);

class LoadMemoryView {
 public:
  virtual ~LoadMemoryView() = default;
  virtual void SetTitle(const std::string& text) = 0;
  virtual void SetFileName(const std::string& text) = 0;
  virtual void SetLastModified(const std::string& text) = 0;
  virtual void SetEraseTime(const std::string& text) = 0;
  virtual void SetProgramTime(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;       // the dialog's status line
  virtual void SetFreeText(const std::string& text) = 0;     // "Boot Version = %s"
  virtual void SetProgressRange(std::uint32_t upper, std::uint32_t step) = 0;
  virtual void SetProgress(std::uint32_t position) = 0;
  virtual void StepProgress() = 0;
  virtual void ShowRunOnCompletion(bool visible) = 0;
  virtual bool RunOnCompletion() const = 0;
  // "Verify after programming" as the person left it when programming
  // starts (a front end without the choice leaves it to the request).
  virtual bool VerifyAfterProgramming() const { return false; }
  // The seconds waited so far for the erase's answer: 0 when the erase
  // packet went out, then each whole second (SetEraseTime shows the same
  // as text). A front end that draws its own count uses this.
  virtual void EraseWaited(std::uint32_t /*seconds*/) {}
  // Asked between erase polls, on the run's thread: true stops the erase
  // wait (the run ends with rc::kStoppedByProgram).
  virtual bool StopRequested() { return false; }
  // The run failed: close the dialog.
  virtual void Close() = 0;
};

class LoadMemoryModel : public ProgrammingEvents {
 public:
  LoadMemoryModel(ProgrammingRequest request, LoadMemoryView& view, Operator& op,
                  const Clock& clock = SystemClock());
  ~LoadMemoryModel() override;

  void Open();
  // `sink` receives the engine's events (default: this model).
  bool Begin(ProgrammingEvents* sink = nullptr);
  void Wait();
  // The program stops the run (a closing window, Ctrl-C): the worker stops
  // at its next step and sends nothing more; unless its result had already
  // come, the outcome is rc::kStoppedByProgram.
  void Stop();

  // The outcome: '0' after "Success"; the failing code; or the code of the
  // erase failure / cancelled file choice (kCancelled).
  ResultCode Result() const { return result_; }
  bool Finished() const { return finished_; }
  // True while the programming thread exists and has not ended.
  bool WorkerRunning() const { return engine_ && engine_->Running(); }
  // Given to the programming thread (see ProgrammingEngine::SetExitHook).
  void SetWorkerExitHook(std::function<void()> hook) { exitHook_ = std::move(hook); }
  const ProgrammingRequest& Request() const { return request_; }

  static constexpr ResultCode kCancelled = rc::kStoppedByOperator;

  // ProgrammingEvents
  void OnTotal(std::uint32_t packets) override;
  void OnProgress(std::uint32_t acknowledged) override;
  void OnBootVersion(const std::string& version) override;
  void OnNotice(const std::string& text) override;
  void OnRefused(std::uint8_t status) override { refusedWith_ = status; }
  void OnWarning(const std::string& text) override;
  void OnResult(ResultCode code) override;
  void OnEraseStarted() override;
  void OnEraseWaited(std::uint32_t seconds) override;
  void OnEraseEnded(const EraseOutcome& erase) override;
  bool EraseStopRequested() override;
  bool VerifyRequested() override;
  void OnVerifyTotal(std::uint64_t bytes) override;
  void OnVerifyProgress(std::uint64_t bytes) override;
  void OnVerifyOutcome(const VerifyOutcome& outcome) override;

 private:
  std::uint32_t Seconds(std::uint32_t sinceTick) const;
  // Loads the request's image when the workflow has not (shown and false
  // when the file is refused).
  bool LoadImageFirst();
  void ShowFreeText();
  // Tells the request's onOutcome hook, once.
  void OutcomeKnown();

  ProgrammingRequest request_;
  LoadMemoryView& view_;
  Operator& op_;
  const Clock& clock_;
  std::function<void()> exitHook_;
  std::unique_ptr<ProgrammingEngine> engine_;
  std::uint32_t total_ = 0;
  std::uint32_t programStart_ = 0;
  ResultCode result_ = kCancelled;
  bool finished_ = false;
  bool resultReceived_ = false;
  bool eraseFailed_ = false;
  std::optional<std::uint8_t> refusedWith_;  // the device's own status byte that ended the run
  bool stopRequested_ = false;
  bool outcomeTold_ = false;
  std::string bootVersionText_;  // the free text field: boot version, then
  std::string warningText_;      // what the image reader left out
  std::uint64_t verifyTotal_ = 0;
  std::optional<VerifyOutcome> verified_;  // what the read-back found
};

}  // namespace tarnvale
