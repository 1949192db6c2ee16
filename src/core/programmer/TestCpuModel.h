#pragma once
// Everything of the CPU board test dialog ("Test") except its widgets: board
// identification, the line tests, control-line probing, the pin test and the
// RAM bank runs, with the rules for which buttons may be pressed.
//
// The front end implements TestCpuView and calls the model's actions on its
// own thread. RAM events arrive on the watcher's thread: the front end hands
// them to its own thread (or lets them through, as the CLI does) and calls
// RamProgress / RamFinished there.

#include <array>
#include <atomic>
#include <mutex>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/operator/Operator.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxWorkers.h"
#include "core/programmer/CpuPinTest.h"

namespace tarnvale {

enum class TestButton {
  TestData, TestAddress, TestControls, BlankTest, EraseFlash, VerifyFlash, LoadRam, ReadFlashId,
  ReadJtagId, TestRam, TestCpu, ReadBoot, ProgramBoot, Count
};
inline constexpr std::size_t kTestButtonCount = static_cast<std::size_t>(TestButton::Count);
using ButtonStates = std::array<bool, kTestButtonCount>;
// The caption of a button, as the dialog shows it.
const char* ButtonCaption(TestButton b);

enum class BoardField { ControllerSerial, CpuRevision, CpuSerial, IoRevision, IoSerial };

namespace test_text {
inline constexpr const char* kTitle = "Test";
inline constexpr const char* kPinTitle = "Pin States";
inline constexpr const char* kTestData = "Test Data Lines";
inline constexpr const char* kTestAddress = "Test Address Lines";
inline constexpr const char* kDataOff = "Turn off Data Line Test";
inline constexpr const char* kAddressOff = "Turn off Address Line Test";
inline constexpr const char* kControls = "Testing Control Lines";
inline constexpr const char* kControlsOff = "Turn off Control Line Test";
}  // namespace test_text

// What the pin test's window shows once a run has ended: the verdict, the
// failing pins with their diagnosis (the summary), and the pin list of
// each stage the run shows, every step's failures kept.
struct PinTestReport {
  struct Stage {
    std::string title;
    PinImage expected;
    PinImage read;
  };
  std::string verdict;
  std::vector<PinFinding> findings;
  std::vector<Stage> stages;
};

class TestCpuView {
 public:
  virtual ~TestCpuView() = default;
  virtual void AddLine(const std::string& text) = 0;
  virtual void SetButtons(const ButtonStates& enabled) = 0;
  virtual void SetField(BoardField field, const std::string& text) = 0;
  virtual void SetBankRange(int low, int high) = 0;
  virtual void SetProgress(int percent) = 0;
  // The summary and the stage lists of a pin test run (modal in the GUI).
  virtual void ShowPinStates(const PinTestReport& report) = 0;
  // A running line test or probing shows on its button what pressing it
  // again does; the caption comes back when it is switched off.
  virtual void SetButtonCaption(TestButton /*button*/, const std::string& /*text*/) {}
};

class TestCpuModel : public CpuPinTestEvents {
 public:
  // `ramSink` receives the watcher's events (default: the model itself,
  // which then calls the view on the watcher's thread).
  TestCpuModel(BoxLink& link, TestCpuView& view, Operator& op, RamEvents* ramSink = nullptr);
  ~TestCpuModel() override;

  // Every board action below (pin test, RAM, blank/erase, verify, read and
  // program boot) first confirms the 80386EX's JTAG ID and does nothing else
  // when it is missing or wrong.

  // Opening: bank 1..1 until a flash ID is good, boot buttons off, "Read Flash ID".
  void Open();
  // Revision fields as typed (empty: keep the record's letter).
  void ReadFlashId(const std::string& cpuRevision, const std::string& ioRevision);
  void ReadJtagId();
  void ToggleLineTest(std::uint8_t kind);
  void ToggleProbing();
  CpuPinTestOutcome TestCpu();
  void StartRam(bool test, int bank);
  void RamProgress(std::uint32_t percent);
  void RamFinished(ResultCode code, const RamStatus& last);
  // Boot flash buttons. "Blank Test" / "Erase Flash" (erase also clears
  // the flash-ID-good flag); the link stays on the CPU board.
  void BlankOrErase(bool erase, std::uint32_t waitMs = 5000);
  // "Verify Flash": every button stays off until the read-back has ended,
  // so nothing else uses the port meanwhile. The reader's events go to
  // `sink` on its thread (default: the model, which then calls the view
  // there); the front end brings them to its own thread and calls
  // VerifyProgress / VerifyRead.
  void StartVerify(MemoryReadEvents* sink = nullptr, std::uint32_t settleMs = kBootReadSettleMs);
  void VerifyProgress(std::uint32_t percent);
  void VerifyRead(ResultCode code);
  bool Verifying() const { return verifying_; }
  // "Program Boot" and "Read Boot" with the revision fields as typed.
  void ProgramBoot(JobRunner& runner, SerialRevisionForm& form, const std::string& cpuRevision,
                   const std::string& ioRevision, const BootOptions& options = {});
  ResultCode ReadBoot(JobRunner& runner, const std::string& cpuRevision, const BootOptions& options = {});

  // Closing: stops the prober and a verify read-back, lets a RAM run end
  // (at most 5 s), then switches the line test off. No view call after it
  // returns.
  void Close();
  // The dialog is going while an exchange runs (any thread): a CPU pin test
  // under way, or one about to start, stops at its next step and shows
  // nothing.
  void RequestClose();

  const BoardInfoRecord& Record() const { return record_; }
  BoardInfoRecord& Record() { return record_; }
  bool FlashIdGood() const { return flashIdGood_; }
  std::uint8_t LineTestKind() const { return lineTestOn_ ? lineTestKind_ : 0; }
  bool Probing() const { return prober_.Running(); }
  bool RamRunning() const { return watcher_.Running(); }
  ProgressWatcher& Watcher() { return watcher_; }
  // What the buttons are after an action ends.
  ButtonStates IdleButtons() const;

  static constexpr std::uint32_t kCloseGraceMs = 5000;

  // CpuPinTestEvents
  void OnStage(const PinStage& stage, const PinImage& expected, const PinImage& sampled,
               bool show) override;

 private:
  PinTestReport pinReport_;
  class DirectRam;
  class DirectVerify;
  void ShowRecordFields();
  // The board's JTAG ID before a board operation; on failure the JTAG text
  // has been shown and the buttons are back.
  bool BoardAnswers();
  void EnableIdle() { view_.SetButtons(IdleButtons()); }
  void OnlyButton(TestButton b);
  void AllOff();
  void SwitchLineTestOff();

  BoxLink& link_;
  TestCpuView& view_;
  Operator& op_;
  std::unique_ptr<DirectRam> direct_;
  ProgressWatcher watcher_;
  ControlLineProber prober_;
  BoardInfoRecord record_;
  bool flashIdGood_ = false;
  bool lineTestOn_ = false;
  std::uint8_t lineTestKind_ = 0;
  bool closed_ = false;
  std::atomic<bool> closeRequested_{false};
  std::mutex pinStopMutex_;
  std::shared_ptr<StopState> pinStop_;  // the pin test's, while one runs
  std::unique_ptr<DirectVerify> directVerify_;
  BootVerifyReader verifier_;
  bool verifying_ = false;
};

}  // namespace tarnvale
