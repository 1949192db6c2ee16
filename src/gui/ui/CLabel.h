#pragma once
// A label with a font of its own size (the TN835 title of the production dialog).
#include <QLabel>

namespace tarnvale::gui {

class CLabel : public QLabel {
  Q_OBJECT
 public:
  explicit CLabel(const QString& text = {}, QWidget* parent = nullptr);
  // Keeps the face, changes the size in points, and redraws.
  void SetFontSize(int points);
};

}  // namespace tarnvale::gui
