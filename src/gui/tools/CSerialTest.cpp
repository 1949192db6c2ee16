#include "gui/tools/CSerialTest.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/roles/PortRoles.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/ui/CTerminalDialog.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {

CSerialTest::CSerialTest(SerialTestModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  setWindowTitle("Serial Tester");
  setModal(true);
  auto* prompt = new QLabel(SerialTestModel::kPrompt, this);
  line_ = new QLineEdit(QString::fromStdString(model.line), this);
  timeout_ = new QSpinBox(this);
  timeout_->setRange(static_cast<int>(SerialTestModel::kMinTimeoutMs), static_cast<int>(SerialTestModel::kMaxTimeoutMs));
  timeout_->setValue(static_cast<int>(model.timeoutMs));
  count_ = new QSpinBox(this);
  count_->setRange(static_cast<int>(SerialTestModel::kMinCount), static_cast<int>(SerialTestModel::kMaxCount));
  count_->setValue(static_cast<int>(model.count));
  file_ = new QLineEdit(QString::fromStdString(model.filePath), this);
  auto* send = new QPushButton("&Send", this);
  auto* sendFile = new QPushButton("Send &File", this);
  auto* browse = new QPushButton("&Browse", this);
  auto* close = new QPushButton("&Close", this);
  send->setDefault(true);

  auto* form = new QFormLayout;
  form->addRow("Response Timeout (ms)", timeout_);
  form->addRow("Characters to wait for:", count_);
  auto* lineRow = new QHBoxLayout;
  lineRow->addWidget(line_);
  lineRow->addWidget(send);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(file_);
  fileRow->addWidget(browse);
  fileRow->addWidget(sendFile);
  auto* top = new QVBoxLayout(this);
  top->addWidget(prompt);
  top->addLayout(lineRow);
  top->addLayout(form);
  top->addLayout(fileRow);
  pleaseWait_ = new QLabel(QString::fromUtf8("Please wait\u2026"), this);
  pleaseWait_->setObjectName("pleaseWait");
  pleaseWait_->hide();
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(pleaseWait_);
  bottom->addStretch();
  bottom->addWidget(close);
  top->addLayout(bottom);

  connect(send, &QPushButton::clicked, this, &CSerialTest::OnSend);
  connect(sendFile, &QPushButton::clicked, this, &CSerialTest::OnSendFile);
  connect(browse, &QPushButton::clicked, this, &CSerialTest::OnBrowse);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

void CSerialTest::TakeValues() {
  model_.line = line_->text().toStdString();
  model_.timeoutMs = static_cast<std::uint32_t>(timeout_->value());
  model_.count = static_cast<std::uint32_t>(count_->value());
  model_.filePath = file_->text().toStdString();
}

void CSerialTest::RunBusy(const std::function<void()>& exchange) {
  if (busy_) return;
  busy_ = true;
  const auto buttons = findChildren<QPushButton*>();
  for (QPushButton* b : buttons) b->setEnabled(false);
  pleaseWait_->show();
  RunOnWorker(exchange);
  pleaseWait_->hide();
  for (QPushButton* b : buttons) b->setEnabled(true);
  busy_ = false;
}

void CSerialTest::OnSend() {
  TakeValues();
  RunBusy([this] { model_.Send(); });
}

void CSerialTest::OnSendFile() {
  TakeValues();
  RunBusy([this] { model_.SendFile(); });
}

void CSerialTest::reject() {
  if (busy_) return;  // the exchange holds the port until its time-out
  QDialog::reject();
}

void CSerialTest::OnBrowse() {
  TakeValues();
  if (model_.Browse()) file_->setText(QString::fromStdString(model_.filePath));
}

void RunSerialTester(CMainFrame& frame) {
  LinkState& link = frame.Link();
  link.BeginCommand();
  {
    CTerminalDialog* view = frame.TerminalView();
    SerialTestModel model(
        link.EnsurePrimaryPort(),
        // Called from the exchange's worker thread: the view is the GUI's.
        [view](const std::string& text) {
          if (view != nullptr) OnGuiThread(view, [&] { view->AppendReceived(text); });
        },
        frame.Op());
    CSerialTest dialog(model, &frame);
    dialog.exec();
  }
  link.EndCommand();
}

void InstallToolCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::kSerialTester, [&frame] { RunSerialTester(frame); });
}

}  // namespace tarnvale::gui
