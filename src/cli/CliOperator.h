#pragma once
// The Operator of the command line: messages go to the terminal (information
// on stdout, everything else on stderr), file choices come from the command's
// arguments, and a yes/no question is answered by --yes or asked on the
// terminal; without a terminal to ask on, the answer is no.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "core/operator/Operator.h"

namespace tarnvale::cli {

class CliOperator : public Operator {
 public:
  CliOperator(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void SetOpenFile(std::string path) { openFile_ = std::move(path); }
  void SetSaveFile(std::string path) { saveFile_ = std::move(path); }
  void SetAssumeYes(bool yes) { assumeYes_ = yes; }
  // Whether questions can be asked (stdin is a terminal); tests replace it.
  void SetInteractive(bool interactive) { interactive_ = interactive; }
  void SetInput(std::function<std::optional<std::string>()> readLine) { readLine_ = std::move(readLine); }
  // Also writes each message as a JSON object on stdout (--progress json).
  void SetJson(bool json) { json_ = json; }

  void ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  // Asked on the terminal; without one nothing is given.
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption) override;
  std::optional<std::string> ChooseOpenFile(const std::string& filter) override;
  std::optional<std::string> ChooseSaveFile(const std::string& filter) override;
  void SetStatus(const std::string& text) override;
  void ErrorLogged(int code, const std::string& file, const std::string& function, int line) override;

  // The last message shown with the exclamation icon or none (a failure text).
  const std::string& LastProblem() const { return lastProblem_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::optional<std::string> openFile_;
  std::optional<std::string> saveFile_;
  bool assumeYes_ = false;
  bool interactive_ = false;
  bool json_ = false;
  std::function<std::optional<std::string>()> readLine_;
  std::string lastProblem_;
};

// A JSON string literal of `text`.
std::string JsonString(const std::string& text);

}  // namespace tarnvale::cli
