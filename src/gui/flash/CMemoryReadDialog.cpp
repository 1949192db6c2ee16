#include "gui/flash/CMemoryReadDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <optional>

#include "core/flash/RunEventAdapters.h"
#include "gui/flash/WorkerCalls.h"
#include "gui/ui/RunProgressView.h"

namespace tarnvale::gui {
namespace {

QLabel* MakeField(QWidget* parent, const char* name) {
  auto* field = new QLabel(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setTextFormat(Qt::PlainText);
  return field;
}

}  // namespace

// The reading thread's events, told as a run's (bytes read of the range,
// the result as its finish) to the run view, each with the model's own
// handling of it (the bar's range, the list, the fields) queued in order
// with them. The reader never waits for the window.
class CMemoryReadDialog::Relay : public MemoryReadEvents {
 public:
  Relay(CMemoryReadDialog& dialog, std::uint32_t start, std::uint32_t end)
      : d_(dialog), start_(start), length_(end >= start ? std::uint64_t{end} - start + 1 : 0) {}
  // On the GUI thread, before a run's thread starts.
  void Begin() { run_.emplace(*d_.run_, start_, length_); }

  void OnRange(std::uint32_t upper) override {
    Post([this, upper] { d_.model_.OnRange(upper); });
    run_->OnRange(upper);
  }
  void OnStep(std::uint32_t step) override { run_->OnStep(step); }
  void OnProgress(std::uint32_t position, std::uint32_t next) override {
    run_->OnProgress(position, next);
    Post([this, position, next] { d_.model_.OnProgress(position, next); });
  }
  void OnComputedChecksum(std::uint32_t value) override {
    Post([this, value] { d_.model_.OnComputedChecksum(value); });
  }
  void OnImageChecksum(std::uint32_t value) override {
    Post([this, value] { d_.model_.OnImageChecksum(value); });
  }
  void OnLine(const std::string& text) override {
    Post([this, text] { d_.model_.OnLine(text); });
  }
  void OnDone(ResultCode code, std::uint32_t next) override {
    Post([this, code, next] { d_.model_.OnDone(code, next); });
    run_->OnDone(code, next);
  }

 private:
  void Post(std::function<void()> call) { d_.run_->Post(std::move(call)); }

  CMemoryReadDialog& d_;
  const std::uint32_t start_;
  const std::uint64_t length_;
  std::optional<MemoryReadRunEvents> run_;  // the run under way
};

CMemoryReadDialog::CMemoryReadDialog(MemoryReadRequest request, Operator& op, QWidget* parent)
    : QDialog(parent),
      visible_(request.visible),
      calls_(this),
      relay_(std::make_unique<Relay>(*this, request.start, request.end)),
      model_(std::move(request), *this, op) {
  setModal(true);
  setWindowTitle(QStringLiteral("Read Memory"));
  // The worker's last act wakes a join that waits for it.
  model_.SetWorkerExitHook(calls_.ExitHook());

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("messages"));
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setMinimumSize(list_->fontMetrics().horizontalAdvance(QString(60, QLatin1Char('M'))) / 2 + 120,
                        list_->fontMetrics().height() * 6);

  field1_ = MakeField(this, "field1");
  field2_ = MakeField(this, "field2");

  // The dialog's bar, on the reader's scale, and "Stop" beside it
  // (a dump of the whole range takes many minutes: the person may end it,
  // keeping what was read under the partial name).
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);
  progress_->setValue(0);
  run_ = new RunProgressView(this);
  run_->UseBar(progress_);
  run_->ShowPhaseLine(false);
  run_->SetStop([this] { StopRead(); });
  connect(run_, &RunProgressView::BatchShown, this, [this] {
    // One scroll and one width check for the batch rather than per line.
    list_->scrollToBottom();
    FitWidthTo(widestShown_);
    widestShown_ = 0;
  });

  ok_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CMemoryReadDialog::OnOk);
  retry_ = new QPushButton(QStringLiteral("&Retry"), this);
  retry_->setObjectName(QStringLiteral("retry"));
  retry_->setAutoDefault(false);
  retry_->setEnabled(false);
  connect(retry_, &QPushButton::clicked, this, &CMemoryReadDialog::OnRetry);

  // Stretch on both sides: "OK" alone is centred when "Retry" is hidden.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addSpacing(12);
  buttons->addWidget(retry_);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addWidget(list_, 1);
  layout->addWidget(field1_);
  layout->addWidget(field2_);
  layout->addWidget(run_);
  layout->addSpacing(4);
  layout->addLayout(buttons);

  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] { model_.Tick(relay_.get()); });
}

CMemoryReadDialog::~CMemoryReadDialog() {
  timer_.stop();
  // A read still running when the dialog goes is stopped, then collected.
  model_.RequestStop();
  JoinWorker();
}

ResultCode CMemoryReadDialog::Run() {
  // A hidden read still runs modally, only nothing appears on the screen.
  setAttribute(Qt::WA_DontShowOnScreen, !visible_);
  exec();
  timer_.stop();
  JoinWorker();
  return Result();
}

void CMemoryReadDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (opened_) return;
  opened_ = true;
  model_.Open();
  timer_.start();
}

void CMemoryReadDialog::OnOk() {
  if (model_.Running()) return;
  JoinWorker();
  accept();
}

void CMemoryReadDialog::OnRetry() {
  if (model_.Running()) return;
  // The last read may still be finishing its final events; collect it here
  // rather than inside the new run's start, which would wait without
  // handling them.
  JoinWorker();
  model_.Retry(relay_.get());
}

void CMemoryReadDialog::JoinWorker() {
  calls_.Join([this] { return model_.WorkerRunning(); }, [this] { model_.Wait(); });
  run_->Flush();
}

void CMemoryReadDialog::reject() {
  // The close box and Escape stop a running read, as "Stop" does.
  if (model_.Running()) {
    run_->Stop();
    return;
  }
  JoinWorker();
  QDialog::reject();
}

void CMemoryReadDialog::StopRead() {
  if (!model_.Running()) return;
  timer_.stop();
  // The reader ends at its next step and keeps what it read; its last
  // queued events are handled while it is collected.
  model_.RequestStop();
  JoinWorker();
  // A result that came while stopping stands; otherwise the run was cut.
  stopped_ = model_.Running();
  done(QDialog::Rejected);
}

// ---- MemoryReadView ------------------------------------------------------------

void CMemoryReadDialog::AddListText(const std::string& text) {
  // The messages carry their own line ends; a list item is one line.
  std::string line = text;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const QString item = QString::fromStdString(line);
  list_->addItem(item);
  list_->item(list_->count() - 1)->setToolTip(item);
  const int needed = list_->fontMetrics().horizontalAdvance(item) + 16;
  if (run_->Showing()) {
    widestShown_ = std::max(widestShown_, needed);
    return;
  }
  list_->scrollToBottom();
  FitWidthTo(needed);
}

void CMemoryReadDialog::FitWidthTo(int needed) {
  // A long line (the saved file's path) widens the dialog rather than
  // hiding behind a scroll bar, as far as the screen allows.
  const int shortBy = needed - list_->viewport()->width();
  if (shortBy > 0 && isVisible()) {
    const int widest = screen() ? screen()->availableGeometry().width() * 9 / 10 : width() + shortBy;
    resize(std::min(width() + shortBy, std::max(widest, width())), height());
  }
}

void CMemoryReadDialog::SetField1(const std::string& text) {
  field1_->setText(QString::fromStdString(text));
}
void CMemoryReadDialog::SetField2(const std::string& text) {
  field2_->setText(QString::fromStdString(text));
}

// The bar's range is the reader's scale (a dump's 0 to 1000, a read-back's
// percent); how far it is filled comes from the run's events (the run view).
void CMemoryReadDialog::SetProgressRange(std::uint32_t upper) {
  progress_->setRange(0, static_cast<int>(std::min<std::uint32_t>(upper, INT_MAX)));
}
void CMemoryReadDialog::SetProgressStep(std::uint32_t /*step*/) {}
void CMemoryReadDialog::SetProgress(std::uint32_t /*position*/) {}

void CMemoryReadDialog::EnableOk(bool on) {
  ok_->setEnabled(on);
  // "OK" goes off exactly when a read starts, before its thread: the run
  // view is cleared and its "Stop" comes on.
  if (!on) {
    relay_->Begin();
    run_->Begin();
  }
}
void CMemoryReadDialog::EnableRetry(bool on) { retry_->setEnabled(on); }
void CMemoryReadDialog::ShowRetry(bool visible) { retry_->setVisible(visible); }

void CMemoryReadDialog::Close() { done(QDialog::Rejected); }

}  // namespace tarnvale::gui
