#include "gui/production/CTN820ProductionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <QVBoxLayout>

#include "gui/ui/QtOperator.h"
#include "gui/ui/WorkerWait.h"
#include "core/platform/SystemFacts.h"
#include "core/production/ProductionHistory.h"

#include "core/settings/ConfigData.h"
#include "gui/ui/CLabel.h"

namespace tarnvale::gui {
namespace {

// Typed letters become capitals as they are typed.
class UpperCase : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

QLineEdit* ReadOnly(QWidget* parent, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setReadOnly(true);
  e->setObjectName(name);
  return e;
}

// The runs of a unit listed beside its serial number.
constexpr std::size_t kUnitHistoryRuns = 5;

std::tm LocalNow() {
  std::tm local{};
  platform::LocalTime(std::time(nullptr), &local);
  return local;
}

// The desktop's message boxes of this dialog open over it, not over the
// main window behind it.
std::unique_ptr<QtOperator> OwnOperator(QWidget* dialog, Operator& op) {
  if (dynamic_cast<QtOperator*>(&op) == nullptr) return nullptr;
  auto own = std::make_unique<QtOperator>(dialog, [&op](const std::string& text) { op.SetStatus(text); });
  own->SetErrorLogFolder(op.ErrorLogFolder());
  return own;
}

QLabel* Note(const char* text, QWidget* parent) {
  auto* l = new QLabel(QString::fromLatin1(text), parent);
  l->setWordWrap(true);
  return l;
}

}  // namespace

CTN820ProductionDialog::CTN820ProductionDialog(ConfigData& settings, QWidget* owner, int generation,
                                               LinkState& link, Operator& op, JobRunner& runner,
                                               const std::string& nav, ProductionOptions options)
    : QDialog(owner), ownOp_(OwnOperator(this, op)), link_(link), op_(ownOp_ ? *ownOp_ : op), runner_(runner) {
  options.navNumber = nav;
  model_ = std::make_unique<ProductionModel>(ProductionSources::FromSettings(settings), generation,
                                             options);
  setWindowTitle(QString::fromLatin1(production_text::kDialogTitle));
  // Wide enough for the server paths and each note on one line.
  setMinimumWidth(900);
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  heading_ = new CLabel(QString::fromLatin1(production_text::kHeading), this);
  heading_->setObjectName("heading");
  heading_->SetFontSize(20);
  top->addWidget(heading_);
  top->addStretch();
  top->addWidget(new QLabel("Version", this));
  productionVersion_ = ReadOnly(this, "productionVersion");
  productionVersion_->setMaximumWidth(40);
  top->addWidget(productionVersion_);
  layout->addLayout(top);

  // Station mode: serial numbers from a pattern, the shift's counts.
  auto* stationRow = new QHBoxLayout;
  stationMode_ = new QCheckBox("Station mode", this);
  stationMode_->setObjectName("stationMode");
  stationPattern_ = new QLineEdit(QString::fromStdString(StoredSerialPattern()), this);
  stationPattern_->setObjectName("stationPattern");
  nextUnit_ = new QPushButton("&Next Unit", this);
  nextUnit_->setObjectName("nextUnit");
  nextUnit_->setEnabled(false);
  stationCounters_ = new QLabel(this);
  stationCounters_->setObjectName("stationCounters");
  stationRow->addWidget(stationMode_);
  stationRow->addWidget(new QLabel("Serial number pattern", this));
  stationRow->addWidget(stationPattern_, 1);
  stationRow->addWidget(nextUnit_);
  stationRow->addWidget(stationCounters_);
  layout->addLayout(stationRow);

  auto* boot = new QGroupBox("Boot", this);
  auto* bootForm = new QFormLayout(boot);
  bootPath_ = ReadOnly(boot, "bootPath");
  bootVersion_ = ReadOnly(boot, "bootVersion");
  serial_ = new QLineEdit(boot);
  serial_->setObjectName("serial");
  serial_->setMaxLength(static_cast<int>(production::kSerialMax));
  serial_->setValidator(new UpperCase(serial_));
  revision_ = new QLineEdit(boot);
  revision_->setObjectName("revision");
  revision_->setMaxLength(1);
  revision_->setValidator(new UpperCase(revision_));
  jtagId_ = ReadOnly(boot, "jtagId");
  bootForm->addRow("Path", bootPath_);
  bootForm->addRow("Version", bootVersion_);
  bootForm->addRow("TN835 Serial Number: ", serial_);
  bootForm->addRow("8251 Hardware Revision", revision_);
  bootForm->addRow("JTAG ID", jtagId_);
  unitHistory_ = new QListWidget(boot);
  unitHistory_->setObjectName("unitHistory");
  unitHistory_->setFixedHeight((unitHistory_->fontMetrics().lineSpacing() + 4) * static_cast<int>(kUnitHistoryRuns) +
                               unitHistory_->frameWidth() * 2 + 4);
  bootForm->addRow("Last runs of this unit", unitHistory_);
  bootForm->addRow(Note(production_text::kBootNote, boot));
  auto* programBoot = new QPushButton("Program &Boot", boot);
  programBoot->setObjectName("programBoot");
  bootForm->addRow(programBoot);
  layout->addWidget(boot);

  auto* app = new QGroupBox("Application", this);
  auto* appForm = new QFormLayout(app);
  applicationPath_ = ReadOnly(app, "applicationPath");
  applicationVersion_ = ReadOnly(app, "applicationVersion");
  models_ = new QComboBox(app);
  models_->setObjectName("models");
  for (const Tn835Model& m : Tn835Models()) models_->addItem(QString::fromLatin1(m.text));
  appForm->addRow("Path", applicationPath_);
  appForm->addRow("Version", applicationVersion_);
  appForm->addRow("Manufacturer", models_);
  appForm->addRow(Note(production_text::kApplicationNote, app));
  auto* programApp = new QPushButton("Program &Application", app);
  programApp->setObjectName("programApplication");
  appForm->addRow(programApp);
  layout->addWidget(app);

  auto* test = new QGroupBox("Test", this);
  auto* testForm = new QFormLayout(test);
  testPath_ = ReadOnly(test, "testPath");
  testVersion_ = ReadOnly(test, "testVersion");
  testForm->addRow("Path", testPath_);
  testForm->addRow("Version", testVersion_);
  testForm->addRow(Note(production_text::kTestNote, test));
  auto* programTest = new QPushButton("Program &Test", test);
  programTest->setObjectName("programTest");
  testForm->addRow(programTest);
  layout->addWidget(test);

  auto* exitRow = new QHBoxLayout;
  pleaseWait_ = new QLabel(QString::fromUtf8("Please wait\u2026"), this);
  pleaseWait_->setObjectName("pleaseWait");
  pleaseWait_->hide();
  exitRow->addWidget(pleaseWait_);
  exitRow->addStretch();
  auto* exit = new QPushButton("E&xit", this);
  exit->setObjectName("exit");
  exitRow->addWidget(exit);
  layout->addLayout(exitRow);

  models_->setCurrentIndex(0);
  connect(models_, &QComboBox::currentIndexChanged, this, [this](int index) {
    model_->SelectModel(index);
    ShowFields();
  });
  connect(programBoot, &QPushButton::clicked, this, [this] { Run(&ProductionModel::ProgramBoot); });
  connect(programApp, &QPushButton::clicked, this,
          [this] { Run(&ProductionModel::ProgramApplication); });
  connect(programTest, &QPushButton::clicked, this, [this] { Run(&ProductionModel::ProgramTest); });
  connect(exit, &QPushButton::clicked, this, &QDialog::accept);
  connect(serial_, &QLineEdit::textChanged, this, [this] { ShowUnitHistory(); });
  connect(stationMode_, &QCheckBox::toggled, this, [this](bool on) {
    if (!SetStationMode(on)) {
      const QSignalBlocker quiet(stationMode_);
      stationMode_->setChecked(false);
    }
  });
  connect(nextUnit_, &QPushButton::clicked, this, [this] { NextUnit(); });
  // Fields the run learns are shown at once, over whatever box it opens.
  model_->SetFieldsChanged([this] { OnGuiThread(this, [this] { ShowFields(); }); });
  ShowFields();
  serial_->setFocus();  // the serial number is what the operator types first
}

CTN820ProductionDialog::~CTN820ProductionDialog() = default;

void CTN820ProductionDialog::ShowFields() {
  productionVersion_->setText(QString::fromStdString(model_->ProductionVersion()));
  // The paths shown are the ones opened on this system.
  bootPath_->setText(QString::fromStdString(model_->OpenedBootPath()));
  applicationPath_->setText(QString::fromStdString(model_->OpenedApplicationPath()));
  testPath_->setText(QString::fromStdString(model_->OpenedTestPath()));
  bootVersion_->setText(QString::fromStdString(model_->BootVersion()));
  applicationVersion_->setText(QString::fromStdString(model_->ApplicationVersion()));
  testVersion_->setText(QString::fromStdString(model_->TestVersion()));
  jtagId_->setText(QString::fromStdString(model_->JtagIdText()));
}

void CTN820ProductionDialog::TakeEdits() {
  model_->SetSerialNumber(serial_->text().toStdString());
  model_->SetHardwareRevision(revision_->text().toStdString());
  model_->SelectModel(models_->currentIndex());
}

void CTN820ProductionDialog::Run(ResultCode (ProductionModel::*button)(LinkState&, Operator&,
                                                                          JobRunner&)) {
  // Each button runs to completion before the dialog answers again.
  if (running_) return;
  running_ = true;
  TakeEdits();
  // The JTAG reads before a boot image take seconds: the run goes on a
  // worker thread with every button off, and its programming dialog and
  // messages open over this one as usual.
  QList<QPushButton*> enabled;
  for (QPushButton* b : findChildren<QPushButton*>()) {
    if (b->isEnabled()) enabled << b;
    b->setEnabled(false);
  }
  pleaseWait_->show();
  RunOnWorker([&] { (model_.get()->*button)(link_, op_, runner_); });
  pleaseWait_->hide();
  for (QPushButton* b : enabled) b->setEnabled(true);
  ShowFields();
  AfterRun();
  running_ = false;
}

bool CTN820ProductionDialog::SetStationMode(bool on) {
  if (!on) {
    station_.reset();
    model_->SetLocked(false);
    models_->setEnabled(true);
    stationPattern_->setEnabled(true);
    nextUnit_->setEnabled(false);
    stationCounters_->clear();
    return true;
  }
  std::string error;
  const std::string text = stationPattern_->text().trimmed().toStdString();
  const auto pattern = SerialPattern::Parse(text, error);
  if (!pattern) {
    op_.ShowMessage("Serial number pattern " + text + ": " + error, MessageIcon::Exclamation);
    return false;
  }
  if (const std::string problem = Station(*pattern).NextSerialProblem(LocalNow()); !problem.empty()) {
    op_.ShowMessage(problem, MessageIcon::Exclamation);
    return false;
  }
  if (operatorName_.empty()) {
    operatorName_ = op_.AskText("Operator name:", "Station mode").value_or("");
    if (operatorName_.empty()) return false;
  }
  StoreSerialPattern(text);
  station_ = std::make_unique<Station>(*pattern);
  station_->SetOperatorName(operatorName_);
  model_->SetOperatorName(operatorName_);
  // The images of the shift stay the ones chosen now.
  TakeEdits();
  model_->SetLocked(true);
  models_->setEnabled(false);
  stationPattern_->setEnabled(false);
  nextUnit_->setEnabled(true);
  stationCounters_->setText(QString::fromStdString(station_->CountersText()));
  serial_->setText(QString::fromStdString(station_->NextSerial(LocalNow())));
  return true;
}

void CTN820ProductionDialog::NextUnit() {
  if (!station_ || running_) return;
  station_->Scan({});
  if (const std::string problem = station_->NextSerialProblem(LocalNow()); !problem.empty()) {
    op_.ShowMessage(problem, MessageIcon::Exclamation);
  }
  serial_->setText(QString::fromStdString(station_->NextSerial(LocalNow())));
  serial_->setFocus();
}

void CTN820ProductionDialog::AfterRun() {
  ShowUnitHistory();
  if (!station_) return;
  const ProductionLogRecord& record = model_->LastRecord();
  // A serial typed or scanned over the pattern's is logged as it is and
  // leaves the counter where it was (RunEnded moves it only for its own).
  const std::tm now = LocalNow();
  const ProductionImageKind kind = record.imageKind == "boot"   ? ProductionImageKind::Boot
                                   : record.imageKind == "test" ? ProductionImageKind::Test
                                                                : ProductionImageKind::Application;
  station_->RunEnded(kind, record.result, record.serialNumber, now);
  stationCounters_->setText(QString::fromStdString(station_->CountersText()));
}

void CTN820ProductionDialog::ShowUnitHistory() {
  unitHistory_->clear();
  std::string serial = serial_->text().trimmed().toUpper().toStdString();
  for (const HistoryRun& run : LastRunsOfUnit(model_->LogFile(), serial, kUnitHistoryRuns)) {
    unitHistory_->addItem(QString::fromStdString(HistoryRunLine(run)));
  }
}

void CTN820ProductionDialog::reject() {
  if (running_) return;
  QDialog::reject();
}

}  // namespace tarnvale::gui
