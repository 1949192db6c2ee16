#include "gui/backup/CDataBackup.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/backup/BackupDiff.h"
#include "core/operator/Operator.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/ui/RunProgressView.h"

namespace tarnvale::gui {

using namespace tarnvale::backup;

CDataBackup::CDataBackup(DataBackupModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  setWindowTitle("Data Backup");
  setModal(true);
  settings_ = new QCheckBox("Settings", this);
  parts_ = new QCheckBox("Parts", this);
  materials_ = new QCheckBox("Materials", this);
  save_ = new QPushButton("&Save Data", this);
  load_ = new QPushButton("&Load Data", this);
  diff_ = new QPushButton("Show &differences", this);
  diff_->setToolTip("What a load of a backup file would change in the controller (nothing is sent)");
  close_ = new QPushButton("&Close", this);
  // The run's section, its records, its warnings and "Stop".
  progress_ = new RunProgressView(this);
  progress_->SetStop([this] { job_.RequestStop(); });

  auto* boxes = new QVBoxLayout;
  boxes->addWidget(settings_);
  boxes->addWidget(parts_);
  boxes->addWidget(materials_);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(save_);
  buttons->addWidget(load_);
  buttons->addWidget(diff_);
  buttons->addStretch();
  buttons->addWidget(close_);
  auto* row = new QHBoxLayout;
  row->addLayout(boxes);
  row->addLayout(buttons);
  auto* top = new QVBoxLayout(this);
  top->addLayout(row);
  top->addWidget(progress_);

  connect(save_, &QPushButton::clicked, this, &CDataBackup::OnSaveData);
  connect(load_, &QPushButton::clicked, this, &CDataBackup::OnLoadData);
  connect(diff_, &QPushButton::clicked, this, &CDataBackup::OnShowDifferences);
  connect(close_, &QPushButton::clicked, this, &CDataBackup::reject);
}

CDataBackup::~CDataBackup() {
  job_.RequestStop();
  job_.Join();
}

QString CDataBackup::ProgressText() const { return progress_->Text(); }

void CDataBackup::TakeChoice() {
  model_.Choice().settings = settings_->isChecked();
  model_.Choice().parts = parts_->isChecked();
  model_.Choice().materials = materials_->isChecked();
}

void CDataBackup::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* w : {static_cast<QWidget*>(save_), static_cast<QWidget*>(load_), static_cast<QWidget*>(diff_),
                     static_cast<QWidget*>(close_), static_cast<QWidget*>(settings_),
                     static_cast<QWidget*>(parts_), static_cast<QWidget*>(materials_)}) {
    w->setEnabled(!busy);
  }
}

void CDataBackup::Start(BackupJob::StoppableWork work, std::function<void(const RunSummary&)> finished) {
  SetBusy(true);
  progress_->Begin();
  QPointer<CDataBackup> self(this);
  // The run's events reach the view in the one vocabulary of a run; its
  // summary is its finish.
  runEvents_ = std::make_unique<BackupRunEvents>(*progress_);
  const auto events = runEvents_->Progress();
  auto told = [inner = std::move(work), run = runEvents_.get()](const BackupProgress& progress,
                                                                const StopToken& stop) {
    const RunSummary summary = inner(progress, stop);
    run->Ended(summary);
    return summary;
  };
  const auto done = [self, finished](const RunSummary& summary) {
    QMetaObject::invokeMethod(
        self,
        [self, finished, summary] {
          if (!self) return;
          self->job_.Join();
          self->SetBusy(false);
          // A stopped read before a load asks nothing and sends nothing.
          finished(summary);
          if (self && self->closeWhenDone_ && !self->busy_) self->QDialog::reject();
        },
        Qt::QueuedConnection);
  };
  job_.Start(std::move(told), events, done);
}

void CDataBackup::OnSaveData() {
  if (busy_) return;
  TakeChoice();
  const auto path = model_.PrepareSave();
  if (!path) return;
  Start([this, p = *path](const BackupProgress& progress, const StopToken& stop) {
          return model_.Save(p, progress, stop);
        },
        [this](const RunSummary& s) {
          progress_->SetText(s.Success() ? "Saved." : "The save did not complete.");
          model_.Report(s);
        });
}

void CDataBackup::OnLoadData() {
  if (busy_) return;
  TakeChoice();
  const auto path = model_.PrepareLoad();
  if (!path) return;
  // The controller is read first, so the question can say what the load
  // would overwrite; only a Yes sends anything.
  auto controller = std::make_shared<tinyxml2::XMLDocument>();
  Start([this, controller](const BackupProgress& progress, const StopToken& stop) {
          return model_.ReadForLoad(*controller, progress, stop);
        },
        [this, controller, p = *path](const RunSummary& read) {
          if (!model_.ConfirmLoad(p, *controller, read)) {
            progress_->SetText("Nothing was loaded.");
            return;
          }
          Start([this, p](const BackupProgress& progress, const StopToken& stop) {
                  return model_.Load(p, progress, stop);
                },
                [this](const RunSummary& s) {
                  progress_->SetText(s.Success() ? "Loaded." : "The load did not complete.");
                  model_.Report(s);
                });
        });
}

void CDataBackup::OnShowDifferences() {
  if (busy_) return;
  TakeChoice();
  // Nothing ticked compares every section.
  if (model_.Choice().Selectors().empty()) model_.Choice() = {true, true, true};
  // The same questions as a load, but nothing is sent: the controller is
  // read into memory and compared with the file.
  const auto path = model_.PrepareLoad();
  if (!path) return;
  auto controller = std::make_shared<tinyxml2::XMLDocument>();
  SectionChoice choice = model_.Choice();
  if (choice.Selectors().empty()) choice = {true, true, true};
  Start([this, controller, choice](const BackupProgress& progress, const StopToken& stop) {
          return ReadController(model_.Port(), *controller, choice, progress, SystemClock(), stop);
        },
        [this, controller, choice, p = *path](const RunSummary& read) {
          if (closeWhenDone_) return;  // stopped by closing: nothing to show
          tinyxml2::XMLDocument file;
          std::string error;
          LoadBackupFile(p, file, error);
          QString text;
          if (!read.Success()) text = QString::fromStdString("The controller could not be read completely:\n" + read.Text() + "\n\n");
          text += QString::fromStdString(DiffText(DiffBackups(*controller, file, SectionNames(choice.Selectors()))));
          if (read.Success() && read.BadChecksums() > 0) {
            text += QString("\n%1 replies from the controller had a checksum that did not match (taken as received).\n")
                        .arg(read.BadChecksums());
          }
          progress_->SetText("Differences shown.");
          lastDifferences_ = text;
          QDialog view(this);
          view.setWindowTitle("Differences");
          auto* edit = new QPlainTextEdit(text, &view);
          edit->setReadOnly(true);
          edit->setObjectName("differences");
          auto* ok = new QDialogButtonBox(QDialogButtonBox::Close, &view);
          connect(ok, &QDialogButtonBox::rejected, &view, &QDialog::reject);
          // Every line reads controller → file: say so, or "old → new" has
          // no sides a person can tell.
          auto* sides = new QLabel(QString::fromStdString("The controller on " + model_.Port().PortName() +
                                                          " → the file " + p + " (what Load Data would change)"),
                                   &view);
          sides->setObjectName("sides");
          sides->setWordWrap(true);
          auto* layout = new QVBoxLayout(&view);
          layout->addWidget(sides);
          layout->addWidget(edit);
          layout->addWidget(ok);
          view.resize(700, 400);
          view.exec();
        });
}

void CDataBackup::OnStop() {
  if (busy_) progress_->Stop();
}

void CDataBackup::reject() {
  if (busy_) {
    // The run ends after the exchange under way; the dialog goes then.
    OnStop();
    closeWhenDone_ = true;
    return;
  }
  QDialog::reject();
}

void CDataBackup::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    reject();
    return;
  }
  QDialog::closeEvent(event);
}

void RunDataBackup(CMainFrame& frame) {
  frame.SetPolling(false);
  {
    DataBackupModel model(frame.Link(), frame.Op());
    if (model.Open()) {
      CDataBackup dialog(model, &frame);
      dialog.exec();
    }
    model.Close();
  }
  frame.SetPolling(true);
}

void InstallBackupCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::kDataBackup, [&frame] { RunDataBackup(frame); });
}

}  // namespace tarnvale::gui
