#include "gui/programmer/CPinStateDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/ui/CXListBox.h"
#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"

namespace {
// The list draws its lines this far in from its own edge.
constexpr int kListTextIndent = 4;
}  // namespace

namespace tarnvale::gui {

CPinStateDialog::CPinStateDialog(const PinImage& expected, const PinImage& read,
                                 const std::string& title, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromStdString(title));
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  // The three two-line headings, spaced in the list's fixed-width columns
  // (name right-aligned in 9 characters, then the two levels).
  auto* headings = new QLabel(QStringLiteral("      Pin Expected   Read\n     Name    Value  Value"), this);
  headings->setFont(fixed);
  headings->setContentsMargins(kListTextIndent, 0, 0, 0);
  layout->addWidget(headings);
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
  GiveMnemonics(ok);
  layout->addWidget(ok);
  FitToTitle(this);
  resize(360, 560);
}

}  // namespace tarnvale::gui
