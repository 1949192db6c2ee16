#include "core/programmer/BoxCommands.h"

#include <charconv>
#include <cstdio>

#include "core/link/CommPort.h"
#include "core/protocol/Timer.h"
#include "core/operator/Operator.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {
namespace {

std::string Format(const char* fmt, std::uint32_t v) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, static_cast<unsigned>(v));
  return buf;
}

}  // namespace

Packet ReadIdPacket() { return BuildPacket(0, 0, box_type::kReadId); }
Packet VersionPacket() { return BuildPacket(0, 0, box_type::kVersion); }

Packet BoardInfoPacket(std::uint8_t cpuRevision, std::uint8_t ioRevision) {
  return BuildPacket(0, static_cast<std::uint16_t>(cpuRevision << 8 | ioRevision),
                     box_type::kBoardInfo);
}

Packet LineTestPacket(bool on, std::uint8_t kind, std::uint32_t value) {
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value >> 16),
                                static_cast<std::uint8_t>(value >> 24)};
  return BuildPacket(4, static_cast<std::uint16_t>((on ? 1 : 0) << 8 | kind), box_type::kLineTest,
                     data);
}

Packet RamBankPacket(bool test, int bank) {
  const std::uint32_t start = static_cast<std::uint32_t>(bank - 1) * kRamBankSize;
  std::uint8_t data[9] = {};
  for (int i = 0; i < 4; ++i) {
    data[i] = static_cast<std::uint8_t>(start >> (8 * i));
    data[4 + i] = static_cast<std::uint8_t>(kRamBankSize >> (8 * i));
  }
  return BuildPacket(9, 0, test ? box_type::kTestRam : box_type::kLoadRam, data);
}

std::string JtagIdLine(std::uint32_t id) { return Format("JTAG ID = 0x%X", id); }
std::string InvalidJtagIdText(std::uint32_t id) {
  return Format("Invalid JTAG ID 0x%X, should read 0x28270013 for 80386EX CPU", id);
}
std::string VersionLine(const std::string& version) {
  return "Universal Programmer Version " + version;
}

bool BoxLink::Send(const Packet& packet) { return port_.Write(packet) == packet.size(); }

void SettleForRawReply(CommPort& port, const BoxTimings& timings, const Clock& clock, std::uint32_t settleMs,
                       std::size_t whole) {
  if (!timings.rawReplyEndsWhenWhole) {
    clock.SleepMs(settleMs);
    return;
  }
  const Timer settle(settleMs, clock);
  while (port.GetInQueue() < whole && !settle.IsExpired() && !port.LinkLost()) {
    // Part of a reply makes the port readable: sleep a tick rather than spin.
    if (port.GetInQueue() == 0) {
      port.WaitReadable(settle.RemainingMs());
    } else {
      clock.SleepMs(1);
    }
  }
}

std::vector<std::uint8_t> BoxLink::ReadRaw(std::uint32_t settleMs, std::size_t whole, std::size_t max) {
  SettleForRawReply(port_, timings_, clock_, settleMs, whole);
  std::vector<std::uint8_t> reply(max);
  reply.resize(port_.Read(reply.data(), max));
  lastReplySize_ = reply.size();
  return reply;
}

std::string BoxLink::NoJtagIdText(const std::string& advice) {
  // Nothing came: a look (without waiting) tells a closed link from a
  // silent box.
  if (lastReplySize_ == 0 && !port_.LinkLost()) port_.WaitReadable(0);
  if (port_.LinkLost()) {
    return ResultText(rc::kLinkLost) + " (the Universal Programmer on " + port_.PortName() + "; no JTAG ID came)";
  }
  if (!advice.empty()) return advice;
  const std::string whole = std::to_string(kJtagReplyLength);
  return ResultText(rc::kTooFewBytes) +
         (lastReplySize_ == 0 ? " (the box sent nothing; a JTAG ID reply is " + whole + " bytes)"
                              : " (the box sent " + std::to_string(lastReplySize_) + " bytes; a JTAG ID reply is " +
                                    whole + " bytes)");
}

std::string BoxLink::NoBoardInfoText() {
  if (lastReplySize_ == 0 && !port_.LinkLost()) port_.WaitReadable(0);
  if (port_.LinkLost()) {
    return ResultText(rc::kLinkLost) + " (the Universal Programmer on " + port_.PortName() +
           "; no board information came)";
  }
  return ResultText(rc::kTooFewBytes) + " (the box sent " +
         (lastReplySize_ == 0 ? std::string("nothing") : std::to_string(lastReplySize_) + " bytes") +
         "; a board information reply is " + std::to_string(kBoardInfoReplyLength) + " bytes)";
}

ResultCode BoxLink::ReadJtagId(std::uint32_t& id, Target target) {
  Send(ReadIdPacket());
  const auto reply = ReadRaw(
      Info(target).longJtagSettle ? timings_.jtagSettle386Ms : timings_.jtagSettleMs,
      kJtagReplyLength, kJtagReplyMax);
  if (reply.size() != kJtagReplyLength) return rc::kTooFewBytes;
  id = static_cast<std::uint32_t>(reply[5]) << 24 | static_cast<std::uint32_t>(reply[6]) << 16 |
       static_cast<std::uint32_t>(reply[7]) << 8 | reply[8];
  return rc::kSuccess;
}

ResultCode BoxLink::CheckCpu386Id(std::uint32_t& id) {
  const ResultCode r = ReadJtagId(id, Target::CpuBoard386);
  if (r != rc::kSuccess) return r;
  return id == kCpu386JtagId ? rc::kSuccess : rc::kDataMismatch;
}

ResultCode BoxLink::CheckTn835Id(std::uint32_t& id) {
  const ResultCode r = ReadJtagId(id, Target::Tn835Jtag);
  if (r != rc::kSuccess) return r;
  return id == kTn835JtagId ? rc::kSuccess : rc::kDataMismatch;
}

std::string BoxLink::JtagIdText() {
  std::uint32_t id = 0;
  const ResultCode r = CheckCpu386Id(id);
  if (r == rc::kSuccess) return JtagIdLine(kCpu386JtagId);
  if (r == rc::kTooFewBytes) return NoJtagIdText(box_text::kJtagCableAdvice);
  return InvalidJtagIdText(id);
}

ResultCode ConfirmCpu386(BoxLink& box, Operator& op, std::uint32_t* idRead) {
  std::uint32_t id = 0;
  const ResultCode r = box.CheckCpu386Id(id);
  if (idRead != nullptr) *idRead = id;
  if (r == rc::kSuccess) return r;
  op.ShowMessage(r == rc::kTooFewBytes ? box.NoJtagIdText(box_text::kJtagCableAdvice) : InvalidJtagIdText(id),
                 MessageIcon::Exclamation);
  return r;
}

ResultCode BoxLink::ExchangeBoardInfo(BoardInfoRecord& record) {
  Send(BoardInfoPacket(record.CpuRevision(), record.IoRevision()));
  const auto reply = ReadRaw(timings_.boardInfoSettleMs, kBoardInfoReplyLength, kBoardInfoReplyMax);
  if (reply.size() != kBoardInfoReplyLength) return rc::kTooFewBytes;
  std::copy(reply.begin() + 5, reply.begin() + 5 + BoardInfoRecord::kSize, record.bytes.begin());
  return rc::kSuccess;
}

ResultCode BoxLink::NormalizeFlashRevision(Target target, std::uint8_t cpuRevision,
                                           std::uint8_t ioRevision) {
  if (!Info(target).flashRevisionRule || (cpuRevision <= 'D' && ioRevision <= 'D')) {
    return rc::kSuccess;
  }
  BoardInfoRecord scratch;
  scratch.SetCpuRevision('D');
  scratch.SetIoRevision('D');
  return ExchangeBoardInfo(scratch);
}

ResultCode BoxLink::SetLineTest(bool on, std::uint8_t kind, std::uint32_t value,
                                std::uint32_t timeoutMs) {
  Send(LineTestPacket(on, kind, value));
  return WaitStatusByte(port_, timeoutMs);
}

ResultCode BoxLink::ReadRecord(MemoryRecord& record) {
  return ReadFramedReply(port_, record, timings_.recordSilenceMs, clock_);
}

ResultCode BoxLink::ReadVersion(std::string& text) {
  Send(VersionPacket());
  MemoryRecord record;
  const ResultCode r = ReadRecord(record);
  if (r == rc::kSuccess) text.assign(record.data.begin(), record.data.end());
  return r;
}

std::optional<std::uint32_t> ParseBoxSettleMs(std::string_view text) {
  std::uint32_t ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || ms > kMaxBoxSettleMs) {
    return std::nullopt;
  }
  return ms;
}

BoxTimings WithBoxSettle(BoxTimings timings, std::uint32_t ms) {
  timings.jtagSettleMs = ms;
  timings.jtagSettle386Ms = ms;
  timings.boardInfoSettleMs = ms;
  timings.rawReplyEndsWhenWhole = true;
  return timings;
}

}  // namespace tarnvale
