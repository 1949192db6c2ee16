#include "core/operator/ErrorLog.h"

#include <cstdio>

#include "core/operator/Operator.h"

namespace tarnvale {

std::string FormatErrorLogLine(int code, std::string_view file, std::string_view function,
                               int line) {
  return "Error: " + std::to_string(code) + ", Occured in: " + std::string(file) +
         ", Function: " + std::string(function) + ", Line: " + std::to_string(line) + " \n";
}

std::string FormatErrorLogMessage(int code, std::string_view file, std::string_view function,
                                  int line) {
  return "Error: " + std::to_string(code) + "\n Occured in: " + std::string(file) +
         "\n Function: " + std::string(function) + "\n Line: " + std::to_string(line);
}

std::string ErrorLogPath(const std::string& folder) {
  if (folder.empty()) return kErrorLogFileName;
  return folder + (folder.back() == '/' ? "" : "/") + kErrorLogFileName;
}

void LogError(int code, std::string_view file, std::string_view function, int line,
              Operator* op) {
  const std::string path = ErrorLogPath(op != nullptr ? op->ErrorLogFolder() : std::string());
  if (std::FILE* f = std::fopen(path.c_str(), "a")) {
    const std::string text = FormatErrorLogLine(code, file, function, line);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  if (op != nullptr) op->ErrorLogged(code, std::string(file), std::string(function), line);
}

}  // namespace tarnvale
