#pragma once
#include <QIcon>

namespace tarnvale::gui {

// The application icon from the built-in resources.
QIcon AppIcon();

}  // namespace tarnvale::gui
