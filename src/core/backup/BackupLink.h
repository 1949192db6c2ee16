#pragma once
// The text protocol an RQ750 speaks in its Data Backup mode.
//
// A request is STX, the address "01", the command text, two upper-case hex
// checksum characters and ETX; a reply has the same shape and its payload's
// last character is the command's status. A reply is never refused for its
// checksum: controllers answer from other addresses and in lower-case hex,
// so a mismatch is only counted for the run's summary. Each exchange owns its buffers:
// bytes left over from an exchange that timed out are discarded at the start
// of the next one, so a late answer is never taken for the next reply.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Clock.h"

namespace tarnvale {

class CommPort;

inline constexpr std::uint8_t kBackupStx = 0x02;
inline constexpr std::uint8_t kBackupEtx = 0x03;
inline constexpr std::size_t kMaxBackupCommand = 250;  // characters of command text
inline constexpr std::size_t kMaxBackupPayload = 127;  // characters of reply payload
inline constexpr std::size_t kMinBackupReply = 6;      // STX, two, status, two, ETX
inline constexpr std::size_t kMaxBackupReply = 256;    // bytes gathered before giving up
inline constexpr std::uint32_t kBackupReplyTimeoutMs = 1000;
inline constexpr std::uint32_t kBackupBaudRate = 38400;

// The two checksum characters for `payload` (covering the address "01").
std::string BackupChecksum(std::string_view payload);

// The request frame; nothing when the command is longer than 250 characters.
std::optional<std::vector<std::uint8_t>> BackupFrame(std::string_view command);

// Why an exchange failed, for the result summary.
enum class ExchangeError { None, CommandTooLong, WriteFailed, NoReply, ReplyTooShort, PayloadTooLong, BadChecksum };
std::string ExchangeErrorText(ExchangeError e);

// True when a reply frame's two checksum characters (either hex case) match
// the sum over the reply's own address and payload.
bool BackupReplyChecksumMatches(const std::vector<std::uint8_t>& frame);

// The payload of a complete reply frame (the bytes after the first three and
// before the last three); nothing when the frame is shorter than 6 bytes or
// the payload longer than 127 characters. `checksumOk` (when given) tells
// whether the checksum matched; the payload is taken either way.
std::optional<std::string> BackupReplyPayload(const std::vector<std::uint8_t>& frame, ExchangeError& why,
                                              bool* checksumOk = nullptr);

// Sends `command` and gathers the reply up to ETX within the time-out.
// True with the payload in `reply`; false (reply empty) otherwise.
// `checksumOk` (when given) is false after a reply whose checksum did not match.
bool ExchangeBackupCommand(CommPort& port, std::string_view command, std::string& reply,
                           ExchangeError* why = nullptr, const Clock& clock = SystemClock(),
                           std::uint32_t timeoutMs = kBackupReplyTimeoutMs, bool* checksumOk = nullptr);

// The status of a reply: its last payload character ('\0' for none).
inline char BackupStatus(const std::string& payload) { return payload.empty() ? '\0' : payload.back(); }

// Splits `text` at every '$' into fields (the text after the last '$' is the
// last field, so a trailing status character ends the last field).
std::vector<std::string> SplitBackupFields(std::string_view text);
// Field n (1-based) or an empty text when the record has fewer fields.
std::string BackupField(const std::vector<std::string>& fields, std::size_t n);

// The count a listing opens with: payload characters 2 to 6 as a decimal
// integer (leading digits only, as the controller pads it); 0 when none.
int BackupListCount(const std::string& payload);

}  // namespace tarnvale
