#pragma once
// "Pin States": the expected and read level of every used CPU pin after one
// stage of the pin test, a green line where they agree and a red one where
// they differ. The window title names the stage.

#include <QDialog>
#include <string>

#include "core/programmer/PinImage.h"

namespace tarnvale::gui {

class CXListBox;

class CPinStateDialog : public QDialog {
  Q_OBJECT
 public:
  CPinStateDialog(const PinImage& expected, const PinImage& read, const std::string& title,
                  QWidget* parent = nullptr);
  CXListBox* List() const { return list_; }

 private:
  CXListBox* list_ = nullptr;
};

}  // namespace tarnvale::gui
