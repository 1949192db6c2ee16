#include "core/backup/BackupLink.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/link/CommPort.h"
#include "core/protocol/Timer.h"

namespace tarnvale {

std::string BackupChecksum(std::string_view payload) {
  unsigned sum = static_cast<unsigned char>('0') + static_cast<unsigned char>('1');
  for (const char c : payload) sum += static_cast<unsigned char>(c);
  const unsigned check = (0x100 - (sum & 0xFF)) & 0xFF;
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02X", check);
  return buf;
}

std::optional<std::vector<std::uint8_t>> BackupFrame(std::string_view command) {
  if (command.size() > kMaxBackupCommand) return std::nullopt;
  std::vector<std::uint8_t> frame;
  frame.reserve(command.size() + 6);
  frame.push_back(kBackupStx);
  frame.push_back('0');
  frame.push_back('1');
  frame.insert(frame.end(), command.begin(), command.end());
  const std::string check = BackupChecksum(command);
  frame.insert(frame.end(), check.begin(), check.end());
  frame.push_back(kBackupEtx);
  return frame;
}

std::string ExchangeErrorText(ExchangeError e) {
  switch (e) {
    case ExchangeError::None: return "no error";
    case ExchangeError::CommandTooLong: return "command longer than 250 characters";
    case ExchangeError::WriteFailed: return "nothing could be written to the port";
    case ExchangeError::NoReply: return "no reply within 1000 ms";
    case ExchangeError::ReplyTooShort: return "reply shorter than 6 bytes";
    case ExchangeError::PayloadTooLong: return "reply longer than 127 characters";
    case ExchangeError::BadChecksum: return "reply checksum does not match";
  }
  return "unknown error";
}

namespace {

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool BackupReplyChecksumMatches(const std::vector<std::uint8_t>& frame) {
  if (frame.size() < kMinBackupReply) return false;
  unsigned sum = 0;
  for (std::size_t i = 1; i + 3 < frame.size(); ++i) sum += frame[i];  // address and payload
  const int high = HexDigit(frame[frame.size() - 3]);
  const int low = HexDigit(frame[frame.size() - 2]);
  if (high < 0 || low < 0) return false;
  return static_cast<unsigned>(high * 16 + low) == ((0x100 - (sum & 0xFF)) & 0xFF);
}

std::optional<std::string> BackupReplyPayload(const std::vector<std::uint8_t>& frame, ExchangeError& why,
                                              bool* checksumOk) {
  if (frame.size() < kMinBackupReply) {
    why = ExchangeError::ReplyTooShort;
    return std::nullopt;
  }
  const std::size_t length = frame.size() - 6;
  if (length > kMaxBackupPayload) {
    why = ExchangeError::PayloadTooLong;
    return std::nullopt;
  }
  std::string payload(frame.begin() + 3, frame.end() - 3);
  if (checksumOk != nullptr) *checksumOk = BackupReplyChecksumMatches(frame);
  why = ExchangeError::None;
  return payload;
}

bool ExchangeBackupCommand(CommPort& port, std::string_view command, std::string& reply,
                           ExchangeError* why, const Clock& clock, std::uint32_t timeoutMs, bool* checksumOk) {
  ExchangeError local = ExchangeError::None;
  ExchangeError& error = why != nullptr ? *why : local;
  reply.clear();
  if (checksumOk != nullptr) *checksumOk = true;
  const auto frame = BackupFrame(command);
  if (!frame) {
    error = ExchangeError::CommandTooLong;
    return false;
  }
  // A late reply to an earlier exchange must not complete this one.
  std::uint8_t stale[256];
  for (int i = 0; i < 64 && port.GetInQueue() > 0; ++i) {
    if (port.Read(stale, sizeof stale) == 0) break;
  }
  if (port.Write(frame->data(), frame->size()) == 0) {
    error = ExchangeError::WriteFailed;
    return false;
  }
  std::vector<std::uint8_t> gathered;
  Timer timer(timeoutMs, clock);
  while (!timer.IsExpired()) {
    if (port.GetInQueue() == 0) {
      if (port.LinkLost()) break;  // nothing more can come: end as a time-out at once
      port.WaitReadable(std::min<std::uint32_t>(timer.RemainingMs(), 50));
      continue;
    }
    std::uint8_t b = 0;
    if (port.Read(&b, 1) != 1) continue;
    if (gathered.size() >= kMaxBackupReply) {
      error = ExchangeError::PayloadTooLong;
      return false;
    }
    gathered.push_back(b);
    if (b == kBackupEtx) {
      const auto payload = BackupReplyPayload(gathered, error, checksumOk);
      if (!payload) return false;
      reply = *payload;
      return true;
    }
  }
  error = ExchangeError::NoReply;
  return false;
}

std::vector<std::string> SplitBackupFields(std::string_view text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dollar = text.find('$', start);
    if (dollar == std::string_view::npos) {
      fields.emplace_back(text.substr(start));
      return fields;
    }
    fields.emplace_back(text.substr(start, dollar - start));
    start = dollar + 1;
  }
}

std::string BackupField(const std::vector<std::string>& fields, std::size_t n) {
  return n >= 1 && n <= fields.size() ? fields[n - 1] : std::string();
}

int BackupListCount(const std::string& payload) {
  int count = 0;
  for (std::size_t i = 1; i < payload.size() && i < 6; ++i) {
    const char c = payload[i];
    if (c == ' ' && count == 0) continue;
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    count = count * 10 + (c - '0');
  }
  return count;
}

}  // namespace tarnvale
