#pragma once
// The "Data Backup" dialog: a thin view over DataBackupModel. Saves and
// loads run on a worker (BackupJob) while the dialog's run view shows the
// section and its records (RunProgressView) and accepts nothing but "Stop";
// the worker is joined before the dialog goes. "Stop", Escape and the close box stop a run after the
// exchange under way (a save keeps what it gathered in "PATH.partial" and
// leaves PATH as it was); Escape and the close box then close the dialog.
#include <QDialog>
#include <memory>

#include "core/backup/BackupJob.h"
#include "core/backup/DataBackupModel.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tarnvale::gui {

class RunProgressView;

class CDataBackup : public QDialog {
  Q_OBJECT

 public:
  CDataBackup(backup::DataBackupModel& model, QWidget* parent = nullptr);
  ~CDataBackup() override;

  // Run modally: the model must already be open.
  void OnSaveData();
  void OnLoadData();
  void OnShowDifferences();
  bool Busy() const { return busy_; }
  QString ProgressText() const;
  // The text of the last "Show differences".
  const QString& LastDifferences() const { return lastDifferences_; }
  // Asks a running transfer to stop; its summary is reported as usual.
  void OnStop();
  // Closing stops a running transfer, and closes once it has ended.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void TakeChoice();
  void SetBusy(bool busy);
  void Start(backup::BackupJob::StoppableWork work, std::function<void(const backup::RunSummary&)> finished);

  backup::DataBackupModel& model_;
  std::unique_ptr<backup::BackupRunEvents> runEvents_;  // of the run under way
  backup::BackupJob job_;
  bool busy_ = false;
  bool closeWhenDone_ = false;
  QCheckBox* settings_;
  QCheckBox* parts_;
  QCheckBox* materials_;
  QPushButton* save_;
  QPushButton* load_;
  QPushButton* diff_;
  QPushButton* close_;
  RunProgressView* progress_;
  QString lastDifferences_;
};

// The "Data Backup" menu command: takes the primary port over (terminal
// polling off), runs the dialog, and hands the port back.
class CMainFrame;
void RunDataBackup(CMainFrame& frame);
void InstallBackupCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
