#include "gui/ui/Mnemonics.h"

#include <QAbstractButton>
#include <QDialogButtonBox>

namespace tarnvale::gui {

void GiveMnemonics(QDialogButtonBox* box) {
  for (QAbstractButton* b : box->buttons()) {
    QString text = b->text();
    if (text.contains('&')) continue;
    for (int i = 0; i < text.size(); ++i) {
      if (text.at(i).isLetterOrNumber()) {
        b->setText(text.insert(i, '&'));
        break;
      }
    }
  }
}

}  // namespace tarnvale::gui
