#include "core/tools/TerminalScreen.h"

namespace tarnvale {

void TextScreen::DeleteLeadingLines(std::size_t lines) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < lines; ++i) {
    const std::size_t nl = text_.find('\n', pos);
    if (nl == std::string::npos) {
      text_.clear();
      return;
    }
    pos = nl + 1;
  }
  text_.erase(0, pos);
}

void TextScreen::ReplaceLastLine(std::string_view text, bool endLine) {
  const std::size_t nl = text_.rfind('\n');
  text_.erase(nl == std::string::npos ? 0 : nl + 1);
  text_.append(text);
  if (endLine) text_.push_back('\n');
}

std::string TextScreen::LastLine() const {
  const std::size_t nl = text_.rfind('\n');
  return nl == std::string::npos ? text_ : text_.substr(nl + 1);
}

}  // namespace tarnvale
