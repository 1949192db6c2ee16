#include "gui/production/CNAVNum.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/production/NavNumber.h"
#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"

namespace tarnvale::gui {

CNAVNum::CNAVNum(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(nav_text::kTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromLatin1(nav_text::kPrompt), this));
  edit_ = new QLineEdit(this);
  edit_->setObjectName("nav");
  layout->addWidget(edit_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  GiveMnemonics(buttons);
  layout->addWidget(buttons);
  FitToTitle(this);
  edit_->setFocus();
}

std::string CNAVNum::Text() const { return edit_->text().toStdString(); }

}  // namespace tarnvale::gui
