#include "gui/app/CAboutDlg.h"

#include "gui/app/AppIcon.h"
#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarnvale::gui {

QString CAboutDlg::VersionLabelText() {
  return QString::asprintf("Version: %s", kVersionText);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Tarnvale"));
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(48, 48));
  auto* version = new QLabel(VersionLabelText(), this);
  version->setObjectName(QStringLiteral("versionLabel"));
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(16);
  row->addWidget(version, 1);
  row->addSpacing(48);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  GiveMnemonics(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->addLayout(row);
  layout->addSpacing(8);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  FitToTitle(this);
}

}  // namespace tarnvale::gui
