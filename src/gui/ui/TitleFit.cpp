#include "gui/ui/TitleFit.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLayout>
#include <QSpacerItem>
#include <QWidget>
#include <algorithm>

namespace tarnvale::gui {
namespace {

// Icon, three frame buttons and the gaps between them, in lines of the
// title font: about what common window managers draw.
constexpr int kFrameAllowanceLines = 8;

// Widens the dialog through an empty item of its layout, so that layouts
// that fix the dialog's size (SetFixedSize) respect the width as well.
class TitleKeeper : public QObject {
 public:
  explicit TitleKeeper(QWidget* dialog) : QObject(dialog), dialog_(dialog) {
    dialog->installEventFilter(this);
    Apply();
  }

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == dialog_ && e->type() == QEvent::WindowTitleChange) Apply();
    return false;
  }

 private:
  void Apply() {
    const int need = TitleWidth(dialog_->windowTitle());
    QLayout* layout = dialog_->layout();
    if (layout == nullptr) {
      dialog_->setMinimumWidth(std::max(dialog_->minimumWidth(), need));
      return;
    }
    const QMargins m = layout->contentsMargins();
    const int inner = std::max(0, need - m.left() - m.right());
    if (strut_ == nullptr) {
      strut_ = new QSpacerItem(inner, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
      layout->addItem(strut_);
    } else {
      strut_->changeSize(inner, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    layout->invalidate();
  }

  QWidget* dialog_;
  QSpacerItem* strut_ = nullptr;  // owned by the layout
};

}  // namespace

int TitleWidth(const QString& title) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  const QFontMetrics fm(font);
  return fm.horizontalAdvance(title) + kFrameAllowanceLines * fm.height();
}

void FitToTitle(QWidget* dialog) { new TitleKeeper(dialog); }

}  // namespace tarnvale::gui
