#include "gui/programmer/CSerialRevisionInput.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {

CSerialRevisionInput::CSerialRevisionInput(SerialRevisionInput& input, QWidget* parent)
    : QDialog(parent), input_(input) {
  setWindowTitle(QString::fromUtf8(boot_text::kFormTitle));
  auto* layout = new QVBoxLayout(this);
  auto make = [this](SerialField f, const char* name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromUtf8(name));
    e->setMaxLength(static_cast<int>(SerialRevisionInput::MaxLength(f)));
    e->setText(QString::fromStdString(input_.Field(f)));
    fields_[static_cast<std::size_t>(f)] = e;
    return e;
  };
  auto* top = new QFormLayout;
  top->addRow(tr("RQ700 Serial Number"), make(SerialField::ControllerSerial, "edit1069"));
  layout->addLayout(top);
  auto group = [&](const char* title, SerialField rev, const char* revName, SerialField serial,
                   const char* serialName) {
    auto* box = new QGroupBox(QString::fromUtf8(title), this);
    auto* form = new QFormLayout(box);
    form->addRow(tr("Revision"), make(rev, revName));
    form->addRow(tr("Serial Number"), make(serial, serialName));
    layout->addWidget(box);
  };
  group("7193", SerialField::CpuRevision, "edit1065", SerialField::CpuSerial, "edit1067");
  group("7194", SerialField::IoRevision, "edit1066", SerialField::IoSerial, "edit1068");
  // A typed revision reads the flash ID again with that letter's algorithm.
  connect(Field(SerialField::CpuRevision), &QLineEdit::textEdited, this,
          [this](const QString& t) { input_.RevisionTyped(true, t.toUpper().toStdString()); });
  connect(Field(SerialField::IoRevision), &QLineEdit::textEdited, this,
          [this](const QString& t) { input_.RevisionTyped(false, t.toUpper().toStdString()); });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  GiveMnemonics(buttons);
  layout->addWidget(buttons);
  FitToTitle(this);
}

void CSerialRevisionInput::accept() {
  for (SerialField f : {SerialField::ControllerSerial, SerialField::CpuRevision, SerialField::CpuSerial,
                        SerialField::IoRevision, SerialField::IoSerial}) {
    std::string text = Field(f)->text().toStdString();
    if (f == SerialField::CpuRevision || f == SerialField::IoRevision) {
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    input_.Field(f) = text;
  }
  QDialog::accept();
}

bool QtSerialRevisionForm::Show(SerialRevisionInput& input) {
  // Asked from the command's worker thread; the form is the GUI thread's.
  return OnGuiThread<bool>(parent_, [&] {
    CSerialRevisionInput dialog(input, parent_);
    return dialog.exec() == QDialog::Accepted;
  });
}

std::optional<std::string> AskCpuRevision(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QString::fromUtf8(boot_text::kRevisionTitle));
  auto* layout = new QFormLayout(&dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName(QStringLiteral("edit1138"));
  edit->setMaxLength(1);
  layout->addRow(QString::fromUtf8(boot_text::kRevisionPrompt), edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  GiveMnemonics(buttons);
  layout->addRow(buttons);
  FitToTitle(&dialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return edit->text().toUpper().toStdString();
}

}  // namespace tarnvale::gui
