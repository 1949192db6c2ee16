#include "core/formats/TokenReader.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnvale {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

constexpr std::array<bool, 256> MakeSpaceTable() {
  std::array<bool, 256> t{};
  for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) t[c] = true;
  return t;
}
constexpr std::array<bool, 256> kSpace = MakeSpaceTable();

inline bool IsSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// First whitespace character in [p, end), or end. Every whitespace character
// is at most 0x20, so 16 bytes at a time are screened for such bytes and only
// candidates are looked at closely. Flash files are tens of megabytes of
// tokens; this is where reading them spends its time.
const char* FindSpace(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // v <= 0x20 (unsigned) exactly where min(v, 0x20) == v.
    int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, limit), v));
    while (mask != 0) {
      const int i = __builtin_ctz(static_cast<unsigned>(mask));
      if (IsSpace(p[i])) return p + i;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  while (p < end && !IsSpace(*p)) ++p;
  return p;
}

}  // namespace

void TokenReader::Attach(std::FILE* file) {
  file_ = file;
  if (buffer_.empty()) buffer_.resize(kBlockSize + kMaxToken);
  pos_ = len_ = 0;
  eof_ = false;
  readError_ = false;
  line_ = tokenLine_ = 1;
}

void TokenReader::Detach() {
  file_ = nullptr;
  pos_ = len_ = 0;
  eof_ = true;
  std::vector<char>().swap(buffer_);
}

bool TokenReader::Rewind() {
  if (file_ == nullptr) return false;
  if (std::fseek(file_, 0, SEEK_SET) != 0) return false;
  std::clearerr(file_);
  pos_ = len_ = 0;
  eof_ = false;
  readError_ = false;
  line_ = tokenLine_ = 1;
  return true;
}

bool TokenReader::Refill() {
  if (eof_ || file_ == nullptr) return false;
  const std::size_t tail = len_ - pos_;
  if (tail != 0 && pos_ != 0) std::memmove(buffer_.data(), buffer_.data() + pos_, tail);
  pos_ = 0;
  len_ = tail;
  const std::size_t room = buffer_.size() - len_;
  const std::size_t got = std::fread(buffer_.data() + len_, 1, room, file_);
  len_ += got;
  if (got < room) {
    eof_ = true;
    if (std::ferror(file_)) readError_ = true;
  }
  return got != 0;
}

void TokenReader::SkipSpace() {
  for (;;) {
    // Tokens never hold whitespace, so every line end passes by here.
    while (pos_ < len_ && IsSpace(buffer_[pos_])) {
      if (buffer_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ < len_ || !Refill()) return;
  }
}

bool TokenReader::AtEnd() {
  SkipSpace();
  return pos_ >= len_;
}

TokenReader::Status TokenReader::Next(std::string_view& token) {
  token = {};
  SkipSpace();
  tokenLine_ = line_;
  if (pos_ >= len_) return Status::End;
  std::size_t end = pos_;
  for (;;) {
    end = static_cast<std::size_t>(FindSpace(buffer_.data() + end, buffer_.data() + len_) -
                                   buffer_.data());
    if (end < len_ || eof_) break;           // token complete
    if (end - pos_ > kMaxToken) break;       // give up buffering it
    const std::size_t done = end - pos_;
    if (!Refill()) break;                    // file ended right after the token
    end = pos_ + done;
  }
  if (end - pos_ > kMaxToken) {
    // Swallow the rest of the oversized token wherever it ends.
    pos_ = end;
    while (!eof_ || pos_ < len_) {
      while (pos_ < len_ && !IsSpace(buffer_[pos_])) ++pos_;
      if (pos_ < len_) break;
      if (!Refill()) break;
    }
    return Status::Overlong;
  }
  token = std::string_view(buffer_.data() + pos_, end - pos_);
  pos_ = end;
  return Status::Token;
}

}  // namespace tarnvale
