#pragma once
// Link primitives shared by controllers and the Universal Programmer box:
// reply readers with time-outs, hex text helpers, and the words for results.
//
// Every reader waits for the port to become readable (poll on its
// descriptor) up to its deadline; none spins and none blocks past it. The
// deadlines run on the clock given (the system clock unless a test fakes it).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Clock.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"
#include "core/operator/Operator.h"

namespace tarnvale {

class CommPort;

// The module name that protocol failures are logged under.
inline constexpr const char* kUtilModule = "Util";

// A decoded reply record: count, 16-bit address, type, data, checksum.
struct MemoryRecord {
  std::uint8_t count = 0;
  std::uint16_t address = 0;
  std::uint8_t type = 0;
  std::vector<std::uint8_t> data;
  std::uint8_t checksum = 0;
};

// A controller reply line read by ReadHexReply.
struct HexReply {
  std::string line;         // the text before LF CR
  bool isRecord = false;    // line begins with ':'
  // Decoded when isRecord: header fields and every hex pair from character 9
  // on (data bytes followed by the checksum); the checksum is not verified.
  std::uint8_t count = 0;
  std::uint16_t address = 0;
  std::uint8_t type = 0;
  std::vector<std::uint8_t> pairs;
};

// Longest controller line accepted before its CR.
inline constexpr std::size_t kMaxReplyLine = 80;

// Waits up to timeoutMs for one byte and returns it; '@' on time-out. The
// port keeps what the wait saw (CommPort::LastStatusWait), so a '@' the
// device sent can still be told from a wait that ran out.
ResultCode WaitStatusByte(CommPort& port, std::uint32_t timeoutMs, const Clock& clock = SystemClock());

// The words for a result read from `port` (ReplyResultText), with what came
// when the code is a '@' the device sent itself: "Timeout while waiting for a
// response (the device answered '@' after 0.1 s of the 1.0 s allowed; not a
// wait of this program that ran out)". A null port gives ReplyResultText.
std::string StatusResultText(ResultCode code, const CommPort* port);
// ShowResult with StatusResultText's words.
void ShowStatusResult(Operator& op, ResultCode code, const CommPort* port, const std::string& successText = {});

// Reads a controller reply ending in CR. A line (LF before the CR) gives '0'
// and fills `reply`; a status reply gives the byte two places before the CR
// ('3' when the CR comes too early for that); '1' for more than 80
// characters before the CR; '@' on time-out (the timer is not restarted by
// arriving bytes).
ResultCode ReadHexReply(CommPort& port, std::uint32_t timeoutMs, HexReply& reply,
                        const Clock& clock = SystemClock());

inline constexpr std::uint32_t kFramedReplyTimeoutMs = 5000;
// Collects one binary record of the box (':' count addrHi addrLo type data
// checksum). '0' complete and valid; '2' bad checksum; '1' no record within
// 80 bytes; '@' after `silenceMs` (5000 ms) without a byte (the limit starts
// again with every chunk that arrives, so a slow record is still read whole).
ResultCode ReadFramedReply(CommPort& port, MemoryRecord& record,
                           std::uint32_t silenceMs = kFramedReplyTimeoutMs,
                           const Clock& clock = SystemClock());

// Writes `text`, then waits until at least expectedLength bytes wait or the
// time-out passes. '@' when nothing came; '1' when more than expected came.
ResultCode SendAndReadText(CommPort& port, std::string_view text, std::string& outText,
                           std::size_t expectedLength, std::uint32_t timeoutMs,
                           const Clock& clock = SystemClock());

// Two hex characters, high nibble first. Only '0'-'9' and 'A'-'F' count;
// every other character (lower case included) counts as 0.
std::uint8_t HexByte(const char* twoChars);
std::uint16_t HexWord(const char* fourChars);

// Logs every code but '0' and 'I' ("No Application in Memory" is an expected
// answer) to the error log; returns the code unchanged.
ResultCode LogIfFailed(ResultCode code, std::string_view file, std::string_view function, int line,
                       Operator* op = nullptr);

}  // namespace tarnvale
