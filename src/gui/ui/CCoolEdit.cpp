#include "gui/ui/CCoolEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>

#include "gui/app/CommandTable.h"

namespace tarnvale::gui {

CCoolEdit::CCoolEdit(QWidget* parent) : QPlainTextEdit(parent) {
  // Selectable with mouse and keyboard but never edited in place: the text
  // is what the controller sent.
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setAcceptDrops(false);
  setFocusPolicy(Qt::StrongFocus);
}

bool CCoolEdit::IsArrowKey(int key) {
  return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

bool CCoolEdit::IsWindowAccelerator(const QKeyEvent* e) {
  const QKeySequence pressed(QKeyCombination(e->modifiers() & ~Qt::KeypadModifier,
                                             static_cast<Qt::Key>(e->key())));
  for (const AcceleratorRow& row : AcceleratorTable128()) {
    if (QKeySequence(QString::fromLatin1(row.keys)) == pressed) return true;
  }
  return false;
}

bool CCoolEdit::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride &&
      IsWindowAccelerator(static_cast<QKeyEvent*>(e))) {
    // Let the main window's Copy/Paste/... accelerators have these keys.
    e->ignore();
    return true;
  }
  return QPlainTextEdit::event(e);
}

void CCoolEdit::keyPressEvent(QKeyEvent* e) {
  if (!inputEnabled_ && IsArrowKey(e->key())) return;
  if (keyHandler_ && keyHandler_(e)) return;
  QPlainTextEdit::keyPressEvent(e);
}

void CCoolEdit::keyReleaseEvent(QKeyEvent* e) {
  if (!inputEnabled_ && IsArrowKey(e->key())) return;
  QPlainTextEdit::keyReleaseEvent(e);
}

void CCoolEdit::mousePressEvent(QMouseEvent* e) {
  if (!inputEnabled_) return;
  QPlainTextEdit::mousePressEvent(e);
}

void CCoolEdit::mouseReleaseEvent(QMouseEvent* e) {
  if (!inputEnabled_) return;
  QPlainTextEdit::mouseReleaseEvent(e);
}

void CCoolEdit::mouseDoubleClickEvent(QMouseEvent*) {
  // Discarded: a double-click must not select a word.
}

void CCoolEdit::focusInEvent(QFocusEvent* e) {
  QPlainTextEdit::focusInEvent(e);
  QTextCursor c = textCursor();
  if (c.hasSelection()) {
    c.clearSelection();
    setTextCursor(c);
  }
}

void CCoolEdit::contextMenuEvent(QContextMenuEvent* e) {
  if (!inputEnabled_) return;
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("Copy"), this, &QPlainTextEdit::copy);
  copy->setEnabled(textCursor().hasSelection());
  QAction* paste = menu.addAction(tr("Paste"), this, &CCoolEdit::PasteToPort);
  paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
  menu.addSeparator();
  menu.addAction(tr("Select All"), this, &QPlainTextEdit::selectAll);
  menu.exec(e->globalPos());
}

void CCoolEdit::SelectLastLine() {
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  // Anchor at the line start, caret at the end of the text.
  const int start = c.position();
  c.setPosition(start);
  c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  setTextCursor(c);
  ensureCursorVisible();
}

void CCoolEdit::PasteToPort() {
  if (!inputEnabled_ || !pasteHandler_) return;
  const QString text = QApplication::clipboard()->text();
  if (text.isEmpty()) return;
  pasteHandler_(text);
}

}  // namespace tarnvale::gui
