#pragma once
// Whitespace-delimited tokens of a text file, read in large blocks.
//
// Image files hold one record per token; line ends (LF or CR LF), blanks and
// blank lines between records all count as separators. The reader never holds
// more than one block of the file, so multi-megabyte flash files cost a fixed
// amount of memory, and a token is handed out as a view into the block.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "core/platform/HexDigits.h"

namespace tarnvale {

class TokenReader {
 public:
  // No valid record of any format this layer reads comes near this length
  // (an Intel HEX record of 255 data bytes is 521 characters). Longer tokens
  // are reported as overlong instead of being buffered.
  static constexpr std::size_t kMaxToken = 1024;

  enum class Status { Token, Overlong, End };

  TokenReader() = default;
  TokenReader(const TokenReader&) = delete;
  TokenReader& operator=(const TokenReader&) = delete;

  // Starts reading `file` (not owned) from its current position.
  void Attach(std::FILE* file);
  void Detach();
  // Goes back to the start of the attached file.
  bool Rewind();

  // The next token. On Token, `token` views it until the next call. On
  // Overlong the whole oversized token has been consumed and `token` is empty.
  Status Next(std::string_view& token);

  // True when nothing but whitespace is left.
  bool AtEnd();

  // True when a read of the file failed (as opposed to reaching its end).
  bool ReadFailed() const { return readError_; }
  // The 1-based line of the last token handed out (or of the end reached).
  std::size_t Line() const { return tokenLine_; }

 private:
  bool Refill();  // moves the unread tail to the front and reads more
  void SkipSpace();

  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool eof_ = false;
  bool readError_ = false;
  std::size_t line_ = 1;       // line of the reading position
  std::size_t tokenLine_ = 1;  // line the last token started on
};

}  // namespace tarnvale
