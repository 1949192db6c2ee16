#include "gui/programmer/TestCPUDialog.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/flash/QtJobRunner.h"
#include "gui/programmer/CPinStateDialog.h"
#include "gui/programmer/CSerialRevisionInput.h"

namespace tarnvale::gui {
namespace {

// The box is given a fixed time before its identification replies are read
// (up to 3.5 s); the wait cursor says the window is busy, not hung.
class BusyCursor {
 public:
  BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

// The verify reader's events, carried to the GUI thread.
class TestCPUDialog::VerifyRelay : public MemoryReadEvents {
 public:
  explicit VerifyRelay(TestCPUDialog& d) : d_(d) {}
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t position, std::uint32_t) override {
    QMetaObject::invokeMethod(&d_, [this, position] { d_.model_->VerifyProgress(position); },
                              Qt::QueuedConnection);
  }
  void OnDone(ResultCode code, std::uint32_t) override {
    QMetaObject::invokeMethod(&d_, [this, code] { d_.model_->VerifyRead(code); }, Qt::QueuedConnection);
  }

 private:
  TestCPUDialog& d_;
};

TestCPUDialog::TestCPUDialog(CommPort& port, Operator& op, QWidget* parent, BoxTimings timings)
    : QDialog(parent), op_(op) {
  setWindowTitle(test_text::kTitle);
  link_ = std::make_unique<BoxLink>(port, timings);
  model_ = std::make_unique<TestCpuModel>(*link_, *this, op, this);
  runner_ = std::make_unique<QtJobRunner>(this, op_);
  verifyRelay_ = std::make_unique<VerifyRelay>(*this);

  auto* layout = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  layout->addLayout(left, 0);

  // Identification.
  auto* idBox = new QGroupBox("Board", this);
  auto* idGrid = new QGridLayout(idBox);
  const char* labels[5] = {"RQ700 Serial Number", "7193 Revision", "7193 Serial Number",
                           "7194 Revision", "7194 Serial Number"};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    auto* edit = new QLineEdit(this);
    const auto f = static_cast<BoardField>(i);
    const bool revision = f == BoardField::CpuRevision || f == BoardField::IoRevision;
    edit->setReadOnly(!revision);
    if (revision) {
      edit->setMaxLength(1);
      edit->setMaximumWidth(40);
    }
    fields_[i] = edit;
    idGrid->addWidget(new QLabel(labels[i], this), static_cast<int>(i), 0);
    idGrid->addWidget(edit, static_cast<int>(i), 1);
  }
  left->addWidget(idBox);

  auto makeButton = [this](TestButton b) {
    auto* button = new QPushButton(ButtonCaption(b), this);
    button->setAutoDefault(false);
    buttons_[static_cast<std::size_t>(b)] = button;
    connect(button, &QPushButton::clicked, this, [this, b] { OnButton(b); });
    return button;
  };
  auto group = [&](const char* title, std::initializer_list<TestButton> list) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    int i = 0;
    for (TestButton b : list) {
      grid->addWidget(makeButton(b), i / 2, i % 2);
      ++i;
    }
    left->addWidget(box);
    return grid;
  };
  group("Identification", {TestButton::ReadJtagId, TestButton::ReadFlashId});
  group("Lines", {TestButton::TestData, TestButton::TestAddress, TestButton::TestControls,
                  TestButton::TestCpu});
  QGridLayout* ram = group("RAM", {TestButton::LoadRam, TestButton::TestRam});
  auto* bankRow = new QHBoxLayout;
  bankRow->addWidget(new QLabel("Bank", this));
  bank_ = new QSpinBox(this);
  bank_->setRange(1, 1);
  bank_->setValue(1);
  bankRow->addWidget(bank_);
  ram->addLayout(bankRow, 1, 0, 1, 2);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  ram->addWidget(progress_, 2, 0, 1, 2);
  group("Boot Flash", {TestButton::BlankTest, TestButton::EraseFlash, TestButton::VerifyFlash,
                       TestButton::ReadBoot, TestButton::ProgramBoot});
  left->addStretch(1);

  list_ = new QListWidget(this);
  list_->setObjectName("list1083");
  list_->setMinimumWidth(460);
  layout->addWidget(list_, 1);
  resize(900, 560);

  // Until the flash ID has been read, only the identification and line tests.
  SetButtons(model_->IdleButtons());
}

TestCPUDialog::~TestCPUDialog() {
  if (!closing_) model_->Close();
}

void TestCPUDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (opened_) return;
  opened_ = true;
  // After the window is up, so the operator sees it while the box answers.
  QTimer::singleShot(0, this, [this] {
    BusyCursor busy;
    model_->Open();
  });
}

void TestCPUDialog::done(int r) {
  if (!closing_) {
    closing_ = true;
    model_->Close();
  }
  QDialog::done(r);
}

void TestCPUDialog::OnButton(TestButton b) {
  switch (b) {
    case TestButton::ReadFlashId: {
      BusyCursor busy;
      model_->ReadFlashId(Field(BoardField::CpuRevision)->text().toStdString(),
                          Field(BoardField::IoRevision)->text().toStdString());
      break;
    }
    case TestButton::ReadJtagId: {
      BusyCursor busy;
      model_->ReadJtagId();
      break;
    }
    case TestButton::TestData: model_->ToggleLineTest(kLineTestData); break;
    case TestButton::TestAddress: model_->ToggleLineTest(kLineTestAddress); break;
    case TestButton::TestControls: model_->ToggleProbing(); break;
    case TestButton::TestCpu: model_->TestCpu(); break;
    case TestButton::LoadRam: model_->StartRam(false, bank_->value()); break;
    case TestButton::TestRam: model_->StartRam(true, bank_->value()); break;
    case TestButton::BlankTest:
    case TestButton::EraseFlash: {
      BusyCursor busy;
      model_->BlankOrErase(b == TestButton::EraseFlash);
      break;
    }
    case TestButton::VerifyFlash: model_->StartVerify(verifyRelay_.get(), bootSettleMs_); break;
    case TestButton::ReadBoot:
      model_->ReadBoot(*runner_, Field(BoardField::CpuRevision)->text().toStdString());
      break;
    case TestButton::ProgramBoot: {
      QtSerialRevisionForm form(this);
      model_->ProgramBoot(*runner_, form, Field(BoardField::CpuRevision)->text().toStdString(),
                          Field(BoardField::IoRevision)->text().toStdString());
      break;
    }
    default: break;
  }
}



void TestCPUDialog::AddLine(const std::string& text) {
  list_->addItem(QString::fromStdString(text));
  list_->scrollToBottom();
}

void TestCPUDialog::SetButtons(const ButtonStates& enabled) {
  for (std::size_t i = 0; i < kTestButtonCount; ++i) buttons_[i]->setEnabled(enabled[i]);
}

void TestCPUDialog::SetField(BoardField field, const std::string& text) {
  Field(field)->setText(QString::fromStdString(text));
}

void TestCPUDialog::SetBankRange(int low, int high) { bank_->setRange(low, high); }

void TestCPUDialog::SetProgress(int percent) { progress_->setValue(percent); }

void TestCPUDialog::ShowPinStates(const PinImage& expected, const PinImage& read,
                                  const std::string& title) {
  if (pinRunner_) {
    pinRunner_(expected, read, title);
    return;
  }
  CPinStateDialog dialog(expected, read, title, this);
  dialog.exec();
}

void TestCPUDialog::OnRamProgress(std::uint32_t percent) {
  QMetaObject::invokeMethod(this, [this, percent] { model_->RamProgress(percent); },
                            Qt::QueuedConnection);
}

void TestCPUDialog::OnRamFinished(ResultCode code, const RamStatus& last) {
  QMetaObject::invokeMethod(this, [this, code, last] { model_->RamFinished(code, last); },
                            Qt::QueuedConnection);
}

}  // namespace tarnvale::gui
