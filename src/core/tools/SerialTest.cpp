#include "core/tools/SerialTest.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/link/CommPort.h"
#include "core/operator/Operator.h"
#include "core/platform/FileAccess.h"
#include "core/platform/HexDigits.h"
#include "core/protocol/Util.h"

namespace tarnvale {

namespace {

// One token of a line: a single character stands for itself, "0xH" or
// "0xHH" for a byte; anything else is refused.
std::optional<std::uint8_t> TokenByte(std::string_view token) {
  if (token.size() == 1) return static_cast<std::uint8_t>(token[0]);
  std::string upper(token);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() > 4 || upper.rfind("0X", 0) != 0) return std::nullopt;
  int value = 0;
  for (std::size_t i = 2; i < upper.size(); ++i) {
    const int d = HexDigitValue(upper[i]);
    if (d < 0) break;
    value = value * 16 + d;
  }
  return static_cast<std::uint8_t>(value);
}

// Walks the comma-separated tokens of a line up to the first empty one;
// `take` returns false to end the walk there. False when it was ended.
template <typename Take>
bool EachToken(std::string_view line, Take take) {
  std::size_t pos = 0;
  while (pos < line.size()) {
    if (line[pos] == ',') ++pos;
    std::size_t end = line.find(',', pos);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view token = line.substr(pos, end - pos);
    if (token.empty()) break;
    pos = end;
    if (!take(token)) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ParseSerialLine(std::string_view line) {
  std::vector<std::uint8_t> bytes;
  const bool whole = EachToken(line, [&](std::string_view token) {
    const auto byte = TokenByte(token);
    if (byte) bytes.push_back(*byte);
    return byte.has_value();
  });
  if (!whole) return std::nullopt;
  return bytes;
}

std::string InvalidSerialToken(std::string_view line) {
  std::string refused;
  EachToken(line, [&](std::string_view token) {
    if (TokenByte(token)) return true;
    refused = std::string(token);
    return false;
  });
  return refused;
}

std::string FormatSerialBytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ',';
    const std::uint8_t b = bytes[i];
    if (b >= 32 && b <= 125 && b != ',') {
      out += static_cast<char>(b);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%X", b);
      out += buf;
    }
  }
  return out;
}

SerialTestModel::SerialTestModel(CommPort& port, TerminalSink terminal, Operator& op)
    : port_(port), terminal_(std::move(terminal)), op_(op) {}

SerialLineOutcome SerialTestModel::Send() { return Send(line); }

SerialLineOutcome SerialTestModel::Send(const std::string& text) {
  return SendSerialLine(port_, text, count, timeoutMs, terminal_);
}

namespace {

// One line; `where` names it within a file ("Line 3 ") or is empty.
SerialLineOutcome SendOneLine(CommPort& port, const std::string& text, std::uint32_t count, std::uint32_t timeoutMs,
                              const SerialTerminal& terminal, const Clock& clock, const std::string& where) {
  const auto say = [&](const std::string& s) {
    if (terminal) terminal("\n" + s);
  };
  const std::string notSent = where.empty() ? "Not sent: " : where + "not sent: ";
  const auto bytes = ParseSerialLine(text);
  if (!bytes) {
    say(notSent + "\"" + InvalidSerialToken(text) +
        "\" is neither one character nor a byte value 0x0 to 0xFF (commas are typed as 0x2C)");
    return SerialLineOutcome::Invalid;
  }
  if (!port.IsOpen()) {
    say(notSent + (port.PortName().empty() ? std::string("the port") : "the port " + port.PortName()) +
        " is not open");
    return SerialLineOutcome::PortNotOpen;
  }
  say("TX:" + FormatSerialBytes(*bytes));
  const std::string out(bytes->begin(), bytes->end());
  std::string reply;
  ResultCode code = rc::kSuccess;
  if (count == 0) {
    // Whatever has arrived when the tester first looks, without waiting.
    port.Write(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
    const std::size_t waiting = port.GetInQueue();
    reply.assign(waiting, '\0');
    reply.resize(port.Read(reinterpret_cast<std::uint8_t*>(reply.data()), waiting));
  } else {
    code = SendAndReadText(port, out, reply, count, timeoutMs, clock);
  }
  if (code == rc::kStringTooLong) {
    say("RX:" + FormatSerialBytes(reply) + " (more than the " + std::to_string(count) +
        " characters waited for)");
    return SerialLineOutcome::TooLong;
  }
  if (code != rc::kSuccess || reply.empty()) {
    say(code == rc::kLinkLost ? std::string(ResultText(code))
        : count == 0          ? std::string("Nothing had arrived")
                              : "No reply within " + std::to_string(timeoutMs) + " ms");
    return SerialLineOutcome::NoReply;
  }
  say("RX:" + FormatSerialBytes(reply));
  return SerialLineOutcome::Replied;
}

}  // namespace

SerialLineOutcome SendSerialLine(CommPort& port, const std::string& text, std::uint32_t count,
                                 std::uint32_t timeoutMs, const SerialTerminal& terminal, const Clock& clock) {
  return SendOneLine(port, text, count, timeoutMs, terminal, clock, {});
}

ResultCode SendSerialFile(const SerialFileRequest& request, const Clock& clock, const StopToken& stop,
                          RunSink& sink, const SerialTerminal& terminal, int* sent, int* replies) {
  RunReporter report(sink);
  std::vector<std::string> lines;
  {
    std::istringstream in(request.text);
    for (std::string text; std::getline(in, text);) lines.push_back(std::move(text));
  }
  report.Phase("Sending");
  report.Total(lines.size(), request.text.size());
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (stop.StopRequested()) return rc::kStoppedByProgram;
    std::string text = lines[i];
    // The line and the break that ended it, as far as the file had one.
    bytes = std::min<std::uint64_t>(bytes + text.size() + 1, request.text.size());
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const SerialLineOutcome outcome = SendOneLine(*request.port, text, request.count, request.timeoutMs, terminal,
                                                  clock, "Line " + std::to_string(i + 1) + " ");
    // A port that is not open stays so: one word for the whole file.
    if (outcome == SerialLineOutcome::PortNotOpen) {
      report.Finish(rc::kPortOpenFailed);
      return rc::kPortOpenFailed;
    }
    if (LineWent(outcome) && sent) ++*sent;
    if ((outcome == SerialLineOutcome::Replied || outcome == SerialLineOutcome::TooLong) && replies) ++*replies;
    if (!stop.StopRequested()) report.Progress(i + 1, bytes);
  }
  if (stop.StopRequested()) return rc::kStoppedByProgram;
  report.Finish(rc::kSuccess);
  return rc::kSuccess;
}

int SerialTestModel::SendFile() {
  NullRunSink quiet;
  return SendFile(StopToken(), quiet);
}

int SerialTestModel::SendFile(const StopToken& stop, RunSink& sink) {
  if (!ReadFile()) {
    op_.ShowMessage("Unable to Open File!");
    return 0;
  }
  return SendReadFile(stop, sink);
}

bool SerialTestModel::ReadFile() {
  // Read whole and only from a regular text file: a FIFO or /dev/zero never
  // ends, and a line read from one grows without bound.
  fileProblem.clear();
  fileText_.clear();
  fileResult = rc::kCantOpenInput;
  fileReplies = 0;
  return platform::ReadInputFile(filePath, platform::kTextFileLimit, &fileText_, &fileProblem);
}

int SerialTestModel::SendReadFile(const StopToken& stop, RunSink& sink) {
  SerialFileRequest request;
  request.text = std::move(fileText_);
  fileText_.clear();
  request.port = &port_;
  request.timeoutMs = timeoutMs;
  request.count = count;
  int sent = 0;
  fileReplies = 0;
  fileResult = SendSerialFile(request, SystemClock(), stop, sink, terminal_, &sent, &fileReplies);
  return sent;
}

bool SerialTestModel::Browse() {
  const auto chosen = op_.ChooseOpenFile(kFileFilter);
  if (!chosen || chosen->empty()) return false;
  filePath = *chosen;
  return true;
}

}  // namespace tarnvale
