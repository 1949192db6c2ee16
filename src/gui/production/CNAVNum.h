#pragma once
// "NAV Number Check": asks for the part (NAV) number of the unit before a
// generation's production dialog opens.
#include <QDialog>
#include <string>

class QLineEdit;

namespace tarnvale::gui {

class CNAVNum : public QDialog {
  Q_OBJECT
 public:
  explicit CNAVNum(QWidget* parent = nullptr);
  // The text entered, exactly as typed.
  std::string Text() const;

 private:
  QLineEdit* edit_;
};

}  // namespace tarnvale::gui
