#pragma once
// An Operator for tests: records everything said and answers from a script.
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/operator/Operator.h"

namespace tarnvale::test {

class RecordingOperator : public Operator {
 public:
  struct Message {
    std::string text;
    MessageIcon icon;
    std::string caption;
    bool defaultNo = false;  // asked with No as the default button
  };

  void ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    messages.push_back({text, icon, caption, false});
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    questions.push_back({text, MessageIcon::Question, caption, false});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  bool AskYesNoDefaultNo(const std::string& text, const std::string& caption) override {
    const bool a = AskYesNo(text, caption);
    std::lock_guard lock(mutex_);
    questions.back().defaultNo = true;
    return a;
  }
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    questions.push_back({prompt, MessageIcon::Question, caption, false});
    if (texts.empty()) return std::nullopt;
    std::string t = texts.front();
    texts.pop_front();
    return t;
  }
  std::optional<std::string> ChooseOpenFile(const std::string& filter) override {
    std::lock_guard lock(mutex_);
    filters.push_back(filter);
    return openFile;
  }
  std::optional<std::string> ChooseSaveFile(const std::string& filter) override {
    std::lock_guard lock(mutex_);
    filters.push_back(filter);
    return saveFile;
  }
  void SetStatus(const std::string& text) override {
    std::lock_guard lock(mutex_);
    statuses.push_back(text);
  }
  void ErrorLogged(int code, const std::string& file, const std::string& function, int line) override {
    std::lock_guard lock(mutex_);
    logged.push_back(std::to_string(code) + "|" + file + "|" + function + "|" + std::to_string(line));
  }

  std::vector<std::string> MessageTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> t;
    for (const auto& m : messages) t.push_back(m.text);
    return t;
  }

  std::vector<Message> messages;
  std::vector<Message> questions;
  std::vector<std::string> filters;
  std::vector<std::string> statuses;
  std::vector<std::string> logged;
  std::deque<bool> answers;               // answers to AskYesNo, in order
  std::deque<std::string> texts;          // answers to AskText, in order
  std::optional<std::string> openFile;    // what ChooseOpenFile returns
  std::optional<std::string> saveFile;    // what ChooseSaveFile returns

 private:
  mutable std::mutex mutex_;
};

}  // namespace tarnvale::test
