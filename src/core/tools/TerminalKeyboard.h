#pragma once
// The keyboard side of the terminal. Every typed character goes to the
// controller at once as one byte; nothing is echoed locally. The line typed
// since the last Enter is kept only to remember monitor commands, which Up
// and Down recall after a ":" on the view's last line. A recalled command is
// sent when the operator presses Enter, types on, or presses Backspace.

#include <cstdint>
#include <string>

#include "core/tools/CCmdList.h"

namespace tarnvale {

// Where the keyboard's effects go: the port and the view's last line.
class TerminalKeyboardSink {
 public:
  virtual ~TerminalKeyboardSink() = default;
  // One byte to the port, followed by the 1 ms pause that paces the
  // controller (the pause may be realised by the sink's own queue).
  virtual void SendByte(std::uint8_t byte) = 0;
  // Replaces the view's last line with the text (not finished).
  virtual void ShowLastLine(const std::string& text) = 0;
};

enum class TerminalKey {
  Up,
  Down,
  CtrlUp,    // swallowed
  CtrlDown,  // swallowed
  Backspace,
  Other,
};

class TerminalKeyboard {
 public:
  static constexpr std::uint8_t kEnter = 13;
  static constexpr std::uint8_t kBackspace = 8;

  explicit TerminalKeyboard(TerminalKeyboardSink& sink) : sink_(sink) {}

  // A key going down. True when the key is consumed here: no character
  // follows from it and the view does not act on it.
  bool KeyDown(TerminalKey key);
  // A character typed (Enter is 13, Backspace 8). Always consumed.
  void Char(std::uint8_t c);
  // Sends each character as typed would reach the port, without touching the
  // typed line or the history (recalled commands, pastes).
  void SendString(const std::string& text);

  const std::string& TypedLine() const { return typed_; }
  bool IsRecalled() const { return recalled_; }
  const std::string& RecalledCommand() const { return recalledCommand_; }
  CCmdList& History() { return history_; }

 private:
  TerminalKeyboardSink& sink_;
  std::string typed_;
  bool recalled_ = false;
  std::string recalledCommand_;
  CCmdList history_;
};

}  // namespace tarnvale
