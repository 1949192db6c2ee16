#include "core/protocol/Util.h"

#include <algorithm>
#include <cstdio>

#include "core/link/CommPort.h"
#include "core/platform/HexDigits.h"
#include "core/protocol/Timer.h"
#include "core/operator/ErrorLog.h"
#include "core/operator/ShowResult.h"

namespace tarnvale {
namespace {

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;

// A controller reply digit: only '0'-'9' and 'A'-'F' count; anything else,
// lower-case letters included, is 0.
int Nibble(char c) {
  if (c >= 'a') return 0;
  const int v = HexDigitValue(c);
  return v < 0 ? 0 : v;
}

// Decodes a ':' line in place of the old fixed-offset scan: characters that
// the line does not have count as 0, so a short line never reads past itself.
void DecodeRecordLine(HexReply& reply) {
  std::string padded = reply.line;
  padded.resize(std::max<std::size_t>(padded.size() + 2, 11), '\0');
  reply.count = HexByte(&padded[1]);
  reply.address = HexWord(&padded[3]);
  reply.type = HexByte(&padded[7]);
  reply.pairs.clear();
  const std::size_t length = reply.line.size();
  if (length > 9) {
    const std::size_t n = (length - 10) / 2 + 1;
    reply.pairs.reserve(n);
    for (std::size_t k = 0; k < n; ++k) reply.pairs.push_back(HexByte(&padded[9 + 2 * k]));
  }
}

}  // namespace

std::uint8_t HexByte(const char* twoChars) {
  return static_cast<std::uint8_t>(Nibble(twoChars[0]) * 16 + Nibble(twoChars[1]));
}

std::uint16_t HexWord(const char* fourChars) {
  return static_cast<std::uint16_t>(HexByte(fourChars) * 256 + HexByte(fourChars + 2));
}

ResultCode WaitStatusByte(CommPort& port, std::uint32_t timeoutMs, const Clock& clock) {
  Timer timer(timeoutMs, clock);
  CommPort::StatusWait seen;
  seen.limitMs = timeoutMs;
  for (;;) {
    std::uint8_t b = 0;
    if (port.Read(&b, 1) == 1) {
      seen.answered = true;
      seen.byte = b;
      seen.afterMs = timer.ElapsedMs();
      port.NoteStatusWait(seen);
      return b;
    }
    if (port.LinkLost() || timer.IsExpired()) {
      seen.afterMs = timer.ElapsedMs();
      port.NoteStatusWait(seen);
      return port.LinkLost() ? rc::kLinkLost : rc::kTimeout;
    }
    port.WaitReadable(timer.RemainingMs());
  }
}

std::string StatusResultText(ResultCode code, const CommPort* port) {
  std::string text = ReplyResultText(code);
  if (port == nullptr || code != rc::kTimeout) return text;
  const CommPort::StatusWait& seen = port->LastStatusWait();
  if (!seen.answered || seen.byte != rc::kTimeout) return text;
  const auto seconds = [](std::uint32_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", ms / 1000.0);
    return std::string(buf);
  };
  return text + " (the device answered '@' after " + seconds(seen.afterMs) + " of the " +
         seconds(seen.limitMs) + " allowed; not a wait of this program that ran out)";
}

void ShowStatusResult(Operator& op, ResultCode code, const CommPort* port, const std::string& successText) {
  if (code == rc::kSuccess) {
    ShowResult(op, code, successText);
  } else {
    op.ShowMessage(StatusResultText(code, port), MessageIcon::Exclamation);
  }
}

ResultCode ReadHexReply(CommPort& port, std::uint32_t timeoutMs, HexReply& reply, const Clock& clock) {
  Timer timer(timeoutMs, clock);
  std::array<std::uint8_t, 256> buffer{};
  std::size_t fill = 0;
  for (;;) {
    const std::size_t waiting = port.GetInQueue();
    if (waiting > 0) {
      // fill never exceeds 80 here, so the room is always ample.
      const std::size_t n = port.Read(buffer.data() + fill, std::min(waiting, buffer.size() - fill));
      for (std::size_t i = 0; i < n; ++i) {
        if (buffer[fill] != kCR) {
          if (++fill > kMaxReplyLine) return rc::kStringTooLong;
          continue;
        }
        // The CR at `fill` ends the reply; bytes after it in this chunk are dropped.
        if (fill >= 1 && buffer[fill - 1] == kLF) {
          reply.line.assign(reinterpret_cast<const char*>(buffer.data()), fill - 1);
          reply.isRecord = !reply.line.empty() && reply.line.front() == ':';
          if (reply.isRecord) DecodeRecordLine(reply);
          return rc::kSuccess;
        }
        // A status reply: the code stands two places before the CR.
        return fill >= 2 ? buffer[fill - 2] : rc::kUnrecognizedResponse;
      }
    }
    if (port.LinkLost()) return rc::kLinkLost;
    if (timer.IsExpired()) return rc::kTimeout;
    port.WaitReadable(timer.RemainingMs());
  }
}

ResultCode ReadFramedReply(CommPort& port, MemoryRecord& record, std::uint32_t silenceMs,
                           const Clock& clock) {
  Timer timer(silenceMs, clock);
  ResultCode result = rc::kTimeout;
  bool collecting = false;
  std::array<std::uint8_t, 80> stored{};
  std::size_t pos = 0;
  // Bytes that come after a silence count as a new answer: whatever an
  // earlier burst decided ('1' for an overlong record) no longer holds.
  bool afterSilence = true;
  for (;;) {
    const std::size_t waiting = port.GetInQueue();
    if (waiting > 0) {
      // Never read past the end of this record: a stream of records (a
      // read-back) sends the next one right behind it.
      const std::size_t need = !collecting || pos == 0
                                   ? 1
                                   : static_cast<std::size_t>(stored[0]) + 5 - pos;
      std::array<std::uint8_t, 80> chunk{};
      const std::size_t n = port.Read(chunk.data(), std::min({waiting, chunk.size(), need}));
      if (n > 0) {
        timer.Restart(silenceMs);
        if (afterSilence) result = rc::kTimeout;
        afterSilence = false;
      }
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = chunk[i];
        if (!collecting) {
          if (b == kPacketStart) {
            // A new record: an earlier overlong one no longer decides.
            result = rc::kTimeout;
            collecting = true;
            pos = 0;
          }
          continue;
        }
        stored[pos++] = b;
        if (pos == static_cast<std::size_t>(stored[0]) + 5) {
          unsigned sum = 0;
          for (std::size_t k = 0; k < pos; ++k) sum += stored[k];
          record.count = stored[0];
          record.address = static_cast<std::uint16_t>(stored[1] << 8 | stored[2]);
          record.type = stored[3];
          record.data.assign(stored.begin() + 4, stored.begin() + 4 + stored[0]);
          record.checksum = stored[pos - 1];
          return (sum & 0xFF) == 0 ? rc::kSuccess : rc::kBadChecksum;
        }
        if (pos == stored.size()) {
          collecting = false;
          pos = 0;
          result = rc::kStringTooLong;
        }
      }
    }
    if (port.LinkLost()) return rc::kLinkLost;
    if (timer.IsExpired()) return result;
    if (port.GetInQueue() == 0) afterSilence = true;
    port.WaitReadable(timer.RemainingMs());
  }
}

ResultCode SendAndReadText(CommPort& port, std::string_view text, std::string& outText,
                           std::size_t expectedLength, std::uint32_t timeoutMs, const Clock& clock) {
  port.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  Timer timer(timeoutMs, clock);
  for (std::size_t waiting = port.GetInQueue();
       waiting < std::max<std::size_t>(expectedLength, 1) && !timer.IsExpired() && !port.LinkLost();
       waiting = port.GetInQueue()) {
    // With part of the reply already waiting the port counts as readable, so
    // waiting on it would spin; sleep a tick while the rest is on the wire.
    if (waiting == 0) {
      port.WaitReadable(timer.RemainingMs());
    } else {
      clock.SleepMs(1);
    }
  }
  const std::size_t waiting = port.GetInQueue();
  if (waiting == 0) return port.LinkLost() ? rc::kLinkLost : rc::kTimeout;
  outText.assign(waiting, '\0');
  const std::size_t n = port.Read(reinterpret_cast<std::uint8_t*>(outText.data()), waiting);
  outText.resize(n);
  return n > expectedLength ? rc::kStringTooLong : rc::kSuccess;
}

ResultCode LogIfFailed(ResultCode code, std::string_view file, std::string_view function, int line,
                       Operator* op) {
  if (code != rc::kSuccess && code != rc::kNoApplication) LogError(code, file, function, line, op);
  return code;
}

}  // namespace tarnvale
