#pragma once
// The serial tester without its widgets: a line of characters and byte
// values is parsed, sent on the primary port, and both what went and what
// came back are shown in the terminal view as "TX:" and "RX:" lines.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/jobs/RunEvents.h"
#include "core/jobs/StopToken.h"
#include "core/platform/Clock.h"

namespace tarnvale {

class CommPort;
class Operator;

// What the terminal view's AppendReceived takes.
using SerialTerminal = std::function<void(const std::string&)>;

// How one line of the tester went. Every outcome but Replied is said in
// the terminal too, so a person never wonders whether a line went.
enum class SerialLineOutcome {
  Replied,      // "TX:" and "RX:" shown
  NoReply,      // "TX:", then that nothing came within the time-out
  TooLong,      // "TX:", then the reply with a note that it was longer than waited for
  Invalid,      // nothing sent; the token at fault is named
  PortNotOpen,  // nothing sent; the port is named
};

// Sends one line of the tester: "TX:" and "RX:" (or what went wrong) go to
// `terminal`.
SerialLineOutcome SendSerialLine(CommPort& port, const std::string& text, std::uint32_t count,
                                 std::uint32_t timeoutMs, const SerialTerminal& terminal,
                                 const Clock& clock = SystemClock());
// True when the line went on the wire (whatever came back).
inline bool LineWent(SerialLineOutcome o) {
  return o != SerialLineOutcome::Invalid && o != SerialLineOutcome::PortNotOpen;
}
// The first token of `line` that is neither one character nor 0xHH; empty
// when the line parses.
std::string InvalidSerialToken(std::string_view line);

// A text file sent line by line, as a run: units are the file's lines, bytes
// the file's bytes handled so far; a line that does not parse is passed
// over, and said with its line number. A stop is seen before each line (a
// line waits for its reply at most the tester's time-out) and ends the run
// with rc::kStoppedByProgram. A port that is not open ends it at once with
// rc::kPortOpenFailed.
struct SerialFileRequest {
  CommPort* port = nullptr;
  std::string text;  // the file, already read whole
  std::uint32_t timeoutMs = 250;
  std::uint32_t count = 255;
};
// `sent`, when given, counts the lines that parsed and went; `replies` the
// lines that something came back for.
ResultCode SendSerialFile(const SerialFileRequest& request, const Clock& clock, const StopToken& stop,
                          RunSink& sink, const SerialTerminal& terminal, int* sent = nullptr,
                          int* replies = nullptr);

// Parses "0x19,0x3,A,B,C,0x2" into bytes; nothing when the line is invalid
// (a token of two or more characters that is not "0X" with up to two hex
// digits). An empty token ends the line. "0X" with no hex digit after it
// gives 0x00; the digits are read up to the first non-hex character, so
// "0X1G" gives 0x01.
std::optional<std::vector<std::uint8_t>> ParseSerialLine(std::string_view line);

// "A,B,0x2C,0xFF": printable bytes 32-125 other than the comma as they are,
// every other byte as 0x%X.
std::string FormatSerialBytes(std::span<const std::uint8_t> bytes);
inline std::string FormatSerialBytes(std::string_view text) {
  return FormatSerialBytes(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

class SerialTestModel {
 public:
  using TerminalSink = SerialTerminal;

  static constexpr std::uint32_t kMinTimeoutMs = 1;
  static constexpr std::uint32_t kMaxTimeoutMs = 5000;
  static constexpr std::uint32_t kMinCount = 0;
  static constexpr std::uint32_t kMaxCount = 1000;

  SerialTestModel(CommPort& port, TerminalSink terminal, Operator& op);

  std::string line;
  std::uint32_t timeoutMs = 250;
  std::uint32_t count = 255;
  std::string filePath;

  // Sends `line`; see SerialLineOutcome.
  SerialLineOutcome Send();
  SerialLineOutcome Send(const std::string& text);
  // Sends every line of the file at `filePath`; "Unable to Open File!" when
  // it cannot be opened or is no regular text file within the size limit
  // (the reason is left in fileProblem). Returns the number of lines that
  // parsed and went. The second form hands the run its stop and events.
  // The file is read before anything is sent (ReadFile), so the front end
  // can refuse it before it starts a run; SendReadFile then runs it.
  int SendFile();
  int SendFile(const StopToken& stop, RunSink& sink);
  bool ReadFile();
  int SendReadFile(const StopToken& stop, RunSink& sink);
  std::string fileProblem;
  // Of the last file send: its result, and the lines that got a reply.
  ResultCode fileResult = rc::kSuccess;
  int fileReplies = 0;
  // A line of the tester's own in the terminal.
  void Say(const std::string& text) const {
    if (terminal_) terminal_(text);
  }
  // Asks the operator for a text file; true when one was chosen. (The
  // dialog's Browse asks itself, starting at the file in its field.)
  bool Browse();

  static constexpr const char* kPrompt =
      "Enter characters in format \"0x19,0x3,A,B,C,0x2\". Commas must be entered in hex.";
  static constexpr const char* kFileFilter = "Text File (*.txt)|*.txt|";

 private:
  CommPort& port_;
  TerminalSink terminal_;
  Operator& op_;
  std::string fileText_;
};

}  // namespace tarnvale
