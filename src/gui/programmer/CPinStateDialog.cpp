#include "gui/programmer/CPinStateDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "gui/ui/CXListBox.h"
#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"

namespace {
// The list draws its lines this far in from its own edge.
constexpr int kListTextIndent = 4;
// The three two-line headings, spaced in the list's fixed-width columns
// (name right-aligned in 9 characters, then the two levels).
const char* const kHeadings = "      Pin Expected   Read\n     Name    Value  Value";
}  // namespace

namespace tarnvale::gui {

CXListBox* CPinStateDialog::MakeStageList(const PinImage& expected, const PinImage& read) {
  auto* list = new CXListBox(this);
  list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list->setObjectName("list1083");
  for (const PinStateRow& row : PinStateRows(expected, read)) {
    list->AddLine(CXListBox::Black, row.agrees ? CXListBox::Lime : CXListBox::Red, row.text);
  }
  list->scrollToTop();
  stageLists_.push_back(list);
  return list;
}

CPinStateDialog::CPinStateDialog(const PinImage& expected, const PinImage& read,
                                 const std::string& title, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromStdString(title));
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  auto* headings = new QLabel(QString::fromUtf8(kHeadings), this);
  headings->setFont(fixed);
  headings->setContentsMargins(kListTextIndent, 0, 0, 0);
  layout->addWidget(headings);
  layout->addWidget(MakeStageList(expected, read));
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  GiveMnemonics(ok);
  layout->addWidget(ok);
  FitToTitle(this);
  resize(360, 560);
}

CPinStateDialog::CPinStateDialog(const PinTestReport& report, QWidget* parent) : QDialog(parent) {
  setWindowTitle(test_text::kPinTitle);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  verdict_ = new QLabel(QString::fromStdString(report.verdict), this);
  verdict_->setObjectName("verdict");
  QFont bold = verdict_->font();
  bold.setBold(true);
  verdict_->setFont(bold);
  layout->addWidget(verdict_);

  // The summary: every shown pin, the failing ones first with what they are.
  summary_ = new CXListBox(this);
  summary_->setFont(fixed);
  summary_->setObjectName("summary");
  int widest = 0;
  const QFontMetrics metrics(fixed);
  for (const PinFinding& f : report.findings) {
    char name[16];
    std::snprintf(name, sizeof name, "%9s  ", PinName(f.pin).c_str());
    const std::string line = name + FindingLine(f);
    widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(line)));
    summary_->AddLine(CXListBox::Black, CXListBox::Red, line);
  }
  for (int pin = kFirstShownPin; pin < kPinCount; ++pin) {
    const bool failing = std::any_of(report.findings.begin(), report.findings.end(),
                                     [pin](const PinFinding& f) { return f.pin == pin; });
    if (failing) continue;
    char line[32];
    std::snprintf(line, sizeof line, "%9s  pass", PinName(pin).c_str());
    summary_->AddLine(CXListBox::Black, CXListBox::Lime, line);
  }
  summary_->scrollToTop();
  layout->addWidget(new QLabel("Summary", this));
  layout->addWidget(summary_, 1);

  tabs_ = new QTabWidget(this);
  int firstFailing = -1;
  for (const PinTestReport::Stage& stage : report.stages) {
    auto* page = new QWidget(tabs_);
    auto* pageLayout = new QVBoxLayout(page);
    auto* headings = new QLabel(QString::fromUtf8(kHeadings), page);
    headings->setFont(fixed);
    headings->setContentsMargins(kListTextIndent, 0, 0, 0);
    pageLayout->addWidget(headings);
    auto* title = new QLabel(QString::fromStdString(stage.title), page);
    pageLayout->insertWidget(0, title);
    pageLayout->addWidget(MakeStageList(stage.expected, stage.read));
    // The tab says which stage and how many of its pins failed; its page
    // carries the stage's full title.
    const std::size_t failing = MismatchedPins(stage.expected, stage.read).size();
    QString tab = QStringLiteral("Stage %1").arg(stageTitles_.size() + 1);
    if (failing > 0) tab += QStringLiteral(" (%1)").arg(failing);
    stageTitles_.push_back(stage.title);
    tabs_->addTab(page, tab);
    tabs_->setTabToolTip(tabs_->count() - 1, QString::fromStdString(stage.title));
    // The first stage that failed is the one shown.
    if (failing > 0 && firstFailing < 0) firstFailing = tabs_->count() - 1;
  }
  if (firstFailing >= 0) tabs_->setCurrentIndex(firstFailing);
  layout->addWidget(tabs_, 2);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(ok);
  // Wide enough for the longest summary line and every stage's tab, tall
  // enough for both lists.
  resize(std::max({560, widest + 80, tabs_->tabBar()->sizeHint().width() + 40}), 720);
}

CXListBox* CPinStateDialog::List() const {
  if (tabs_ != nullptr && tabs_->currentIndex() >= 0) return StageList(tabs_->currentIndex());
  return stageLists_.empty() ? nullptr : stageLists_.front();
}

std::string CPinStateDialog::StageTitle(int i) const {
  return tabs_ != nullptr ? stageTitles_.at(static_cast<std::size_t>(i)) : windowTitle().toStdString();
}

}  // namespace tarnvale::gui
