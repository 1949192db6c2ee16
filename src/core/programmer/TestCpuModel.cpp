#include "core/programmer/TestCpuModel.h"

#include "core/link/CommPort.h"
#include "core/operator/ShowResult.h"

namespace tarnvale {

class TestCpuModel::DirectRam : public RamEvents {
 public:
  explicit DirectRam(TestCpuModel& m) : m_(m) {}
  void OnRamProgress(std::uint32_t percent) override { m_.RamProgress(percent); }
  void OnRamFinished(ResultCode code, const RamStatus& last) override { m_.RamFinished(code, last); }

 private:
  TestCpuModel& m_;
};

class TestCpuModel::DirectVerify : public MemoryReadEvents {
 public:
  explicit DirectVerify(TestCpuModel& m) : m_(m) {}
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t position, std::uint32_t) override { m_.VerifyProgress(position); }
  void OnDone(ResultCode code, std::uint32_t) override { m_.VerifyRead(code); }

 private:
  TestCpuModel& m_;
};

const char* ButtonCaption(TestButton b) {
  static const char* const captions[kTestButtonCount] = {
      "Test Data",  "Test  Address", "Test Controls", "Blank Test",   "Erase Flash",
      "Verify Flash", "Load Ram",    "Read Flash ID", "Read JTAG ID", "Test Ram",
      "Test CPU",   "Read Boot",     "Program Boot"};
  return captions[static_cast<std::size_t>(b)];
}

TestCpuModel::TestCpuModel(BoxLink& link, TestCpuView& view, Operator& op, RamEvents* ramSink)
    : link_(link),
      view_(view),
      op_(op),
      direct_(std::make_unique<DirectRam>(*this)),
      watcher_(link, ramSink != nullptr ? *ramSink : *direct_),
      prober_(link),
      directVerify_(std::make_unique<DirectVerify>(*this)) {}

TestCpuModel::~TestCpuModel() {
  verifier_.Stop();
  prober_.Stop();
  watcher_.RequestStop(0);
  watcher_.Join();
}

ButtonStates TestCpuModel::IdleButtons() const {
  ButtonStates s{};
  for (TestButton b : {TestButton::TestData, TestButton::TestAddress, TestButton::TestControls,
                       TestButton::TestCpu, TestButton::ReadJtagId, TestButton::ReadFlashId}) {
    s[static_cast<std::size_t>(b)] = true;
  }
  for (TestButton b : {TestButton::EraseFlash, TestButton::BlankTest, TestButton::VerifyFlash,
                       TestButton::ReadBoot, TestButton::ProgramBoot, TestButton::TestRam,
                       TestButton::LoadRam}) {
    s[static_cast<std::size_t>(b)] = flashIdGood_;
  }
  return s;
}

void TestCpuModel::OnlyButton(TestButton b) {
  ButtonStates s{};
  s[static_cast<std::size_t>(b)] = true;
  view_.SetButtons(s);
}

void TestCpuModel::AllOff() { view_.SetButtons(ButtonStates{}); }

void TestCpuModel::Open() {
  view_.SetBankRange(1, 1);
  view_.SetProgress(0);
  EnableIdle();
  ReadFlashId({}, {});
}

void TestCpuModel::ReadFlashId(const std::string& cpuRevision, const std::string& ioRevision) {
  if (!cpuRevision.empty()) record_.SetCpuRevision(cpuRevision[0]);
  if (!ioRevision.empty()) record_.SetIoRevision(ioRevision[0]);
  AllOff();
  const ResultCode r = link_.ExchangeBoardInfo(record_);
  if (r != rc::kSuccess) {
    flashIdGood_ = false;
    view_.AddLine(link_.NoBoardInfoText());
  } else {
    ShowRecordFields();
    for (const std::string& line : FlashIdLines(record_)) view_.AddLine(line);
    flashIdGood_ = IsFlashIdValid(record_);
  }
  const BankRange banks = flashIdGood_ ? BankRangeFor(record_.CpuRevision()) : BankRange{1, 1};
  view_.SetBankRange(banks.low, banks.high);
  EnableIdle();
}

void TestCpuModel::ShowRecordFields() {
  auto serial = [this](BoardField f, std::size_t field) {
    const std::string s = record_.Serial(field);
    if (!s.empty() && s[0] >= '0' && s[0] <= 'Z') view_.SetField(f, s);
  };
  serial(BoardField::ControllerSerial, BoardInfoRecord::kControllerSerial);
  serial(BoardField::CpuSerial, BoardInfoRecord::kCpuSerial);
  serial(BoardField::IoSerial, BoardInfoRecord::kIoSerial);
  auto letter = [this](BoardField f, std::uint8_t c) {
    if (c >= 'A' && c <= 'Z') view_.SetField(f, std::string(1, static_cast<char>(c)));
  };
  letter(BoardField::CpuRevision, record_.CpuRevision());
  letter(BoardField::IoRevision, record_.IoRevision());
}

bool TestCpuModel::BoardAnswers() {
  if (ConfirmCpu386(link_, op_) == rc::kSuccess) return true;
  EnableIdle();
  return false;
}

void TestCpuModel::BlankOrErase(bool erase, std::uint32_t waitMs) {
  AllOff();
  if (!BoardAnswers()) return;
  link_.NormalizeFlashRevision(Target::CpuBoard386, record_.CpuRevision(), record_.IoRevision());
  BlankCheckOrErase(link_.Port(), op_, erase, waitMs);
  if (erase) flashIdGood_ = false;
  EnableIdle();
}

void TestCpuModel::StartVerify(MemoryReadEvents* sink, std::uint32_t settleMs) {
  if (verifying_) return;
  AllOff();
  if (!BoardAnswers()) return;
  verifying_ = true;
  link_.Port().Purge();
  BootReadParams p;
  p.port = &link_.Port();
  p.memoryType = Target::CpuBoard386;
  p.toFile = false;
  p.path = ReadBackFileName(Target::CpuBoard386);
  p.settleMs = settleMs;
  p.silenceMs = link_.Timings().recordSilenceMs;
  verifier_.Start(p, sink != nullptr ? *sink : *directVerify_);
}

void TestCpuModel::VerifyProgress(std::uint32_t percent) { view_.SetProgress(static_cast<int>(percent)); }

void TestCpuModel::VerifyRead(ResultCode code) {
  if (!verifying_ || closed_) return;
  verifier_.Join();
  view_.SetProgress(0);
  FinishBootVerify(code, verifier_.Buffer(), record_, op_);
  verifying_ = false;
  EnableIdle();
}

void TestCpuModel::ProgramBoot(JobRunner& runner, SerialRevisionForm& form, const std::string& cpuRevision,
                               const std::string& ioRevision, const BootOptions& options) {
  AllOff();
  view_.AddLine("Please wait...Attempting to read existing information");
  const auto cpu = static_cast<std::uint8_t>(cpuRevision.empty() ? 0 : cpuRevision[0]);
  const auto io = static_cast<std::uint8_t>(ioRevision.empty() ? 0 : ioRevision[0]);
  CommPort& port = link_.Port();
  const BootProgramOutcome out = ProgramBootFlashWith(
      link_, [&port] { return SelectOnPort(port, Target::CpuBoard386); }, op_, runner, form, cpu, io, options);
  record_ = out.record;
  if (IsBoardInfoComplete(record_)) ShowRecordFields();
  EnableIdle();
}

ResultCode TestCpuModel::ReadBoot(JobRunner& runner, const std::string& cpuRevision, const BootOptions& options) {
  AllOff();
  CommPort& port = link_.Port();
  const auto cpu = static_cast<std::uint8_t>(cpuRevision.empty() ? 0 : cpuRevision[0]);
  const ResultCode code =
      ReadBootFlashWith(port, [&port] { return SelectOnPort(port, Target::CpuBoard386); }, op_, runner, cpu, nullptr, options);
  EnableIdle();
  return code;
}

void TestCpuModel::ReadJtagId() { view_.AddLine(link_.JtagIdText()); }

void TestCpuModel::SwitchLineTestOff() {
  link_.SetLineTest(false, kLineTestOff, 0, kLineTestOffTimeoutMs);
  const TestButton b = lineTestKind_ == kLineTestData ? TestButton::TestData : TestButton::TestAddress;
  view_.SetButtonCaption(b, ButtonCaption(b));
  view_.AddLine(lineTestKind_ == kLineTestData ? test_text::kDataOff : test_text::kAddressOff);
  lineTestOn_ = false;
}

void TestCpuModel::ToggleLineTest(std::uint8_t kind) {
  if (lineTestOn_) {
    SwitchLineTestOff();
    EnableIdle();
    return;
  }
  OnlyButton(kind == kLineTestData ? TestButton::TestData : TestButton::TestAddress);
  view_.SetButtonCaption(kind == kLineTestData ? TestButton::TestData : TestButton::TestAddress,
                         kind == kLineTestData ? test_text::kDataOff : test_text::kAddressOff);
  view_.AddLine(kind == kLineTestData ? test_text::kTestData : test_text::kTestAddress);
  lineTestOn_ = true;
  lineTestKind_ = kind;
  link_.SetLineTest(true, kind, 0, kLineTestOnTimeoutMs);
}

void TestCpuModel::ToggleProbing() {
  if (lineTestOn_) SwitchLineTestOff();
  if (!prober_.Running()) {
    OnlyButton(TestButton::TestControls);
    view_.SetButtonCaption(TestButton::TestControls, test_text::kControlsOff);
    view_.AddLine(test_text::kControls);
    prober_.Start();
    return;
  }
  // Joined before the buttons come back, so nothing else meets the prober on the port.
  prober_.Stop();
  view_.SetButtonCaption(TestButton::TestControls, ButtonCaption(TestButton::TestControls));
  EnableIdle();
  view_.AddLine(test_text::kControlsOff);
}

CpuPinTestOutcome TestCpuModel::TestCpu() {
  AllOff();
  if (const ResultCode c = ConfirmCpu386(link_, op_); c != rc::kSuccess) {
    EnableIdle();
    CpuPinTestOutcome none;
    none.firstFailedRead = c;
    return none;
  }
  view_.AddLine(cpu_test_text::kTesting);
  pinReport_ = {};
  NullRunSink quiet;
  auto stop = std::make_shared<StopState>();
  {
    const std::lock_guard<std::mutex> lock(pinStopMutex_);
    pinStop_ = stop;
    if (closeRequested_) stop->RequestStop();
  }
  const CpuPinTestOutcome outcome = RunCpuPinTest(link_, StopToken(stop), quiet, *this);
  {
    const std::lock_guard<std::mutex> lock(pinStopMutex_);
    pinStop_.reset();
  }
  if (outcome.stopped) {
    // Stopped because the dialog is going: nothing is left to show it to.
    EnableIdle();
    return outcome;
  }
  pinReport_.verdict = outcome.Verdict();
  pinReport_.findings = outcome.findings;
  // The list names each fault once: a short's two pins share one line.
  for (const PinFinding& f : FaultsOnce(outcome.findings)) view_.AddLine(FindingLine(f));
  // One window for the whole run: the summary above the stage lists.
  if (!pinReport_.stages.empty()) view_.ShowPinStates(pinReport_);
  if (outcome.ShowAsResult() && outcome.findings.empty()) {
    ShowResult(op_, outcome.Code());
  } else if (!outcome.stopped) {
    op_.ShowMessage(outcome.Verdict(), MessageIcon::Exclamation);
  }
  view_.AddLine(outcome.Verdict());
  view_.AddLine(cpu_test_text::kDone);
  EnableIdle();
  return outcome;
}

void TestCpuModel::OnStage(const PinStage& stage, const PinImage& expected, const PinImage& sampled,
                           bool show) {
  if (show) pinReport_.stages.push_back({stage.title, expected, sampled});
}

void TestCpuModel::StartRam(bool test, int bank) {
  view_.SetProgress(0);
  AllOff();
  if (!BoardAnswers()) return;
  view_.AddLine(RamBankLine(test, bank));
  watcher_.Start(test, bank);
}

void TestCpuModel::RamProgress(std::uint32_t percent) {
  if (!closed_) view_.SetProgress(static_cast<int>(percent));
}

void TestCpuModel::RamFinished(ResultCode code, const RamStatus& last) {
  if (closed_) return;
  watcher_.Join();
  // The bar shows how far the run got: full only when it completed, not
  // while a time-out or a failure is being told.
  if (code == rc::kSuccess) view_.SetProgress(100);
  EnableIdle();
  if (code == rc::kDataMismatch) {
    op_.ShowMessage(RamFailureText(last), MessageIcon::Exclamation);
  } else {
    ShowResult(op_, code);
  }
  view_.SetProgress(0);
}

void TestCpuModel::RequestClose() {
  closeRequested_ = true;
  const std::lock_guard<std::mutex> lock(pinStopMutex_);
  if (pinStop_) pinStop_->RequestStop();
}

void TestCpuModel::Close() {
  if (closed_) return;
  closed_ = true;
  // A verify read-back still running is stopped and collected first.
  verifier_.Stop();
  verifying_ = false;
  prober_.Stop();
  if (watcher_.Running()) {
    watcher_.RequestStop(kCloseGraceMs);
  }
  watcher_.Join();
  // Whatever the box still sent belongs to the run that was cut short.
  link_.Port().Purge();
  link_.SetLineTest(false, kLineTestOff, 0, kLineTestOffTimeoutMs);
  lineTestOn_ = false;
}

}  // namespace tarnvale
