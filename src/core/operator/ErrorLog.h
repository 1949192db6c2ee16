#pragma once
// The program's one diagnostic record: "ErroLog.txt" in the working directory
// (which start-up sets to the user temp path).

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

// Appends one line to the error log and tells the operator (when given).
// A log that cannot be opened loses the line; the operator is still told.
void LogError(int code, std::string_view file, std::string_view function, int line,
              Operator* op = nullptr);

}  // namespace tarnvale
