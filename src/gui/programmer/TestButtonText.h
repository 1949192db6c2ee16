#pragma once
// The text of a button of the CPU board test dialog: its caption with a
// mnemonic, so that Alt and one letter press it. Each button has its own
// letter.

#include <QString>

#include "core/programmer/TestCpuModel.h"

namespace tarnvale::gui {

QString TestButtonText(TestButton b);

}  // namespace tarnvale::gui
