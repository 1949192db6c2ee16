#pragma once
// The "Serial Tester" dialog: a thin view over SerialTestModel. What is sent
// and received appears in the terminal view as "TX:" and "RX:" lines. A send
// waits for the response (up to its time-out) and a file send takes as long
// as the file: both run on a worker thread while the dialog's buttons are
// off and it says "Please wait…"; it does not close meanwhile.
#include <QDialog>
#include <functional>

#include "core/tools/SerialTest.h"

class QLabel;
class QLineEdit;
class QSpinBox;

namespace tarnvale::gui {

class CMainFrame;

class CSerialTest : public QDialog {
  Q_OBJECT

 public:
  CSerialTest(SerialTestModel& model, QWidget* parent = nullptr);

  void OnSend();
  void OnSendFile();
  void OnBrowse();

  QLineEdit* LineEdit() const { return line_; }
  QSpinBox* TimeoutBox() const { return timeout_; }
  QSpinBox* CountBox() const { return count_; }
  QLineEdit* FileEdit() const { return file_; }
  bool Busy() const { return busy_; }

  void reject() override;

 private:
  void TakeValues();
  // Runs an exchange off the GUI thread with the buttons off.
  void RunBusy(const std::function<void()>& exchange);

  SerialTestModel& model_;
  QLineEdit* line_;
  QSpinBox* timeout_;
  QSpinBox* count_;
  QLineEdit* file_;
  QLabel* pleaseWait_;
  bool busy_ = false;
};

// The "Serial Tester" menu command, between BeginCommand and EndCommand.
void RunSerialTester(CMainFrame& frame);
void InstallToolCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
