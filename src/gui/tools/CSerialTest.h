#pragma once
// The "Serial Tester" dialog: a thin view over SerialTestModel. What is sent
// and received appears in the terminal view as "TX:" and "RX:" lines.
#include <QDialog>

#include "core/tools/SerialTest.h"

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

 private:
  void TakeValues();

  SerialTestModel& model_;
  QLineEdit* line_;
  QSpinBox* timeout_;
  QSpinBox* count_;
  QLineEdit* file_;
};

// The "Serial Tester" menu command, between BeginCommand and EndCommand.
void RunSerialTester(CMainFrame& frame);
void InstallToolCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
