#include "gui/ui/CLabel.h"

namespace tarnvale::gui {

CLabel::CLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setAutoFillBackground(true);
  setForegroundRole(QPalette::WindowText);
  setBackgroundRole(QPalette::Window);
}

void CLabel::SetFontSize(int points) {
  QFont f = font();
  f.setPointSize(points);
  setFont(f);
  updateGeometry();
  update();
  if (parentWidget() != nullptr) parentWidget()->update(geometry());
}

}  // namespace tarnvale::gui
