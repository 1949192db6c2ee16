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

#include "core/settings/ConfigData.h"
#include "gui/flash/WorkerCalls.h"

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

// Carries the worker's events to the dialog's thread; the worker waits for
// each. The result is the last event: after it the run is over.
class CLoadMemoryDialog::Relay : public ProgrammingEvents {
 public:
  explicit Relay(CLoadMemoryDialog& dialog) : d_(dialog) {}
  void OnTotal(std::uint32_t packets) override {
    d_.calls_.Call([&] { d_.model_.OnTotal(packets); });
  }
  void OnProgress(std::uint32_t acknowledged) override {
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
  }
  void OnVerifyProgress(std::uint64_t bytes) override {
    d_.calls_.Call([&] { d_.model_.OnVerifyProgress(bytes); });
  }
  void OnVerifyOutcome(const VerifyOutcome& outcome) override {
    d_.calls_.Call([&] { d_.model_.OnVerifyOutcome(outcome); });
  }
  void OnResult(ResultCode code) override {
    d_.calls_.Call([&] {
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
};

CLoadMemoryDialog::CLoadMemoryDialog(ProgrammingRequest request, Operator& op, QWidget* parent)
    : QDialog(parent),
      calls_(this),
      model_(std::move(request), *this, op),
      relay_(std::make_unique<Relay>(*this)) {
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

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);

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

  stop_ = new QPushButton(QStringLiteral("&Stop"), this);
  stop_->setObjectName(QStringLiteral("stop"));
  stop_->setAutoDefault(false);
  stop_->setFocusPolicy(Qt::NoFocus);
  connect(stop_, &QPushButton::clicked, this, &CLoadMemoryDialog::StopRun);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(runOnCompletion_);
  buttons->addWidget(verify_);
  buttons->addStretch(1);
  buttons->addWidget(stop_);
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
  body->addWidget(progress_);
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
}

void CLoadMemoryDialog::reject() {
  // The close box and Escape during the run are "Stop": the dialog closes
  // once the worker has ended.
  if (RunInProgress()) {
    StopRun();
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
        if (key == Qt::Key_Escape && event->type() == QEvent::KeyPress) StopRun();
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

void CLoadMemoryDialog::SetProgressRange(std::uint32_t upper, std::uint32_t step) {
  OnGui([&] {
    progress_->setRange(0, ToProgressValue(upper));
    progressStep_ = step;
  });
}

void CLoadMemoryDialog::SetProgress(std::uint32_t position) {
  OnGui([&] { progress_->setValue(std::min(ToProgressValue(position), progress_->maximum())); });
}

void CLoadMemoryDialog::StepProgress() {
  const std::uint64_t next = static_cast<std::uint64_t>(std::max(progress_->value(), 0)) + progressStep_;
  progress_->setValue(std::min(ToProgressValue(next), progress_->maximum()));
}

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
