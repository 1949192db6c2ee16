#pragma once
// The Operator of the desktop application: message boxes, Yes/No questions
// and file dialogs owned by the main window, and status pane 0.
//
// Calls may come from worker threads (progress dialogs run their transfers
// there); they are carried over to the GUI thread and wait for the answer.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

#include "core/operator/Operator.h"

namespace tarnvale::gui {

class QtOperator : public QObject, public Operator {
  Q_OBJECT
 public:
  using StatusSink = std::function<void(const std::string&)>;

  explicit QtOperator(QWidget* owner, StatusSink status = {});

  void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::None,
                   const std::string& caption = {}) override;
  bool AskYesNo(const std::string& text, const std::string& caption = {}) override;
  bool AskYesNoDefaultNo(const std::string& text, const std::string& caption = {}) override;
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption = {}) override;
  std::optional<std::string> ChooseOpenFile(const std::string& filter) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter) override;
  void SetStatus(const std::string& text) override;
  void ErrorLogged(int code, const std::string& file, const std::string& function,
                   int line) override;

  // "Desc (*.EXT)|*.EXT|" to Qt's "Desc (*.EXT *.ext)", one filter per pair,
  // joined by ";;". Both cases of each pattern are offered, because the
  // files come from systems that do not care about case.
  static QString ToQtFilter(const std::string& filter);
  static QMessageBox::Icon ToQtIcon(MessageIcon icon);

 private:
  // Runs f on the GUI thread, waiting for it when called from another thread.
  void OnGuiThread(const std::function<void()>& f);

  QPointer<QWidget> owner_;
  StatusSink status_;
};

}  // namespace tarnvale::gui
