#pragma once
// The "Serial Tester" dialog: a thin view over SerialTestModel. What is sent
// and received appears in the terminal view as "TX:" and "RX:" lines, and so
// does what went wrong (a line that is not valid, a port that is not open,
// no reply within the time-out). A send waits for the response (up to its
// time-out) on a worker thread while the dialog's buttons are off and it
// says "Please wait…". A file send is a run on a JobThread: the dialog
// shows how many lines went, and Stop, Escape or closing the dialog stop
// it between lines. Its messages ("Unable to Open File!") are the dialog's.
#include <QDialog>
#include <functional>
#include <memory>

#include "core/jobs/JobThread.h"
#include "core/tools/SerialTest.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tarnvale::gui {

class CMainFrame;
class QtOperator;

class CSerialTest : public QDialog {
  Q_OBJECT

 public:
  // The model is made with the dialog's own operator (Operator()), so its
  // messages and file choices belong to the dialog.
  using ModelMaker = std::function<std::unique_ptr<SerialTestModel>(tarnvale::Operator& dialogOperator)>;
  explicit CSerialTest(const ModelMaker& makeModel, QWidget* parent = nullptr);
  ~CSerialTest() override;

  void OnSend();
  void OnSendFile();
  void OnBrowse();
  void OnStop();

  QLineEdit* LineEdit() const { return line_; }
  QSpinBox* TimeoutBox() const { return timeout_; }
  QSpinBox* CountBox() const { return count_; }
  QLineEdit* FileEdit() const { return file_; }
  QLabel* FileStatus() const { return fileStatus_; }
  bool Busy() const { return busy_; }
  bool SendingFile() const { return sendingFile_; }
  SerialTestModel& Model() { return *model_; }

  void reject() override;

 private:
  void TakeValues();
  void SetButtons(bool enabled);
  // Runs an exchange off the GUI thread with the buttons off.
  void RunBusy(const std::function<void()>& exchange);

  std::unique_ptr<QtOperator> op_;
  std::unique_ptr<SerialTestModel> model_;
  QLineEdit* line_;
  QSpinBox* timeout_;
  QSpinBox* count_;
  QLineEdit* file_;
  QLabel* pleaseWait_;
  QLabel* fileStatus_;
  QPushButton* stop_;
  bool busy_ = false;
  bool sendingFile_ = false;
  bool closeWhenStopped_ = false;
  JobThread job_;  // last: stopped and joined first
};

// The "Serial Tester" menu command, between BeginCommand and EndCommand.
void RunSerialTester(CMainFrame& frame);
void InstallToolCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
