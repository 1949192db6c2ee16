#include "gui/programmer/TestButtonText.h"

namespace tarnvale::gui {
namespace {

// One letter per button in the order of TestButton; none is used twice.
constexpr char kKeys[] = "DACBEVLFJRPOG";
static_assert(sizeof(kKeys) - 1 == kTestButtonCount);

}  // namespace

QString TestButtonText(TestButton b) { return TestButtonText(b, QString::fromLatin1(ButtonCaption(b))); }

QString TestButtonText(TestButton b, const QString& caption) {
  QString text = caption;
  // The '&' goes before the first occurrence of the letter; a caption
  // without it is shown as it is.
  const int at = text.indexOf(QChar::fromLatin1(kKeys[static_cast<std::size_t>(b)]), 0,
                              Qt::CaseInsensitive);
  if (at >= 0) text.insert(at, '&');
  return text;
}

}  // namespace tarnvale::gui
