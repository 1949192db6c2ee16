#pragma once
// The standard buttons of a button box ("OK", "Cancel", "Close") come
// without a mnemonic on some platforms. GiveMnemonics puts '&' before the
// first letter of each button of the box that has none, so that Alt and
// that letter press it, as on every other button.

class QDialogButtonBox;

namespace tarnvale::gui {

void GiveMnemonics(QDialogButtonBox* box);

}  // namespace tarnvale::gui
