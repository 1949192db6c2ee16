#include "core/tools/TerminalReceiver.h"

namespace tarnvale {
namespace {
constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kLineFeed = 10;
constexpr std::uint8_t kCarriageReturn = 13;
}  // namespace

void TerminalReceiver::TrimFor(std::size_t incoming) {
  // Repeated, not once: a chunk of many short lines must not let the view
  // grow past its limit 25 lines at a time.
  while (screen_.TextLength() > 0 && screen_.TextLength() + incoming > textLimit_) {
    screen_.DeleteLeadingLines(kTrimLines);
  }
}

void TerminalReceiver::FinishLine(const std::string& text) {
  screen_.ReplaceLastLine(text, true);
  if (capture_ != nullptr) capture_->WriteLine(text);
}

void TerminalReceiver::Append(const std::uint8_t* bytes, std::size_t count) {
  TrimFor(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    switch (b) {
      case kBackspace:
        if (!line_.empty()) line_.pop_back();
        break;
      case kLineFeed:
        // CR LF: the CR already showed the line and emptied the buffer; the
        // LF finishes that line rather than an empty one.
        FinishLine(previous_ == kCarriageReturn ? shownByCr_ : line_);
        line_.clear();
        shownByCr_.clear();
        break;
      case kCarriageReturn:
        if (previous_ == kLineFeed) break;  // the CR of a controller's LF CR
        screen_.ReplaceLastLine(line_, false);
        shownByCr_ = line_;
        line_.clear();
        break;
      default:
        if (line_.size() == kLineWidth) {
          // Wrap: the full line is finished so that no received byte is lost.
          FinishLine(line_);
          line_.clear();
        }
        line_.push_back(static_cast<char>(b));
        break;
    }
    previous_ = b;
  }
  if (!line_.empty()) screen_.ReplaceLastLine(line_, false);
}

}  // namespace tarnvale
