#include "gui/programmer/CPinStateDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/ui/CXListBox.h"

namespace tarnvale::gui {

CPinStateDialog::CPinStateDialog(const PinImage& expected, const PinImage& read,
                                 const std::string& title, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromStdString(title));
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  // The headings stand over the columns of the fixed-width lines.
  auto* headings = new QHBoxLayout;
  for (const char* h : {"Pin\nName", "Expected\nValue", "Read\nValue"}) {
    auto* label = new QLabel(QString::fromLatin1(h), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFont(fixed);
    headings->addWidget(label);
  }
  headings->addStretch(1);
  layout->addLayout(headings);
  list_ = new CXListBox(this);
  list_->setFont(fixed);
  list_->setObjectName("list1083");
  for (const PinStateRow& row : PinStateRows(expected, read)) {
    list_->AddLine(CXListBox::Black, row.agrees ? CXListBox::Lime : CXListBox::Red, row.text);
  }
  list_->scrollToTop();
  layout->addWidget(list_);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(ok);
  resize(320, 520);
}

}  // namespace tarnvale::gui
