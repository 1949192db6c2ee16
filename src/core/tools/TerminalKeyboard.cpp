#include "core/tools/TerminalKeyboard.h"

namespace tarnvale {

void TerminalKeyboard::SendString(const std::string& text) {
  for (char c : text) sink_.SendByte(static_cast<std::uint8_t>(c));
}

bool TerminalKeyboard::KeyDown(TerminalKey key) {
  bool consumed = false;
  switch (key) {
    case TerminalKey::CtrlUp:
    case TerminalKey::CtrlDown:
      return true;  // swallowed before anything else looks at them
    case TerminalKey::Up:
      recalledCommand_ = typed_ = history_.GetPrev();
      recalled_ = true;
      consumed = true;
      break;
    case TerminalKey::Down:
      recalledCommand_ = typed_ = history_.GetNext();
      recalled_ = true;
      consumed = true;
      break;
    case TerminalKey::Backspace:
      if (recalled_) {
        if (!recalledCommand_.empty()) recalledCommand_.pop_back();
        typed_ = recalledCommand_;
        if (!typed_.empty()) {
          SendString(typed_);
        } else {
          sink_.ShowLastLine(":");
        }
        recalled_ = false;
        consumed = true;
      }
      break;
    case TerminalKey::Other:
      break;
  }
  if (recalled_ && !recalledCommand_.empty()) sink_.ShowLastLine(":" + recalledCommand_);
  return consumed;
}

void TerminalKeyboard::Char(std::uint8_t c) {
  if (c == kEnter) {
    if (recalled_) {
      SendString(recalledCommand_);
    } else {
      history_.AddCommand(typed_);
    }
    typed_.clear();
    history_.Reset();
    recalled_ = false;
    sink_.SendByte(kEnter);
    return;
  }
  if (recalled_) {
    SendString(typed_);
    typed_.push_back(static_cast<char>(c));
  } else if (c == kBackspace) {
    if (!typed_.empty()) typed_.pop_back();
  } else {
    typed_.push_back(static_cast<char>(c));
  }
  recalled_ = false;
  sink_.SendByte(c);
}

}  // namespace tarnvale
