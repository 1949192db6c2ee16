#include "gui/production/CTN820ProductionDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <QVBoxLayout>

#include "gui/ui/WorkerWait.h"

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

QLabel* Note(const char* text, QWidget* parent) {
  auto* l = new QLabel(QString::fromLatin1(text), parent);
  l->setWordWrap(true);
  return l;
}

}  // namespace

CTN820ProductionDialog::CTN820ProductionDialog(ConfigData& settings, QWidget* owner, int generation,
                                               LinkState& link, Operator& op, JobRunner& runner,
                                               const std::string& nav, ProductionOptions options)
    : QDialog(owner), link_(link), op_(op), runner_(runner) {
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
  running_ = false;
}

void CTN820ProductionDialog::reject() {
  if (running_) return;
  QDialog::reject();
}

}  // namespace tarnvale::gui
