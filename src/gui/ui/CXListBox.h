#pragma once
// A list of coloured lines (the pin states of the CPU board test). Each
// stored item is its text preceded by two bytes: the text colour index + 1
// and the background colour index + 1, into a fixed 16-colour palette. The
// text is UTF-8, as every text of the program (a short reads "D3–D4").

#include <QListWidget>
#include <array>
#include <cstdint>
#include <string>

namespace tarnvale::gui {

class CXListBox : public QListWidget {
  Q_OBJECT
 public:
  enum Colour {
    Black, White, Maroon, Green, Olive, Navy, Purple, Teal,
    Silver, Grey, Red, Lime, Yellow, Blue, Fuchsia, Aqua,
  };
  // 0x00BBGGRR values of the palette, by index.
  static const std::array<std::uint32_t, 16>& Palette();
  // Role under which an item keeps its stored form (colour bytes + text).
  static constexpr int kStoredRole = Qt::UserRole + 1;

  explicit CXListBox(QWidget* parent = nullptr);

  // Adds a line; CR and LF in the text become spaces. A text colour of 16 or
  // more draws black; a background outside the palette draws white.
  void AddLine(int textColour, int backgroundColour, const std::string& text);
  // The text of line `index` without its colour bytes; false when no such line.
  bool GetLineText(int index, std::string& text) const;

  // The selected lines as plain text on the clipboard, one per line; the
  // clipboard is left alone when nothing is selected.
  void Copy();
  void Clear();
  void SelectAll();

  void SetColourMode(bool on) { colourMode_ = on; }
  // Selected items in the highlight colours (off: in their own colours).
  void SetHighlightSelected(bool on);
  bool HighlightSelected() const { return highlightSelected_; }
  // Items kept before the oldest are dropped (the list's room).
  void SetCapacity(int items) { capacity_ = items; }

 private:
  bool colourMode_ = true;
  bool highlightSelected_ = false;
  int capacity_ = 32767;
};

}  // namespace tarnvale::gui
