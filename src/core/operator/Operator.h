#pragma once
// The person at the bench, as the core sees them.
//
// Workflows never open windows or print: they talk through this interface.
// The Qt GUI, the command-line front end and the tests each implement it.
// Calls come from the thread that runs the workflow (the GUI's own thread for
// menu commands); engines on worker threads do not call it, they report events.

#include <optional>
#include <string>
#include <utility>

namespace tarnvale {

enum class MessageIcon { None, Information, Exclamation, Question, Error };

class Operator {
 public:
  virtual ~Operator() = default;

  // A message box: text, icon, caption (empty: no caption), OK button.
  virtual void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::None,
                           const std::string& caption = {}) = 0;

  // A Yes/No question with the question icon. True for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption = {}) = 0;
  // The same question where a wrong Yes overwrites something: No is the
  // default button, so Enter, Escape or closing the box answers No.
  virtual bool AskYesNoDefaultNo(const std::string& text, const std::string& caption = {}) {
    return AskYesNo(text, caption);
  }

  // File choices. `filter` is the classic "Description (*.EXT)|*.EXT|" text.
  // An empty result means the operator cancelled.
  virtual std::optional<std::string> ChooseOpenFile(const std::string& filter) = 0;
  virtual std::optional<std::string> ChooseSaveFile(const std::string& filter) = 0;

  // A line of text the person types (a name). Empty result: not given
  // (cancelled, or nobody to ask).
  virtual std::optional<std::string> AskText(const std::string& /*prompt*/,
                                             const std::string& /*caption*/ = {}) {
    return std::nullopt;
  }

  // Status text (status bar pane 0 in the GUI).
  virtual void SetStatus(const std::string& text) = 0;

  // An error was appended to the error log; the GUI shows "Error Code Logged".
  virtual void ErrorLogged(int code, const std::string& file, const std::string& function,
                           int line) = 0;

  // The folder of the error log (the settings' user temp folder). Empty:
  // the working directory. Set by the front end after loading the settings,
  // so nothing has to change the process's working directory.
  void SetErrorLogFolder(std::string folder) { errorLogFolder_ = std::move(folder); }
  const std::string& ErrorLogFolder() const { return errorLogFolder_; }

 private:
  std::string errorLogFolder_;
};

// An operator that says nothing and answers every question "no"/cancel.
// Useful where a workflow must run unattended.
class SilentOperator : public Operator {
 public:
  void ShowMessage(const std::string&, MessageIcon, const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> ChooseOpenFile(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ChooseSaveFile(const std::string&) override { return std::nullopt; }
  void SetStatus(const std::string&) override {}
  void ErrorLogged(int, const std::string&, const std::string&, int) override {}
};

}  // namespace tarnvale
