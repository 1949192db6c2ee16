#pragma once
// What the terminal's received side needs from the text it shows: the view's
// last line is always the line being received, every finished line is frozen
// above it. The GUI implements this over its edit control; TextScreen keeps
// the same text in a string (tests, and any front end without a window).

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnvale {

class TerminalScreen {
 public:
  virtual ~TerminalScreen() = default;
  // Characters held, each line end counted as one.
  virtual std::size_t TextLength() const = 0;
  // Removes the text from its start to the start of line `lines` (counted
  // from 0); the whole text when there are not that many line ends.
  virtual void DeleteLeadingLines(std::size_t lines) = 0;
  // Replaces the last line (its first character to the end of the text) with
  // `text`; with endLine the line is finished and a new, empty last line
  // follows.
  virtual void ReplaceLastLine(std::string_view text, bool endLine) = 0;
  // Removes all text (the view's Clear View).
  virtual void Clear() = 0;
};

// A TerminalScreen over a string; lines are separated by '\n'.
class TextScreen : public TerminalScreen {
 public:
  std::size_t TextLength() const override { return text_.size(); }
  void DeleteLeadingLines(std::size_t lines) override;
  void ReplaceLastLine(std::string_view text, bool endLine) override;
  void Clear() override { text_.clear(); }

  const std::string& Text() const { return text_; }
  std::string LastLine() const;

 private:
  std::string text_;
};

}  // namespace tarnvale
