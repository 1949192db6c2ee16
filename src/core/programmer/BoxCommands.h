#pragma once
// The Universal Programmer box's command set on the programmer port.
//
// The box speaks the controllers' packet framing; what differs is its packet
// types and the shape of its replies: status bytes, framed records, raw
// replies of a fixed length read after a fixed settling time, and streams of
// status records.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/device/Target.h"
#include "core/programmer/BoardInfoRecord.h"
#include "core/platform/Clock.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

class CommPort;
class Operator;

namespace box_type {
inline constexpr std::uint8_t kReadMemory = 0x16;
inline constexpr std::uint8_t kBlankCheck = 0x17;
inline constexpr std::uint8_t kReadId = 0x18;
inline constexpr std::uint8_t kSelectTarget = 0x19;
inline constexpr std::uint8_t kFillEeprom = 0x1A;
inline constexpr std::uint8_t kTestEeprom = 0x1B;
inline constexpr std::uint8_t kLineTest = 0x1C;
inline constexpr std::uint8_t kBoardInfo = 0x1D;
inline constexpr std::uint8_t kLoadRam = 0x1E;
inline constexpr std::uint8_t kTestRam = 0x1F;
inline constexpr std::uint8_t kDrivePins = 0x21;
inline constexpr std::uint8_t kDriveAndSample = 0x22;
inline constexpr std::uint8_t kVersion = 0x23;
inline constexpr std::uint8_t kPic18ProgramData = 0x15;
inline constexpr std::uint8_t kErase = 0x06;
}  // namespace box_type

inline constexpr std::uint32_t kCpu386JtagId = 0x28270013;
inline constexpr std::uint32_t kTn835JtagId = 0x11F4401D;

// Reply lengths of the raw replies.
inline constexpr std::size_t kJtagReplyLength = 10;
inline constexpr std::size_t kJtagReplyMax = 16;
inline constexpr std::size_t kBoardInfoReplyLength = 68;
inline constexpr std::size_t kBoardInfoReplyMax = 100;

// Line test kinds.
inline constexpr std::uint8_t kLineTestOff = 0;
inline constexpr std::uint8_t kLineTestData = 1;
inline constexpr std::uint8_t kLineTestAddress = 2;
inline constexpr std::uint32_t kLineTestOnTimeoutMs = 1500;
inline constexpr std::uint32_t kLineTestOffTimeoutMs = 250;

// How long the box is given before its raw replies are read, and how long a
// framed reply may stay silent. The defaults are the box's real times; tests
// pass shorter ones.
struct BoxTimings {
  std::uint32_t jtagSettleMs = 500;
  std::uint32_t jtagSettle386Ms = 3500;  // the 80386EX chain takes longer to reach
  std::uint32_t boardInfoSettleMs = 1500;
  std::uint32_t recordSilenceMs = kFramedReplyTimeoutMs;
  // The clock these waits run by; none: the system's. A bench whose box is
  // simulated in the same process may give the simulator's own.
  const Clock* clock = nullptr;
  // A simulator bench: a raw reply is read as soon as it is whole, and its
  // settling time is only how long it may take (a real box is read after
  // the full time, whatever has arrived).
  bool rawReplyEndsWhenWhole = false;
};

// A bench whose box answers at once (the simulator) may shorten the waits
// the host makes before it reads the box's raw replies; a real box needs the
// full times. The text is a whole number of milliseconds, 0 to
// kMaxBoxSettleMs; anything else gives none.
inline constexpr std::uint32_t kMaxBoxSettleMs = 10000;
std::optional<std::uint32_t> ParseBoxSettleMs(std::string_view text);
// `timings` with each wait before a raw reply (JTAG IDs, the 80386EX chain,
// board info) set to `ms`, ending as soon as the reply is whole; the silence
// allowed in framed replies stays.
BoxTimings WithBoxSettle(BoxTimings timings, std::uint32_t ms);

namespace box_text {
inline constexpr const char* kJtagCableAdvice =
    "Unable to communicate with RQ700. Please check the following:\n\n1) Power supply to RQ700 "
    "controller\n2) Make sure JTAG cable is connected from universal programmer to 7193 80386EX "
    "JTAG header.";
inline constexpr const char* kBoxUnreachable =
    "Unable to communicate with the universal programmer. Please check the following:\n\n1) Power "
    "supply to universal programmer\n2) USB connection from PC to universal programmer. ";
}  // namespace box_text

// The wait after a request before its raw reply is read: `settleMs`, or on
// a simulator bench until `whole` bytes are there (at most `settleMs`).
void SettleForRawReply(CommPort& port, const BoxTimings& timings, const Clock& clock, std::uint32_t settleMs,
                       std::size_t whole);

// The box talked to over one open port.
class BoxLink {
 public:
  // The timings' own clock, when they name one, is the link's.
  explicit BoxLink(CommPort& port, BoxTimings timings = {}, const Clock& clock = SystemClock())
      : port_(port), timings_(timings), clock_(timings.clock != nullptr ? *timings.clock : clock) {}

  CommPort& Port() { return port_; }
  const BoxTimings& Timings() const { return timings_; }
  // The clock every wait on this link runs by.
  const Clock& TimeSource() const { return clock_; }

  // Writes a packet; false on a short write.
  bool Send(const Packet& packet);

  // '0' or 'A' (reply not exactly 10 bytes); on 'A' `id` is not written.
  ResultCode ReadJtagId(std::uint32_t& id, Target target);
  // '0' for 0x28270013, 'D' for another ID, 'A' when none was read.
  ResultCode CheckCpu386Id(std::uint32_t& id);
  ResultCode CheckTn835Id(std::uint32_t& id);
  // The words of the 80386EX check, as the operator reads them.
  std::string JtagIdText();
  // Sends the record's two revision letters; on '0' the whole record is the
  // box's; on 'A' it is left as it was.
  ResultCode ExchangeBoardInfo(BoardInfoRecord& record);
  // Boards of revision E and later are programmed with revision D's flash
  // algorithm: for target 4 with a letter above 'D', an exchange with both
  // letters 'D' on a scratch record. '0' at once in every other case.
  ResultCode NormalizeFlashRevision(Target target, std::uint8_t cpuRevision,
                                    std::uint8_t ioRevision);
  ResultCode SetLineTest(bool on, std::uint8_t kind, std::uint32_t value, std::uint32_t timeoutMs);
  // The version text from a framed record.
  ResultCode ReadVersion(std::string& text);
  // One framed record with the configured silence.
  ResultCode ReadRecord(MemoryRecord& record);
  // After a JTAG ID read that ended 'A': what came back instead of the
  // reply ("Too few bytes sent (the box sent nothing; ...)"), or that the
  // link to the box was closed. `advice` follows a box that is there but
  // had no ID to give (the cable text of the 80386EX, say).
  std::string NoJtagIdText(const std::string& advice = {});
  // After an ExchangeBoardInfo that ended 'A': how many bytes came instead
  // of the board information record ("Too few bytes sent (the box sent 12
  // bytes; ...)"), or that the link to the box was closed.
  std::string NoBoardInfoText();

 private:
  // Sleeps `settleMs` (on a simulator bench: until `whole` bytes are there,
  // at most `settleMs`), then reads at most `max` bytes of what has arrived.
  std::vector<std::uint8_t> ReadRaw(std::uint32_t settleMs, std::size_t whole, std::size_t max);

  CommPort& port_;
  BoxTimings timings_;
  const Clock& clock_;
  std::size_t lastReplySize_ = 0;  // of the last raw reply
};

// Request packets with fixed bytes.
Packet ReadIdPacket();        // ':' 00 00 00 18 E8
Packet VersionPacket();       // ':' 00 00 00 23 DD
Packet BoardInfoPacket(std::uint8_t cpuRevision, std::uint8_t ioRevision);
Packet LineTestPacket(bool on, std::uint8_t kind, std::uint32_t value);
// Load (0x1E) or test (0x1F) of 1 MB RAM bank `bank` (1 to 5).
Packet RamBankPacket(bool test, int bank);
inline constexpr std::uint32_t kRamBankSize = 0x100000;

// The gate in front of every CPU board operation (pin test, RAM, boot flash,
// board info): the 80386EX must answer with its own JTAG ID first. A cable
// that is off or a wrong chip would otherwise let a board test "pass" with no
// board behind it. '0' when it answered 0x28270013; otherwise the JTAG text
// has been shown and the result is 'A' (no answer) or 'D' (another ID).
ResultCode ConfirmCpu386(BoxLink& box, Operator& op, std::uint32_t* idRead = nullptr);

// "JTAG ID = 0x%X".
std::string JtagIdLine(std::uint32_t id);
// "Invalid JTAG ID 0x%X, should read 0x28270013 for 80386EX CPU".
std::string InvalidJtagIdText(std::uint32_t id);
// "Universal Programmer Version %s".
std::string VersionLine(const std::string& version);

}  // namespace tarnvale
