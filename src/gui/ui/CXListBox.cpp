#include "gui/ui/CXListBox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QStyledItemDelegate>

#include "gui/ui/Colors.h"

namespace tarnvale::gui {
namespace {

constexpr int kTabSize = 8;

QString ExpandTabs(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (c == '\t') {
      out += QString(kTabSize - static_cast<int>(out.size() % kTabSize), ' ');
    } else {
      out += c;
    }
  }
  return out;
}

// Draws an item in its own colours, or the highlight colours when selected
// and the list asks for them, with the focus frame on the current item.
class ColourDelegate : public QStyledItemDelegate {
 public:
  explicit ColourDelegate(CXListBox* list) : QStyledItemDelegate(list), list_(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QByteArray stored = index.data(CXListBox::kStoredRole).toByteArray();
    if (stored.size() < 2) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const auto& palette = CXListBox::Palette();
    QColor fg = FromColorRef(palette[static_cast<std::size_t>(stored[0] - 1) & 15]);
    QColor bg = FromColorRef(palette[static_cast<std::size_t>(stored[1] - 1) & 15]);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    if (selected && list_->HighlightSelected()) {
      fg = option.palette.color(QPalette::HighlightedText);
      bg = option.palette.color(QPalette::Highlight);
    }
    painter->save();
    painter->fillRect(option.rect, bg);
    painter->setPen(fg);
    const QString text = ExpandTabs(QString::fromUtf8(stored.mid(2)));
    painter->drawText(option.rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    if ((option.state & QStyle::State_HasFocus) || (selected && !list_->HighlightSelected())) {
      QPen pen(fg, 1, Qt::DotLine);
      painter->setPen(pen);
      painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
  }

 private:
  CXListBox* list_;
};

}  // namespace

const std::array<std::uint32_t, 16>& CXListBox::Palette() {
  static const std::array<std::uint32_t, 16> palette = {
      0x000000, 0xFFFFFF, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000,
      0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00};
  return palette;
}

CXListBox::CXListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setItemDelegate(new ColourDelegate(this));
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  auto* copy = new QAction(tr("Copy"), this);
  copy->setShortcuts(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, &CXListBox::Copy);
  auto* selectAll = new QAction(tr("Select All"), this);
  selectAll->setShortcuts(QKeySequence::SelectAll);
  selectAll->setShortcutContext(Qt::WidgetShortcut);
  connect(selectAll, &QAction::triggered, this, &CXListBox::SelectAll);
  auto* clear = new QAction(tr("Clear"), this);
  clear->setShortcuts(QKeySequence::Delete);
  clear->setShortcutContext(Qt::WidgetShortcut);
  connect(clear, &QAction::triggered, this, &CXListBox::Clear);
  addActions({copy, selectAll, clear});
}

void CXListBox::SetHighlightSelected(bool on) {
  highlightSelected_ = on;
  viewport()->update();
}

void CXListBox::AddLine(int textColour, int backgroundColour, const std::string& text) {
  int fg = 0;
  int bg = 1;
  if (colourMode_) {
    fg = textColour >= 0 && textColour < 16 ? textColour : 0;
    bg = backgroundColour >= 0 && backgroundColour < 16 ? backgroundColour : 1;
  }
  QByteArray stored;
  stored.append(static_cast<char>(fg + 1));
  stored.append(static_cast<char>(bg + 1));
  for (char c : text) stored.append(c == '\r' || c == '\n' ? ' ' : c);

  if (count() >= capacity_) {
    if (count() < 2) return;
    // Out of room: the oldest lines make way, at most 20 at a time.
    setUpdatesEnabled(false);
    const int drop = std::min(count() - 1, 20);
    for (int i = 0; i < drop; ++i) delete takeItem(0);
    setUpdatesEnabled(true);
  }
  auto* item = new QListWidgetItem(QString::fromUtf8(stored.mid(2)));
  item->setData(kStoredRole, stored);
  addItem(item);
  scrollToItem(item, QAbstractItemView::PositionAtTop);
  clearSelection();
}

bool CXListBox::GetLineText(int index, std::string& text) const {
  const QListWidgetItem* it = item(index);
  if (it == nullptr) return false;
  const QByteArray stored = it->data(kStoredRole).toByteArray();
  text = stored.size() >= 2 ? stored.mid(2).toStdString() : std::string();
  return true;
}

void CXListBox::Copy() {
  QString all;
  for (int i = 0; i < count(); ++i) {
    if (!item(i)->isSelected()) continue;
    std::string t;
    GetLineText(i, t);
    QString line = QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    while (!line.isEmpty() && (line.front() == '\r' || line.front() == '\n')) line.remove(0, 1);
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n')) line.chop(1);
    if (!line.contains('\n')) line += '\n';
    line.replace('\t', ' ');
    all += line;
  }
  if (!all.isEmpty()) QApplication::clipboard()->setText(all);
}

void CXListBox::Clear() { clear(); }

void CXListBox::SelectAll() { selectAll(); }

}  // namespace tarnvale::gui
