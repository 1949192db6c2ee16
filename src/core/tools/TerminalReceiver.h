#pragma once
// The received side of the terminal: folds the bytes read from the controller
// port into lines on a TerminalScreen and into the capture file.
//
// Controller lines end with LF CR; the CR after an LF is ignored. A backspace
// takes back the last collected character, a lone CR shows the line so far
// and restarts at column 0. Two things are handled so that nothing received
// is lost: a CR followed at once by LF finishes the line the CR showed (so
// CR LF devices read correctly), and a line longer than the line width is
// wrapped rather than dropped.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tools/CaptureFile.h"
#include "core/tools/TerminalScreen.h"

namespace tarnvale {

class TerminalReceiver {
 public:
  static constexpr std::size_t kLineWidth = 121;
  // Lines removed from the top whenever an append would pass the text limit.
  static constexpr std::size_t kTrimLines = 25;
  // The most characters the view holds; the smaller one when the control
  // cannot hold the larger.
  static constexpr std::size_t kTextLimit = 0x100000;
  static constexpr std::size_t kFallbackTextLimit = 30000;

  explicit TerminalReceiver(TerminalScreen& screen, std::size_t textLimit = kTextLimit)
      : screen_(screen), textLimit_(textLimit) {}

  // Lines finished from now on are also written here (may be null).
  void SetCapture(CaptureFile* capture) { capture_ = capture; }

  void Append(const std::uint8_t* bytes, std::size_t count);
  void Append(const std::string& bytes) {
    Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

  // The line being received (the characters up to the column).
  const std::string& PendingLine() const { return line_; }
  std::size_t TextLimit() const { return textLimit_; }

 private:
  void FinishLine(const std::string& text);
  void TrimFor(std::size_t incoming);

  TerminalScreen& screen_;
  std::size_t textLimit_;
  CaptureFile* capture_ = nullptr;
  std::string line_;          // characters up to the column
  std::string shownByCr_;     // what the last lone CR showed, for a following LF
  std::uint8_t previous_ = 0; // the byte before, across appends
};

}  // namespace tarnvale
