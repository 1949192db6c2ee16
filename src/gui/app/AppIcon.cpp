#include "gui/app/AppIcon.h"

// The resources live in a static library; nothing would pull them into the
// program unless they are initialised by name.
static void InitTarnvaleResources() { Q_INIT_RESOURCE(tarnvale); }

namespace tarnvale::gui {

QIcon AppIcon() {
  static const bool initialised = (InitTarnvaleResources(), true);
  static_cast<void>(initialised);
  return QIcon(QStringLiteral(":/icons/tarnvale.png"));
}

}  // namespace tarnvale::gui
