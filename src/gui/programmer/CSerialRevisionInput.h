#pragma once
// "Enter Serial / Revision Numbers": the board's serial numbers and revision
// letters before its boot flash is programmed, and "CPU Revision", the one
// letter "Read Flash Boot Image" asks for. Thin views over the core form.

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "core/programmer/BootFlash.h"

class QLineEdit;

namespace tarnvale::gui {

class CSerialRevisionInput : public QDialog {
  Q_OBJECT
 public:
  CSerialRevisionInput(SerialRevisionInput& input, QWidget* parent = nullptr);
  QLineEdit* Field(SerialField f) const { return fields_[static_cast<std::size_t>(f)]; }

  void accept() override;

 private:
  SerialRevisionInput& input_;
  std::array<QLineEdit*, 5> fields_{};
};

// The form of ProgramBootFlash shown as the dialog above.
class QtSerialRevisionForm : public SerialRevisionForm {
 public:
  explicit QtSerialRevisionForm(QWidget* parent) : parent_(parent) {}
  bool Show(SerialRevisionInput& input) override;

 private:
  QWidget* parent_;
};

// "CPU Revision" with "Enter CPU Revision:"; nothing for Cancel.
std::optional<std::string> AskCpuRevision(QWidget* parent);

}  // namespace tarnvale::gui
