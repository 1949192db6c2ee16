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
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/flash/QtJobRunner.h"
#include "gui/programmer/CPinStateDialog.h"
#include "gui/programmer/CSerialRevisionInput.h"
#include "gui/programmer/TestButtonText.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {

// The verify reader's events, carried to the GUI thread.
class TestCPUDialog::VerifyRelay : public MemoryReadEvents {
 public:
  explicit VerifyRelay(TestCPUDialog& d) : d_(d) {}
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t position, std::uint32_t) override {
    QMetaObject::invokeMethod(&d_, [this, position] { d_.OnModel([=, this] { d_.model_->VerifyProgress(position); }); },
                              Qt::QueuedConnection);
  }
  void OnDone(ResultCode code, std::uint32_t) override {
    QMetaObject::invokeMethod(&d_, [this, code] { d_.OnModel([=, this] { d_.model_->VerifyRead(code); }); },
                              Qt::QueuedConnection);
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
    auto* button = new QPushButton(TestButtonText(b), this);
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
  // A running line test's button reads "Turn off ... Line Test": room for it
  // from the start, so the buttons do not move when it changes.
  for (const auto& [b, running] : {std::pair{TestButton::TestData, test_text::kDataOff},
                                   std::pair{TestButton::TestAddress, test_text::kAddressOff},
                                   std::pair{TestButton::TestControls, test_text::kControlsOff}}) {
    QPushButton* button = Button(b);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QString::fromUtf8(running)) + 24);
  }
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
  // The longest line the dialog itself lists (the flash mode advice) fits
  // whole at the default size, with room for the list's frame and scroll bar.
  const QFontMetrics metrics(list_->font());
  int widest = 460;
  for (const char* text : {flash_text::kFlashModeAdvice, flash_text::kRevisionAdvice}) {
    widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(text)));
  }
  list_->setMinimumWidth(widest + 2 * list_->frameWidth() +
                         list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
  layout->addWidget(list_, 1);
  pleaseWait_ = new QLabel(QString::fromUtf8("Please wait\u2026"), this);
  pleaseWait_->setObjectName("pleaseWait");
  pleaseWait_->hide();
  left->addWidget(pleaseWait_);
  resize(std::max(900, sizeHint().width()), std::max(560, sizeHint().height()));

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
  QTimer::singleShot(0, this, [this] { Busy([this] { model_->Open(); }); });
}

void TestCPUDialog::done(int r) {
  if (busy_) {
    // An exchange holds the box: the dialog goes once it has ended, and a
    // CPU pin test under way ends at its next step.
    closeAfterExchange_ = r;
    model_->RequestClose();
    return;
  }
  if (!closing_) {
    closing_ = true;
    // A RAM run is given up to 5 s to end: the window repaints meanwhile.
    Busy([this] { model_->Close(); });
  }
  QDialog::done(r);
}

void TestCPUDialog::Busy(const std::function<void()>& exchange) {
  if (busy_) return;
  busy_ = true;
  // The buttons the model leaves on come back after the exchange; what it
  // sets meanwhile is kept for then.
  ButtonStates before{};
  for (std::size_t i = 0; i < kTestButtonCount; ++i) before[i] = buttons_[i]->isEnabled();
  pendingButtons_ = before;
  for (QPushButton* b : buttons_) b->setEnabled(false);
  bank_->setEnabled(false);
  pleaseWait_->show();
  RunOnWorker(exchange);
  pleaseWait_->hide();
  busy_ = false;
  SetButtons(pendingButtons_);
  // Events of the RAM watcher or the verify reader that came meanwhile.
  auto deferred = std::move(deferred_);
  deferred_.clear();
  for (const auto& f : deferred) f();
  if (closeAfterExchange_) {
    const int r = *closeAfterExchange_;
    closeAfterExchange_.reset();
    done(r);
  }
}

void TestCPUDialog::OnModel(const std::function<void()>& f) {
  // The model is the exchange's while one runs.
  if (busy_) {
    deferred_.push_back(f);
    return;
  }
  f();
}

void TestCPUDialog::OnButton(TestButton b) {
  switch (b) {
    case TestButton::ReadFlashId: {
      const std::string cpu = Field(BoardField::CpuRevision)->text().toStdString();
      const std::string io = Field(BoardField::IoRevision)->text().toStdString();
      Busy([&] { model_->ReadFlashId(cpu, io); });
      break;
    }
    case TestButton::ReadJtagId: Busy([this] { model_->ReadJtagId(); }); break;
    case TestButton::TestData: Busy([this] { model_->ToggleLineTest(kLineTestData); }); break;
    case TestButton::TestAddress: Busy([this] { model_->ToggleLineTest(kLineTestAddress); }); break;
    case TestButton::TestControls: Busy([this] { model_->ToggleProbing(); }); break;
    case TestButton::TestCpu: Busy([this] { model_->TestCpu(); }); break;
    case TestButton::LoadRam:
    case TestButton::TestRam: {
      const int bank = bank_->value();
      Busy([this, b, bank] { model_->StartRam(b == TestButton::TestRam, bank); });
      break;
    }
    case TestButton::BlankTest:
    case TestButton::EraseFlash: Busy([this, b] { model_->BlankOrErase(b == TestButton::EraseFlash); }); break;
    case TestButton::VerifyFlash: Busy([this] { model_->StartVerify(verifyRelay_.get(), bootSettleMs_); }); break;
    case TestButton::ReadBoot: {
      const std::string cpu = Field(BoardField::CpuRevision)->text().toStdString();
      Busy([&] { model_->ReadBoot(*runner_, cpu); });
      break;
    }
    case TestButton::ProgramBoot: {
      QtSerialRevisionForm form(this);
      const std::string cpu = Field(BoardField::CpuRevision)->text().toStdString();
      const std::string io = Field(BoardField::IoRevision)->text().toStdString();
      Busy([&] { model_->ProgramBoot(*runner_, form, cpu, io); });
      break;
    }
    default: break;
  }
}



// The view calls come from an exchange's worker thread too: each runs on
// the GUI thread.

void TestCPUDialog::AddLine(const std::string& text) {
  OnGuiThread(this, [&] {
    list_->addItem(QString::fromStdString(text));
    list_->scrollToBottom();
  });
}

void TestCPUDialog::SetButtons(const ButtonStates& enabled) {
  OnGuiThread(this, [&] {
    if (busy_) {
      pendingButtons_ = enabled;
      return;
    }
    for (std::size_t i = 0; i < kTestButtonCount; ++i) buttons_[i]->setEnabled(enabled[i]);
    // The bank goes with the RAM buttons: fixed while a run uses it.
    bank_->setEnabled(enabled[static_cast<std::size_t>(TestButton::LoadRam)] ||
                      enabled[static_cast<std::size_t>(TestButton::TestRam)]);
  });
}

void TestCPUDialog::SetField(BoardField field, const std::string& text) {
  OnGuiThread(this, [&] { Field(field)->setText(QString::fromStdString(text)); });
}

void TestCPUDialog::SetBankRange(int low, int high) {
  OnGuiThread(this, [&] { bank_->setRange(low, high); });
}

void TestCPUDialog::SetProgress(int percent) {
  OnGuiThread(this, [&] { progress_->setValue(percent); });
}

void TestCPUDialog::ShowPinStates(const PinTestReport& report) {
  OnGuiThread(this, [&] {
    if (pinRunner_) {
      pinRunner_(report);
      return;
    }
    CPinStateDialog dialog(report, this);
    dialog.exec();
  });
}

void TestCPUDialog::SetButtonCaption(TestButton button, const std::string& text) {
  OnGuiThread(this, [&] { Button(button)->setText(TestButtonText(button, QString::fromStdString(text))); });
}

void TestCPUDialog::OnRamProgress(std::uint32_t percent) {
  QMetaObject::invokeMethod(this, [this, percent] { OnModel([=, this] { model_->RamProgress(percent); }); },
                            Qt::QueuedConnection);
}

void TestCPUDialog::OnRamFinished(ResultCode code, const RamStatus& last) {
  QMetaObject::invokeMethod(this, [this, code, last] { OnModel([=, this] { model_->RamFinished(code, last); }); },
                            Qt::QueuedConnection);
}

}  // namespace tarnvale::gui
