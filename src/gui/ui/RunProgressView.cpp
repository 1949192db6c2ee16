#include "gui/ui/RunProgressView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

namespace tarnvale::gui {
namespace {

// The bar's scale: a run's units may pass what an int holds.
constexpr int kBarUpper = 1000;

}  // namespace

RunProgressView::RunProgressView(QWidget* parent) : QWidget(parent) {
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("runText"));
  text_->setTextFormat(Qt::PlainText);
  text_->setMinimumWidth(320);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("runProgress"));
  bar_->setRange(0, kBarUpper);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  warnings_ = new QListWidget(this);
  warnings_->setObjectName(QStringLiteral("runWarnings"));
  warnings_->hide();  // shown with the first warning
  stopButton_ = new QPushButton(QStringLiteral("S&top"), this);
  stopButton_->setObjectName(QStringLiteral("stop"));
  stopButton_->setAutoDefault(false);
  stopButton_->setEnabled(false);
  connect(stopButton_, &QPushButton::clicked, this, &RunProgressView::Stop);

  row_ = new QHBoxLayout;
  row_->addWidget(bar_, 1);
  row_->addWidget(stopButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  layout->addLayout(row_);
  layout->addWidget(warnings_);
}

void RunProgressView::Begin() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.clear();
  }
  running_ = true;
  stopAsked_ = false;
  phase_.clear();
  total_ = done_ = 0;
  text_->setText(QStringLiteral("Working..."));
  bar_->setValue(0);
  warnings_->clear();
  warnings_->hide();
  stopButton_->setEnabled(true);
}

void RunProgressView::Stop() {
  if (!running_ || stopAsked_) return;
  stopAsked_ = true;
  stopButton_->setEnabled(false);
  if (stop_) stop_();
}

QString RunProgressView::Text() const { return text_->text(); }

void RunProgressView::SetText(const QString& text) { text_->setText(text); }

QStringList RunProgressView::Warnings() const {
  QStringList lines;
  for (int i = 0; i < warnings_->count(); ++i) lines << warnings_->item(i)->text();
  return lines;
}

void RunProgressView::UseBar(QProgressBar* bar) {
  row_->replaceWidget(bar_, bar);
  delete bar_;
  bar_ = bar;
  ownBar_ = false;
}

void RunProgressView::ShowPhaseLine(bool visible) { text_->setVisible(visible); }

void RunProgressView::OnEvent(const RunEvent& event) { Queue(Queued{event, {}}); }

void RunProgressView::Post(std::function<void()> call) { Queue(Queued{RunEvent{}, std::move(call)}); }

void RunProgressView::Queue(Queued item) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = queued_.empty();
    queued_.push_back(std::move(item));
  }
  // One queued call takes every event that came meanwhile.
  if (first) QMetaObject::invokeMethod(this, [this] { ShowQueued(); }, Qt::QueuedConnection);
}

void RunProgressView::ShowQueued() {
  std::vector<Queued> items;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    items.swap(queued_);
  }
  if (items.empty()) return;
  showing_ = true;
  for (const Queued& item : items) {
    if (item.call) {
      item.call();
    } else {
      Show(item.event);
    }
  }
  showing_ = false;
  emit BatchShown();
}

void RunProgressView::Show(const RunEvent& event) {
  if (const auto* phase = std::get_if<PhaseStarted>(&event)) {
    phase_ = phase->name;
    total_ = done_ = 0;
    bar_->setValue(0);
    text_->setText(QString::fromStdString(phase_));
  } else if (const auto* total = std::get_if<RunTotal>(&event)) {
    total_ = total->units;
    done_ = 0;
    ShowCount();
  } else if (const auto* progress = std::get_if<RunProgress>(&event)) {
    done_ = progress->units;
    ShowCount();
  } else if (const auto* warning = std::get_if<RunWarning>(&event)) {
    warnings_->addItem(QString::fromStdString(warning->text));
    warnings_->show();
  } else if (const auto* finished = std::get_if<RunFinished>(&event)) {
    running_ = false;
    stopButton_->setEnabled(false);
    if (finished->code == rc::kSuccess && total_ != 0) bar_->setValue(bar_->maximum());
    emit Finished(static_cast<int>(finished->code));
  }
}

void RunProgressView::ShowCount() {
  const std::uint64_t done = std::min(done_, total_);
  // A bar of the owner's that has no Total yet stays as the owner set it.
  if (total_ != 0 || ownBar_) {
    const auto upper = static_cast<std::uint64_t>(std::max(bar_->maximum() - bar_->minimum(), 0));
    // Halved alike until the count times the bar's range fits 64 bits.
    std::uint64_t part = done, whole = total_;
    while (whole > UINT32_MAX) {
      part >>= 1;
      whole >>= 1;
    }
    bar_->setValue(bar_->minimum() + (whole == 0 ? 0 : static_cast<int>(part * upper / whole)));
  }
  const QString count = QString("%1 of %2").arg(done).arg(total_);
  text_->setText(phase_.empty() ? count : QString::fromStdString(phase_) + ": " + count);
}

}  // namespace tarnvale::gui
