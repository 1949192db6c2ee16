#include "gui/settings/CIPAddressCtrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <algorithm>
#include <cstdio>

namespace tarnvale::gui {

std::array<int, 4> ParseIpAddress(const std::string& text, std::string* rest) {
  std::array<int, 4> f{0, 0, 0, 0};
  int consumed = -1;
  const int got = std::sscanf(text.c_str(), "%d.%d.%d.%d%n", &f[0], &f[1], &f[2], &f[3], &consumed);
  // sscanf leaves unread numbers alone, but a partly read one may be set.
  for (int i = std::max(got, 0); i < 4; ++i) f[static_cast<std::size_t>(i)] = 0;
  for (int& v : f) v = std::clamp(v, 0, 255);
  if (rest != nullptr) {
    rest->clear();
    if (got == 4 && consumed >= 0) *rest = text.substr(static_cast<std::size_t>(consumed));
  }
  return f;
}

std::string FormatIpAddress(const std::array<int, 4>& f) {
  return std::to_string(f[0]) + "." + std::to_string(f[1]) + "." + std::to_string(f[2]) + "." +
         std::to_string(f[3]);
}

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent) {
  // Drawn as one edit box: a sunken white frame holding four borderless fields.
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 1, 4, 1);
  layout->setSpacing(0);
  auto* validator = new QIntValidator(0, 255, this);
  const int fieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000"));
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setBackgroundRole(QPalette::Base);
      layout->addWidget(dot);
    }
    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("ipField%1").arg(i));
    field->setFrame(false);
    field->setMaxLength(3);
    field->setValidator(validator);
    field->setAlignment(Qt::AlignCenter);
    field->setFixedWidth(fieldWidth);
    field->installEventFilter(this);
    fields_[i] = field;
    layout->addWidget(field);
    if (i + 1 < fields_.size()) {
      // Three digits move on to the next field, as an address is typed.
      connect(field, &QLineEdit::textEdited, this, [this, i](const QString& t) {
        if (t.size() == 3) fields_[i + 1]->setFocus(Qt::TabFocusReason);
      });
    }
  }
  layout->addStretch(1);
  setFocusProxy(fields_[0]);
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(e);
    for (std::size_t i = 0; i + 1 < fields_.size(); ++i) {
      if (watched == fields_[i] && key->text() == QStringLiteral(".")) {
        fields_[i + 1]->setFocus(Qt::TabFocusReason);
        fields_[i + 1]->selectAll();
        return true;
      }
    }
  }
  return QFrame::eventFilter(watched, e);
}

void CIPAddressCtrl::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    // A disabled address looks greyed as a whole, like the lists beside it.
    setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
  }
  QFrame::changeEvent(e);
}

void CIPAddressCtrl::SetAddress(const std::array<int, 4>& f) {
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i]->setText(QString::number(f[i]));
}

std::array<int, 4> CIPAddressCtrl::Address() const {
  std::array<int, 4> f{};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    f[i] = std::clamp(fields_[i]->text().toInt(), 0, 255);
  }
  return f;
}

}  // namespace tarnvale::gui
