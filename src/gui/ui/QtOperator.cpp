#include "gui/ui/QtOperator.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>
#include <QThread>

#include "core/operator/ErrorLog.h"

namespace tarnvale::gui {

QtOperator::QtOperator(QWidget* owner, StatusSink status)
    : owner_(owner), status_(std::move(status)) {}

void QtOperator::OnGuiThread(const std::function<void()>& f) {
  if (QThread::currentThread() == thread()) {
    f();
  } else {
    QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
  }
}

QMessageBox::Icon QtOperator::ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

QString QtOperator::ToQtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].trimmed();
    if (description.isEmpty() && patterns.isEmpty()) continue;
    // The description usually repeats the pattern in brackets; Qt takes the
    // pattern from there, so the bracket is rebuilt from the real patterns.
    const qsizetype bracket = description.lastIndexOf('(');
    if (bracket > 0 && description.endsWith(')')) description = description.left(bracket).trimmed();
    QStringList globs;
    for (const QString& p : patterns.split(';', Qt::SkipEmptyParts)) {
      const QString glob = p.trimmed();
      for (const QString& g : {glob, glob.toUpper(), glob.toLower()}) {
        if (!globs.contains(g)) globs << g;
      }
    }
    filters << description + " (" + globs.join(' ') + ")";
  }
  return filters.join(";;");
}

void QtOperator::ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) {
  OnGuiThread([&] {
    QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, owner_);
    box.exec();
  });
}

bool QtOperator::AskYesNo(const std::string& text, const std::string& caption) {
  bool yes = false;
  OnGuiThread([&] {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, owner_);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

bool QtOperator::AskYesNoDefaultNo(const std::string& text, const std::string& caption) {
  bool yes = false;
  OnGuiThread([&] {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, owner_);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

std::optional<std::string> QtOperator::AskText(const std::string& prompt, const std::string& caption) {
  QString text;
  bool ok = false;
  OnGuiThread([&] {
    text = QInputDialog::getText(owner_, QString::fromStdString(caption), QString::fromStdString(prompt),
                                 QLineEdit::Normal, {}, &ok);
  });
  if (!ok || text.trimmed().isEmpty()) return std::nullopt;
  return text.trimmed().toStdString();
}

std::optional<std::string> QtOperator::ChooseOpenFile(const std::string& filter) {
  QString chosen;
  OnGuiThread([&] { chosen = QFileDialog::getOpenFileName(owner_, {}, {}, ToQtFilter(filter)); });
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

std::optional<std::string> QtOperator::ChooseSaveFile(const std::string& filter) {
  QString chosen;
  OnGuiThread([&] { chosen = QFileDialog::getSaveFileName(owner_, {}, {}, ToQtFilter(filter)); });
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

void QtOperator::SetStatus(const std::string& text) {
  if (!status_) return;
  OnGuiThread([&] { status_(text); });
}

void QtOperator::ErrorLogged(int code, const std::string& file, const std::string& function,
                             int line) {
  ShowMessage(FormatErrorLogMessage(code, file, function, line), MessageIcon::None,
              "Error Code Logged");
}

}  // namespace tarnvale::gui
