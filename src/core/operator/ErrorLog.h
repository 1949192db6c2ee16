#pragma once
// The program's one diagnostic record: "ErroLog.txt" in the operator's error
// log folder (the settings' user temp path), or the working directory when
// no folder is set.

#include <string>
#include <string_view>

namespace tarnvale {

class Operator;

inline constexpr const char* kErrorLogFileName = "ErroLog.txt";

// The exact line appended for one error, line end included.
std::string FormatErrorLogLine(int code, std::string_view file, std::string_view function,
                               int line);

// The text of the "Error Code Logged" message box.
std::string FormatErrorLogMessage(int code, std::string_view file, std::string_view function,
                                  int line);

// "ErroLog.txt" in `folder` (empty: the working directory).
std::string ErrorLogPath(const std::string& folder);

// Appends one line to the error log and tells the operator (when given).
// A log that cannot be opened loses the line; the operator is still told.
void LogError(int code, std::string_view file, std::string_view function, int line,
              Operator* op = nullptr);

}  // namespace tarnvale
