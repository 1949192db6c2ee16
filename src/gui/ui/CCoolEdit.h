#pragma once
// The terminal's text control. It shows only what the controller sends: the
// operator cannot edit it, keys go to the port through the terminal view,
// and a paste sends the clipboard to the port instead of inserting it.

#include <QPlainTextEdit>
#include <functional>

namespace tarnvale::gui {

class CCoolEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  // Returns true when the key was consumed and the control must not act on it.
  using KeyHandler = std::function<bool(QKeyEvent*)>;
  using PasteHandler = std::function<void(const QString&)>;

  explicit CCoolEdit(QWidget* parent = nullptr);

  // While input is off (text is being appended) mouse buttons and the arrow
  // keys are discarded, so the operator cannot move the caret under the
  // arriving text.
  void SetInputEnabled(bool on) { inputEnabled_ = on; }
  bool InputEnabled() const { return inputEnabled_; }

  // Selects from the first character of the last line to the end of the text
  // and scrolls the caret into view.
  void SelectLastLine();

  // Sends the clipboard's text to the paste handler, character for character.
  // Nothing happens when the clipboard holds no text.
  void PasteToPort();

  void SetKeyHandler(KeyHandler h) { keyHandler_ = std::move(h); }
  void SetPasteHandler(PasteHandler h) { pasteHandler_ = std::move(h); }

  // Keys that belong to the main window's accelerators rather than the text.
  static bool IsWindowAccelerator(const QKeyEvent* e);

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  static bool IsArrowKey(int key);

  bool inputEnabled_ = true;
  KeyHandler keyHandler_;
  PasteHandler pasteHandler_;
};

}  // namespace tarnvale::gui
