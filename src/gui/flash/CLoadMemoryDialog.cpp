#include "gui/flash/CLoadMemoryDialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "core/flash/RunEventAdapters.h"
#include "core/settings/ConfigData.h"
#include "gui/flash/WorkerCalls.h"
#include "gui/ui/RunProgressView.h"

namespace tarnvale::gui {
namespace {

// Where the flash dialog keeps its "Verify after programming" choice.
constexpr const char* kVerifySetting = "VerifyAfterProgramming";

bool StoredVerifyChoice() {
  std::uint32_t v = 0;
  return CRegistry::ReadDWORD(RegistryRoot::CurrentUser, settings_key::kWindow, kVerifySetting, v) && v != 0;
}

QLabel* MakeField(QWidget* parent, const char* name) {
  auto* field = new QLabel(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setTextFormat(Qt::PlainText);
  return field;
}

int ToProgressValue(std::uint64_t v) {
  return static_cast<int>(std::min<std::uint64_t>(v, INT_MAX));
}

}  // namespace

// Carries the worker's events to the dialog's thread. How far the run is
// (packets, then the bytes verified) and how it ended go in the one
// vocabulary of a run to the run view, which fills the bar; every event also
// goes to the model, whose texts and message boxes the worker waits for.
// Warnings and notices are the model's alone (the free text, a message box).
// The result is the last event: the run view shows all it was told first,
// then the model says the result and the run is over.
class CLoadMemoryDialog::Relay : public ProgrammingEvents {
 public:
  explicit Relay(CLoadMemoryDialog& dialog) : d_(dialog), run_(*dialog.run_) {}
  void OnTotalBytes(std::uint64_t bytes) override { run_.OnTotalBytes(bytes); }
  void OnTotal(std::uint32_t packets) override {
    d_.calls_.Call([&] { d_.model_.OnTotal(packets); });
    run_.OnTotal(packets);
  }
  void OnProgressBytes(std::uint64_t bytes) override { run_.OnProgressBytes(bytes); }
  void OnProgress(std::uint32_t acknowledged) override {
    run_.OnProgress(acknowledged);
    d_.calls_.Call([&] { d_.model_.OnProgress(acknowledged); });
  }
  void OnBootVersion(const std::string& version) override {
    d_.calls_.Call([&] { d_.model_.OnBootVersion(version); });
  }
  void OnNotice(const std::string& text) override {
    d_.calls_.Call([&] { d_.model_.OnNotice(text); });
  }
  void OnRefused(std::uint8_t status) override {
    d_.calls_.Call([&] { d_.model_.OnRefused(status); });
  }
  void OnWarning(const std::string& text) override {
    d_.calls_.Call([&] { d_.model_.OnWarning(text); });
  }
  void OnVerifyTotal(std::uint64_t bytes) override {
    d_.calls_.Call([&] { d_.model_.OnVerifyTotal(bytes); });
    run_.OnVerifyTotal(bytes);
  }
  void OnVerifyProgress(std::uint64_t bytes) override {
    run_.OnVerifyProgress(bytes);
    d_.calls_.Call([&] { d_.model_.OnVerifyProgress(bytes); });
  }
  void OnVerifyOutcome(const VerifyOutcome& outcome) override {
    run_.OnVerifyOutcome(outcome);
    d_.calls_.Call([&] { d_.model_.OnVerifyOutcome(outcome); });
  }
  void OnResult(ResultCode code) override {
    run_.OnResult(code);
    d_.calls_.Call([&] {
      d_.run_->Flush();
      d_.model_.OnResult(code);
      d_.EndRun();
    });
  }
  void OnEraseStarted() override {
    d_.calls_.Call([&] { d_.model_.OnEraseStarted(); });
  }
  void OnEraseWaited(std::uint32_t seconds) override {
    d_.calls_.Call([&] { d_.model_.OnEraseWaited(seconds); });
  }
  void OnEraseEnded(const EraseOutcome& erase) override {
    d_.calls_.Call([&] { d_.model_.OnEraseEnded(erase); });
  }
  // The check box's choice is kept in an atomic for this thread.
  bool VerifyRequested() override { return d_.VerifyAfterProgramming(); }

 private:
  CLoadMemoryDialog& d_;
  ProgrammingRunEvents run_;
};

CLoadMemoryDialog::CLoadMemoryDialog(ProgrammingRequest request, Operator& op, QWidget* parent)
    : QDialog(parent),
      calls_(this),
      model_(std::move(request), *this, op) {
  setModal(true);
  setWindowTitle(QString::fromLatin1(load_text::kTitleLoad));
  // The worker's last act wakes a join that waits for it, and tells a
  // stopped dialog that it may close.
  model_.SetWorkerExitHook([this, wake = calls_.ExitHook()] {
    wake();
    QMetaObject::invokeMethod(this, [this] { WorkerEnded(); }, Qt::QueuedConnection);
  });

  fileName_ = MakeField(this, "fileName");
  lastModified_ = MakeField(this, "lastModified");
  eraseTime_ = MakeField(this, "eraseTime");
  programTime_ = MakeField(this, "programTime");
  // Wide enough for a full last-modified text without clipping.
  lastModified_->setMinimumWidth(
      lastModified_->fontMetrics().horizontalAdvance(QStringLiteral("12/31/2099  @  12:59:59 PM")) + 16);

  auto* fields = new QFormLayout;
  fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  fields->addRow(QStringLiteral("Filename:"), fileName_);
  fields->addRow(QStringLiteral("Last Modified Time:"), lastModified_);
  fields->addRow(QStringLiteral("Erase Time:"), eraseTime_);
  fields->addRow(QStringLiteral("Program Time:"), programTime_);

  freeText_ = new QLabel(this);
  freeText_->setObjectName(QStringLiteral("freeText"));
  freeText_->setTextFormat(Qt::PlainText);
  freeText_->setWordWrap(true);  // a warning about the image can be long
  freeText_->hide();  // shown for the boot flash version and for a warning about the image

  // The bar keeps the dialog's range (the packets, then percent while a
  // verify reads back); the run view fills it and puts "Stop" beside it.
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  run_ = new RunProgressView(this);
  run_->UseBar(progress_);
  run_->ShowPhaseLine(false);
  run_->SetStop([this] { StopRun(); });
  stop_ = run_->StopButton();
  stop_->setFocusPolicy(Qt::NoFocus);
  // The dialog is one run from its opening: "Stop" may come before the start.
  run_->Begin();
  relay_ = std::make_unique<Relay>(*this);

  runOnCompletion_ = new QCheckBox(QStringLiteral("Run on completion"), this);
  runOnCompletion_->setObjectName(QStringLiteral("runOnCompletion"));
  runOnCompletion_->setChecked(model_.Request().runOnCompletion);
  runOnCompletion_->setFocusPolicy(Qt::NoFocus);

  verify_ = new QCheckBox(QStringLiteral("Verify after programming"), this);
  verify_->setObjectName(QStringLiteral("verify"));
  verify_->setFocusPolicy(Qt::NoFocus);
  verify_->setVisible(CanVerify(model_.Request()));
  verify_->setChecked(CanVerify(model_.Request()) && (model_.Request().verify || StoredVerifyChoice()));
  verifyWanted_.store(verify_->isChecked());
  connect(verify_, &QCheckBox::toggled, this, [this](bool on) {
    verifyWanted_.store(on);
    CRegistry::WriteDWORD(RegistryRoot::CurrentUser, settings_key::kWindow, kVerifySetting, on ? 1 : 0);
  });

  exit_ = new QPushButton(QStringLiteral("E&xit"), this);
  exit_->setObjectName(QStringLiteral("exit"));
  exit_->setDefault(true);
  exit_->setEnabled(false);
  connect(exit_, &QPushButton::clicked, this, [this] {
    if (!RunInProgress()) accept();
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(runOnCompletion_);
  buttons->addWidget(verify_);
  buttons->addStretch(1);
  buttons->addWidget(exit_);

  // The one-line status bar along the bottom edge.
  status_ = MakeField(this, "status");
  status_->setMinimumWidth(
      status_->fontMetrics().horizontalAdvance(QString::fromLatin1(load_text::kErasing)) + 32);
  status_->setMinimumHeight(status_->fontMetrics().height() + 6);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 8);
  body->addLayout(fields);
  body->addWidget(freeText_);
  body->addSpacing(4);
  body->addWidget(run_);
  body->addSpacing(4);
  body->addLayout(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(body);
  layout->addWidget(status_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Clicks and keys are held back from every control while the run goes on.
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  startTimer_.setInterval(100);
  connect(&startTimer_, &QTimer::timeout, this, &CLoadMemoryDialog::BeginRun);
}

CLoadMemoryDialog::~CLoadMemoryDialog() {
  // A run still going when the dialog goes (its owner closing) is stopped
  // rather than waited out.
  if (RunInProgress()) {
    stopRequested_.store(true);
    model_.Stop();
  }
  JoinWorker();
}

ResultCode CLoadMemoryDialog::Run() {
  exec();
  JoinWorker();
  return model_.Result();
}

void CLoadMemoryDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (opened_) return;
  opened_ = true;
  model_.Open();
  startTimer_.start();
}

void CLoadMemoryDialog::BeginRun() {
  startTimer_.stop();
  if (begun_) return;
  begun_ = true;
  if (stopRequested_.load()) {  // "Stop" came before the start
    model_.Wait();
    Close();
    return;
  }
  // The file choice and the image check happen here; the erase and the
  // stream run on the model's worker, so the window repaints throughout.
  if (!model_.Begin(relay_.get()) && RunInProgress()) Close();
}

void CLoadMemoryDialog::WorkerEnded() {
  if (!stopRequested_.load() || !RunInProgress()) return;
  JoinWorker();  // the model turns the missing result into a stop
  if (!RunInProgress()) return;
  stop_->setEnabled(false);
  Close();
}

void CLoadMemoryDialog::StopRun() {
  if (!RunInProgress() || stopRequested_.exchange(true)) return;
  stop_->setEnabled(false);
  // The erase wait sees the stop at its next poll, the stream at its next
  // packet; WorkerEnded then closes the dialog.
  model_.Stop();
}

void CLoadMemoryDialog::EndRun() {
  runOver_ = true;
  exit_->setEnabled(true);
  stop_->setEnabled(false);
}

void CLoadMemoryDialog::JoinWorker() {
  calls_.Join([this] { return model_.WorkerRunning(); }, [this] { model_.Wait(); });
  run_->Flush();
}

void CLoadMemoryDialog::reject() {
  // The close box and Escape during the run are "Stop": the dialog closes
  // once the worker has ended.
  if (RunInProgress()) {
    run_->Stop();
    return;
  }
  QDialog::reject();
}

bool CLoadMemoryDialog::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      // "Run on completion" only decides what happens after the last
      // acknowledgement, and the run starts 100 ms after the dialog opens:
      // it must take clicks during the run or it could never be ticked.
      // So must "Verify after programming", read when the stream starts.
      if (watched == runOnCompletion_ || watched == verify_ || watched == stop_) return false;
      return RunInProgress();
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride: {
      // Typed characters never reach the controls; Escape stops a run, and
      // once the run is over the keys that leave the dialog do.
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (RunInProgress()) {
        if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress) run_->Stop();
        return true;
      }
      return key != Qt::Key_Escape && key != Qt::Key_Return && key != Qt::Key_Enter;
    }
    default:
      return QDialog::eventFilter(watched, event);
  }
}

// ---- LoadMemoryView ------------------------------------------------------------

void CLoadMemoryDialog::SetTitle(const std::string& text) {
  OnGui([&] { setWindowTitle(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetFileName(const std::string& text) {
  OnGui([&] { fileName_->setText(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetLastModified(const std::string& text) {
  OnGui([&] { lastModified_->setText(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetEraseTime(const std::string& text) {
  OnGui([&] { eraseTime_->setText(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetProgramTime(const std::string& text) {
  OnGui([&] { programTime_->setText(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetStatus(const std::string& text) {
  OnGui([&] { status_->setText(QString::fromStdString(text)); });
}
void CLoadMemoryDialog::SetFreeText(const std::string& text) {
  OnGui([&] {
    freeText_->setText(QString::fromStdString(text));
    freeText_->setVisible(!text.empty());
  });
}

// The model gives the bar its range; how far it is filled comes from the
// run's own events (the run view), which count the same packets and bytes.
void CLoadMemoryDialog::SetProgressRange(std::uint32_t upper, std::uint32_t /*step*/) {
  OnGui([&] { progress_->setRange(0, ToProgressValue(upper)); });
}
void CLoadMemoryDialog::SetProgress(std::uint32_t /*position*/) {}
void CLoadMemoryDialog::StepProgress() {}

void CLoadMemoryDialog::ShowRunOnCompletion(bool visible) {
  OnGui([&] { runOnCompletion_->setVisible(visible); });
}

bool CLoadMemoryDialog::RunOnCompletion() const { return runOnCompletion_->isChecked(); }

void CLoadMemoryDialog::Close() {
  OnGui([&] {
    runOver_ = true;
    stop_->setEnabled(false);
    done(QDialog::Rejected);
  });
}

}  // namespace tarnvale::gui
