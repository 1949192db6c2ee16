#pragma once
// The menu bar of the main window as data: every item in menu order with its
// command id and its status-bar prompt.

#include <span>

namespace tarnvale::gui {

struct CommandRow {
  const char* menuPath;  // menus from the bar down, separated by '>'
  const char* text;      // the item's text ('&' marks the mnemonic)
  int id;
  const char* prompt;    // status-bar prompt; empty when the item has none
};

std::span<const CommandRow> CommandTable();

// The accelerators of table 128: key sequence and the command it gives.
struct AcceleratorRow {
  const char* keys;
  int id;
};
std::span<const AcceleratorRow> AcceleratorTable128();

}  // namespace tarnvale::gui
