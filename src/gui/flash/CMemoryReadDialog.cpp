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

#include "gui/flash/WorkerCalls.h"

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

// Carries the reading thread's events to the dialog's thread. Only the last
// one (the result) waits until it has been handled; the others are queued
// and handled in order, in batches, on the GUI thread. A boot flash sends a
// line per sixteen bytes, and a round trip to the GUI thread for each one
// kept the reader from the box's reply bytes several times longer than the
// read itself took.
class CMemoryReadDialog::Relay : public MemoryReadEvents {
 public:
  explicit Relay(CMemoryReadDialog& dialog) : d_(dialog) {}
  void OnRange(std::uint32_t upper) override {
    d_.Queue([this, upper] { d_.model_.OnRange(upper); });
  }
  void OnStep(std::uint32_t step) override {
    d_.Queue([this, step] { d_.model_.OnStep(step); });
  }
  void OnProgress(std::uint32_t position, std::uint32_t next) override {
    d_.Queue([this, position, next] { d_.model_.OnProgress(position, next); });
  }
  void OnComputedChecksum(std::uint32_t value) override {
    d_.Queue([this, value] { d_.model_.OnComputedChecksum(value); });
  }
  void OnImageChecksum(std::uint32_t value) override {
    d_.Queue([this, value] { d_.model_.OnImageChecksum(value); });
  }
  void OnLine(const std::string& text) override {
    d_.Queue([this, text] { d_.model_.OnLine(text); });
  }
  void OnDone(ResultCode code, std::uint32_t next) override {
    d_.calls_.Call([&] {
      d_.RunQueued();
      d_.model_.OnDone(code, next);
    });
  }

 private:
  CMemoryReadDialog& d_;
};

CMemoryReadDialog::CMemoryReadDialog(MemoryReadRequest request, Operator& op, QWidget* parent)
    : QDialog(parent),
      visible_(request.visible),
      calls_(this),
      model_(std::move(request), *this, op),
      relay_(std::make_unique<Relay>(*this)) {
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

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);

  ok_ = new QPushButton(QStringLiteral("&OK"), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CMemoryReadDialog::OnOk);
  retry_ = new QPushButton(QStringLiteral("&Retry"), this);
  retry_->setObjectName(QStringLiteral("retry"));
  retry_->setAutoDefault(false);
  retry_->setEnabled(false);
  connect(retry_, &QPushButton::clicked, this, &CMemoryReadDialog::OnRetry);
  // A dump of the whole range takes many minutes: the person may end it,
  // keeping what was read under the partial name.
  stop_ = new QPushButton(QStringLiteral("&Stop"), this);
  stop_->setObjectName(QStringLiteral("stop"));
  stop_->setAutoDefault(false);
  stop_->setEnabled(false);
  connect(stop_, &QPushButton::clicked, this, &CMemoryReadDialog::StopRead);

  // Stretch on both sides: "OK" alone is centred when "Retry" is hidden.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addSpacing(12);
  buttons->addWidget(retry_);
  buttons->addSpacing(12);
  buttons->addWidget(stop_);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->addWidget(list_, 1);
  layout->addWidget(field1_);
  layout->addWidget(field2_);
  layout->addWidget(progress_);
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
  RunQueued();
}

void CMemoryReadDialog::Queue(std::function<void()> event) {
  bool first = false;
  {
    std::lock_guard lock(queueMutex_);
    first = queued_.empty();
    queued_.push_back(std::move(event));
  }
  // One wake-up per batch; dropped by Qt if the dialog has gone (its join
  // has handled the queue by then).
  if (first) QMetaObject::invokeMethod(this, [this] { RunQueued(); }, Qt::QueuedConnection);
}

void CMemoryReadDialog::RunQueued() {
  std::vector<std::function<void()>> events;
  {
    std::lock_guard lock(queueMutex_);
    events.swap(queued_);
  }
  if (events.empty()) return;
  // One scroll and one width check for the batch rather than per line.
  batching_ = true;
  for (const auto& event : events) event();
  batching_ = false;
  list_->scrollToBottom();
  FitWidthTo(widestQueued_);
  widestQueued_ = 0;
}

void CMemoryReadDialog::reject() {
  // The close box and Escape stop a running read, as "Stop" does.
  if (model_.Running()) {
    StopRead();
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
  if (batching_) {
    widestQueued_ = std::max(widestQueued_, needed);
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

void CMemoryReadDialog::SetProgressRange(std::uint32_t upper) {
  progress_->setRange(0, static_cast<int>(std::min<std::uint32_t>(upper, INT_MAX)));
}

void CMemoryReadDialog::SetProgressStep(std::uint32_t /*step*/) {
  // The reading thread always sends absolute positions; a step is not used.
}

void CMemoryReadDialog::SetProgress(std::uint32_t position) {
  // A value beyond the range would be dropped rather than shown as full.
  progress_->setValue(std::min(static_cast<int>(std::min<std::uint32_t>(position, INT_MAX)),
                               progress_->maximum()));
}

void CMemoryReadDialog::EnableOk(bool on) {
  ok_->setEnabled(on);
  // "OK" is off exactly while a read runs: that is when it can be stopped.
  stop_->setEnabled(!on);
}
void CMemoryReadDialog::EnableRetry(bool on) { retry_->setEnabled(on); }
void CMemoryReadDialog::ShowRetry(bool visible) { retry_->setVisible(visible); }

void CMemoryReadDialog::Close() { done(QDialog::Rejected); }

}  // namespace tarnvale::gui
