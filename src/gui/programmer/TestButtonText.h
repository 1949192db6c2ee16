#pragma once
// The text of a button of the CPU board test dialog: its caption with a
// mnemonic, so that Alt and one letter press it. Each button has its own
// letter, which it keeps when its caption changes (a running line test's
// "Turn off ..." caption and back).

#include <QString>

#include "core/programmer/TestCpuModel.h"

namespace tarnvale::gui {

QString TestButtonText(TestButton b);
// `caption` with the button's letter marked.
QString TestButtonText(TestButton b, const QString& caption);

}  // namespace tarnvale::gui
