#include "gui/tools/CSerialTest.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/roles/PortRoles.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/ui/CTerminalDialog.h"
#include "gui/ui/QtOperator.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {
namespace {

QString LinesText(std::uint64_t done, std::uint64_t total) {
  return QStringLiteral("%1 of %2 lines sent").arg(done).arg(total);
}

// The file run's events, carried to the dialog's status line.
class StatusSink final : public RunSink {
 public:
  explicit StatusSink(QLabel* status) : status_(status) {}
  void OnEvent(const RunEvent& e) override {
    if (const auto* t = std::get_if<RunTotal>(&e)) total_ = t->units;
    if (const auto* p = std::get_if<RunProgress>(&e)) {
      done_ = p->units;
      const QString text = LinesText(done_, total_);
      QMetaObject::invokeMethod(status_, [label = status_, text] { label->setText(text); }, Qt::QueuedConnection);
    }
  }
  std::uint64_t Total() const { return total_; }

 private:
  QLabel* status_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
};

}  // namespace

CSerialTest::CSerialTest(const ModelMaker& makeModel, QWidget* parent)
    : QDialog(parent), op_(std::make_unique<QtOperator>(this)) {
  model_ = makeModel(*op_);
  SerialTestModel& model = *model_;
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
  stop_ = new QPushButton("S&top", this);
  stop_->setObjectName("stop");
  stop_->setEnabled(false);
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
  fileRow->addWidget(stop_);
  auto* top = new QVBoxLayout(this);
  top->addWidget(prompt);
  top->addLayout(lineRow);
  top->addLayout(form);
  top->addLayout(fileRow);
  fileStatus_ = new QLabel(this);
  fileStatus_->setObjectName("fileStatus");
  top->addWidget(fileStatus_);
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
  connect(stop_, &QPushButton::clicked, this, &CSerialTest::OnStop);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

CSerialTest::~CSerialTest() = default;

void CSerialTest::TakeValues() {
  model_->line = line_->text().toStdString();
  model_->timeoutMs = static_cast<std::uint32_t>(timeout_->value());
  model_->count = static_cast<std::uint32_t>(count_->value());
  model_->filePath = file_->text().toStdString();
}

void CSerialTest::SetButtons(bool enabled) {
  for (QPushButton* b : findChildren<QPushButton*>()) b->setEnabled(b == stop_ ? !enabled && sendingFile_ : enabled);
}

void CSerialTest::RunBusy(const std::function<void()>& exchange) {
  if (busy_) return;
  busy_ = true;
  SetButtons(false);
  pleaseWait_->show();
  RunOnWorker(exchange);
  pleaseWait_->hide();
  SetButtons(true);
  busy_ = false;
}

void CSerialTest::OnSend() {
  TakeValues();
  RunBusy([this] { model_->Send(); });
}

void CSerialTest::OnSendFile() {
  if (busy_) return;
  TakeValues();
  if (!model_->ReadFile()) {
    // The fixed text, and under it which file and why.
    QMessageBox box(QMessageBox::Warning, QString(), QStringLiteral("Unable to Open File!"), QMessageBox::Ok, this);
    box.setInformativeText(QString::fromStdString(model_->filePath + ": " + model_->fileProblem));
    box.exec();
    return;
  }
  // On the one job runner: the dialog's own loop goes on (Stop, Escape and
  // the close button reach OnStop) until the run's last act wakes it.
  busy_ = true;
  sendingFile_ = true;
  closeWhenStopped_ = false;
  SetButtons(false);
  pleaseWait_->show();
  fileStatus_->clear();
  StatusSink sink(fileStatus_);
  int sent = 0;
  QEventLoop loop;
  job_.SetFinishedHook([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
  job_.Rearm();
  job_.Start([this, &sink, &sent](const StopToken& stop) { sent = model_->SendReadFile(stop, sink); });
  loop.exec();
  job_.Join();
  job_.SetFinishedHook({});
  const bool stopped = model_->fileResult == rc::kStoppedByProgram;
  QString status = LinesText(static_cast<std::uint64_t>(sent), sink.Total());
  if (stopped) status = QStringLiteral("Stopped: ") + status;
  if (model_->fileResult == rc::kPortOpenFailed) status = QStringLiteral("Nothing sent: the port is not open");
  fileStatus_->setText(status);
  // The terminal keeps it after the dialog has gone.
  if (stopped) {
    const std::string name = QFileInfo(QString::fromStdString(model_->filePath)).fileName().toStdString();
    model_->Say("\nStopped: " + std::to_string(sent) + (sent == 1 ? " line of " : " lines of ") + name +
                (sent == 1 ? " was sent" : " were sent"));
  }
  pleaseWait_->hide();
  sendingFile_ = false;
  SetButtons(true);
  busy_ = false;
  if (closeWhenStopped_) QDialog::reject();
}

void CSerialTest::OnStop() {
  if (sendingFile_) job_.RequestStop();
}

void CSerialTest::reject() {
  // A file send stops between lines and the dialog closes when it has.
  if (sendingFile_) {
    closeWhenStopped_ = true;
    OnStop();
    return;
  }
  if (busy_) return;  // one line holds the port until its time-out
  QDialog::reject();
}

void CSerialTest::OnBrowse() {
  TakeValues();
  // Starts where the field points: its folder, or the file itself.
  const QString filter = QtOperator::ToQtFilter(SerialTestModel::kFileFilter);
  const QString chosen = QFileDialog::getOpenFileName(this, {}, file_->text(), filter);
  if (chosen.isEmpty()) return;
  model_->filePath = chosen.toStdString();
  file_->setText(chosen);
}

void RunSerialTester(CMainFrame& frame) {
  LinkState& link = frame.Link();
  link.BeginCommand();
  {
    CTerminalDialog* view = frame.TerminalView();
    CommPort& port = link.EnsurePrimaryPort();
    CSerialTest dialog(
        [&](Operator& op) {
          return std::make_unique<SerialTestModel>(
              port,
              // Called from the exchange's worker thread: the view is the GUI's.
              [view](const std::string& text) {
                if (view != nullptr) OnGuiThread(view, [&] { view->AppendReceived(text); });
              },
              op);
        },
        &frame);
    dialog.exec();
  }
  link.EndCommand();
}

void InstallToolCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::kSerialTester, [&frame] { RunSerialTester(frame); });
}

}  // namespace tarnvale::gui
