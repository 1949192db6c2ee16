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

namespace tarnvale {

class CommPort;
class Operator;

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
  // What the terminal view's AppendReceived takes.
  using TerminalSink = std::function<void(const std::string&)>;

  static constexpr std::uint32_t kMinTimeoutMs = 1;
  static constexpr std::uint32_t kMaxTimeoutMs = 5000;
  static constexpr std::uint32_t kMinCount = 0;
  static constexpr std::uint32_t kMaxCount = 1000;

  SerialTestModel(CommPort& port, TerminalSink terminal, Operator& op);

  std::string line;
  std::uint32_t timeoutMs = 250;
  std::uint32_t count = 255;
  std::string filePath;

  // Sends `line`. False when the line was invalid (nothing sent, nothing shown).
  bool Send();
  bool Send(const std::string& text);
  // Sends every line of the file at `filePath`; "Unable to Open File!" when
  // it cannot be opened or is no regular text file within the size limit
  // (the reason is left in fileProblem). Returns the number of lines that
  // parsed and went.
  int SendFile();
  std::string fileProblem;
  // The Browse button: asks for a text file; true when one was chosen.
  bool Browse();

  static constexpr const char* kPrompt =
      "Enter characters in format \"0x19,0x3,A,B,C,0x2\". Commas must be entered in hex.";
  static constexpr const char* kFileFilter = "Text File (*.txt)|*.txt|";

 private:
  CommPort& port_;
  TerminalSink terminal_;
  Operator& op_;
};

}  // namespace tarnvale
