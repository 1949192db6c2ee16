#include "cli/CliOperator.h"

#include <cstdio>
#include <iostream>

namespace tarnvale::cli {

std::string JsonString(const std::string& text) {
  std::string s = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          s += buf;
        } else {
          s += c;
        }
    }
  }
  return s + "\"";
}

void CliOperator::ShowMessage(const std::string& text, MessageIcon icon, const std::string& caption) {
  const bool info = icon == MessageIcon::Information;
  if (json_) {
    out_ << "{\"event\":\"message\",\"text\":" << JsonString(text)
         << ",\"severity\":" << (info ? "\"info\"" : "\"problem\"") << "}" << std::endl;
  }
  if (info) {
    if (!json_) out_ << text << std::endl;
    return;
  }
  lastProblem_ = text;
  err_ << (caption.empty() ? "" : caption + ": ") << text << std::endl;
}

bool CliOperator::AskYesNo(const std::string& text, const std::string& caption) {
  err_ << (caption.empty() ? "" : caption + ": ") << text << std::endl;
  if (assumeYes_) {
    err_ << "Answered yes (--yes)." << std::endl;
    return true;
  }
  if (!interactive_ || !readLine_) {
    err_ << "Not asked: no terminal to answer on. Pass --yes to continue." << std::endl;
    return false;
  }
  err_ << "Continue? [y/N] " << std::flush;
  const auto line = readLine_();
  return line && !line->empty() && (line->front() == 'y' || line->front() == 'Y');
}

std::optional<std::string> CliOperator::AskText(const std::string& prompt, const std::string& caption) {
  if (!interactive_ || !readLine_) return std::nullopt;
  err_ << (caption.empty() ? "" : caption + ": ") << prompt << " " << std::flush;
  auto line = readLine_();
  if (!line || line->empty()) return std::nullopt;
  return line;
}

std::optional<std::string> CliOperator::ChooseOpenFile(const std::string&) { return openFile_; }
std::optional<std::string> CliOperator::ChooseSaveFile(const std::string&) { return saveFile_; }
void CliOperator::SetStatus(const std::string&) {}

void CliOperator::ErrorLogged(int code, const std::string& file, const std::string& function,
                              int line) {
  err_ << "Error Code Logged: " << code << " in " << file << ", " << function << ", line " << line
       << std::endl;
}

}  // namespace tarnvale::cli
