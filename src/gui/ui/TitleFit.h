#pragma once
// A window manager draws a dialog's title in the frame above it, beside the
// window icon and the frame's buttons, and cuts what does not fit. A dialog
// sized only to its controls is often narrower than its title.
//
// FitToTitle keeps a dialog at least as wide as its title needs, now and
// whenever the title changes; otherwise the dialog's layout sizes it as
// before. Call it once the dialog's layout is built.

#include <QString>

class QWidget;

namespace tarnvale::gui {

// The width a frame needs to show `title` whole: the text in the title
// font (bold, as most window managers draw it) and room for the window
// icon and the minimise, maximise and close buttons.
int TitleWidth(const QString& title);

void FitToTitle(QWidget* dialog);

}  // namespace tarnvale::gui
