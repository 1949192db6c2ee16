#pragma once
#include <QDialog>

namespace tarnvale::gui {

// The version shown to the operator (the project version, 2.41).
inline constexpr const char* kVersionText = TARNVALE_VERSION;

// "About Tarnvale": the application icon, the version and OK.
class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  static QString VersionLabelText();
};

}  // namespace tarnvale::gui
