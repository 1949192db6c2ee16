#include "core/programmer/PicCommands.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <random>

#include "core/formats/ProgrammerHexFiles.h"
#include "core/link/CommPort.h"
#include "core/operator/ShowResult.h"
#include "core/programmer/BootFlash.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {
namespace {

std::string Hex(const char* format, std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, format, static_cast<unsigned>(v));
  return buf;
}

// Selects a PIC target; shows the failure. Null when it failed.
CommPort* Select(LinkState& link, Operator& op, Target target, ResultCode& code) {
  code = link.SelectTarget(target);
  CommPort* port = link.ProgrammerPort();
  if (code == rc::kSuccess && port == nullptr) code = rc::kPortOpenFailed;
  if (code != rc::kSuccess) {
    ShowStatusResult(op, code, port);
    return nullptr;
  }
  return port;
}

// Sends a constant request and waits for the box's status byte.
ResultCode Exchange(CommPort& port, const Packet& packet, std::uint32_t waitMs) {
  if (port.Write(packet) != packet.size()) return rc::kTooFewBytes;
  return WaitStatusByte(port, waitMs);
}

ResultCode FlashPic(LinkState& link, Operator& op, JobRunner& runner, Target target,
                    const PicOptions& o, CommPort& port) {
  ProgrammingRequest request;
  request.port = &port;
  request.mode = kModeProgramFlash;
  request.target = target;
  request.timings = o.engine;
  request.fileOperator = &op;
  (void)link;
  return runner.RunProgramming(request);
}

}  // namespace

bool DeviceIdFromReply(const std::vector<std::uint8_t>& reply, Target target, DeviceIdInfo& info) {
  info = DeviceIdInfo{};
  if (reply.size() < 6 || reply[0] != kPacketStart) return false;
  const std::size_t count = reply[1];
  if (reply.size() != count + 6) return false;
  unsigned sum = 0;
  for (std::size_t i = 1; i < reply.size(); ++i) sum += reply[i];
  if ((sum & 0xFF) != 0) return false;
  const std::uint8_t* d = reply.data() + 5;
  if (count != 4 || (d[0] | d[1] | d[2] | d[3]) == 0) return true;
  switch (Info(target).idForm) {
    case IdForm::Pic18:
      info.a = d[0] & 0x1Fu;
      info.b = (static_cast<std::uint32_t>(d[2]) * 8) | (d[0] >> 5);
      // Labelled by what they are: the revision first, then the device ID.
      info.first = Hex("%02X", info.a);
      info.second = Hex("%02X", info.b);
      break;
    case IdForm::Pic30:
      info.a = static_cast<std::uint32_t>(d[2] | d[3] << 8);
      info.b = static_cast<std::uint32_t>(d[0] | d[1] << 8);
      info.first = Hex("%04X", info.a);
      info.second = Hex("%04X", info.b);
      break;
    case IdForm::None:
      break;
  }
  return true;
}

bool ReadDeviceId(DeviceIdInfo& info, CommPort& port, Target target, const BoxTimings& timings,
                  const Clock& clock) {
  info = DeviceIdInfo{};
  const Packet request = ReadIdPacket();
  if (port.Write(request) < request.size()) return false;
  // A four-byte ID in its frame is ten bytes.
  SettleForRawReply(port, timings, timings.clock != nullptr ? *timings.clock : clock, timings.jtagSettleMs, 10);
  std::vector<std::uint8_t> reply(kDeviceIdReplyMax);
  const std::size_t n = port.Read(reply.data(), reply.size());
  reply.resize(n);
  return DeviceIdFromReply(reply, target, info);
}

std::string DeviceIdText(const DeviceIdInfo& info) {
  return "Device Revision = 0x" + info.first + "\r\nDevice ID = 0x" + info.second;
}

std::string WrongDsPicText(const DeviceIdInfo& info) {
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "Device Info:\r\nDevice ID = 0x%X\r\nDevice Rev. = 0x%X\r\n\r\nShould Read:\r\nDevice ID = "
                "0x%X\r\nDevice Rev. = 0x%X\r\n",
                static_cast<unsigned>(info.b & 0xFFFF), static_cast<unsigned>(info.a & 0xFFFF),
                static_cast<unsigned>(kDsPic30DeviceId), static_cast<unsigned>(kDsPic30Revision));
  return buf;
}

std::string NoChipText(Target target) {
  return "No chip answered: the box read an empty device ID (is the " + std::string(Info(target).description) +
         " in its socket?)";
}

std::string CpuIdCaption(Target target) {
  return std::string(Info(target).idCaption);
}

Packet FillEepromPacket(std::uint16_t seed) {
  const std::array<std::uint8_t, 2> data = {static_cast<std::uint8_t>(seed),
                                            static_cast<std::uint8_t>(seed >> 8)};
  return BuildPacket(2, 0, box_type::kFillEeprom, data);
}

ResultCode FlashPic18F252(LinkState& link, Operator& op, JobRunner& runner, const PicOptions& o) {
  CommandBracket bracket(link);
  ResultCode code = 0;
  CommPort* port = Select(link, op, Target::Pic18F252, code);
  if (port == nullptr) return code;
  return FlashPic(link, op, runner, Target::Pic18F252, o, *port);
}

ResultCode FlashDsPic30F(LinkState& link, Operator& op, JobRunner& runner, const PicOptions& o) {
  CommandBracket bracket(link);
  ResultCode code = 0;
  CommPort* port = Select(link, op, Target::DsPic30F, code);
  if (port == nullptr) return code;
  DeviceIdInfo info;
  if (!ReadDeviceId(info, *port, Target::DsPic30F, o.box)) {
    op.ShowMessage(pic_text::kNoDeviceId, MessageIcon::Exclamation);
    return rc::kTooFewBytes;
  }
  if (info.a != kDsPic30Revision || info.b != kDsPic30DeviceId) {
    op.ShowMessage(WrongDsPicText(info), MessageIcon::Exclamation);
    return rc::kDataMismatch;
  }
  return FlashPic(link, op, runner, Target::DsPic30F, o, *port);
}

ResultCode ReadPicEeprom(LinkState& link, Operator& op, JobRunner& runner, Target target,
                         const PicOptions& o) {
  CommandBracket bracket(link);
  ResultCode code = 0;
  CommPort* port = Select(link, op, target, code);
  if (port == nullptr) return code;
  MemoryReadRequest request;
  request.port = port;
  request.target = target;
  request.start = Info(target).readBack.start;
  request.end = Info(target).readBack.end;
  request.path = o.outputPath.empty() ? DefaultReadBackPath(op, target) : o.outputPath;
  request.timings = o.engine;
  request.reader = BootImageReader(o.readSettleMs, o.recordSilenceMs);
  return runner.RunMemoryRead(request);
}

ResultCode PicBlankCheck(LinkState& link, Operator& op, Target target, const PicOptions& o) {
  CommandBracket bracket(link);
  // A port that would not open (busy, missing) is said as such, not as a
  // box that did not answer.
  const ResultCode selected = link.SelectTarget(target);
  CommPort* port = link.ProgrammerPort();
  const ResultCode code = selected == rc::kPortOpenFailed ? selected
                          : port && port->IsOpen()
                              ? Exchange(*port, BuildPacket(0, 0, box_type::kBlankCheck), o.statusWaitMs)
                              : rc::kTimeout;
  ShowStatusResult(op, code, port, pic_text::kFlashBlank);
  return code;
}

ResultCode PicEraseFlash(LinkState& link, Operator& op, Target target, const PicOptions& o) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(target);
  CommPort* port = link.ProgrammerPort();
  const ResultCode code = selected == rc::kPortOpenFailed ? selected
                          : port && port->IsOpen()
                              ? Exchange(*port, BuildPacket(0, 0, box_type::kErase), o.statusWaitMs)
                              : rc::kTimeout;
  ShowStatusResult(op, code, port, pic_text::kSuccess);
  return code;
}

ResultCode LoadPic18EepromData(LinkState& link, Operator& op, const PicOptions& o) {
  CommandBracket bracket(link);
  ResultCode code = link.SelectTarget(Target::Pic18F252);
  CommPort* port = link.ProgrammerPort();
  if (code == rc::kSuccess && port != nullptr) {
    std::uint16_t seed = 0;
    if (o.seed) {
      seed = *o.seed;
    } else {
      std::mt19937 random(static_cast<std::uint32_t>(
          std::chrono::system_clock::now().time_since_epoch().count()));
      seed = static_cast<std::uint16_t>(random());
    }
    code = Exchange(*port, FillEepromPacket(seed), o.statusWaitMs);
  }
  ShowStatusResult(op, code, port);
  return code;
}

ResultCode TestPic18Eeprom(LinkState& link, Operator& op, const PicOptions& o) {
  CommandBracket bracket(link);
  ResultCode code = link.SelectTarget(Target::Pic18F252);
  CommPort* port = link.ProgrammerPort();
  if (code == rc::kSuccess && port != nullptr) {
    code = Exchange(*port, BuildPacket(0, 0, box_type::kTestEeprom), o.statusWaitMs);
  }
  ShowStatusResult(op, code, port, pic_text::kEepromGood);
  return code;
}

ResultCode ReadCpuId(LinkState& link, Operator& op, Target target, const PicOptions& o,
                     DeviceIdInfo* out) {
  CommandBracket bracket(link);
  const std::string caption = CpuIdCaption(target);
  const ResultCode selected = link.SelectTarget(target);
  CommPort* port = Info(target).role == PortRole::Primary ? link.PrimaryPort() : link.ProgrammerPort();
  if (selected != rc::kSuccess || port == nullptr) {
    const ResultCode c = selected != rc::kSuccess ? selected : rc::kPortOpenFailed;
    ShowStatusResult(op, c, link.ProgrammerPort());
    return c;
  }
  DeviceIdInfo info;
  const bool ok = ReadDeviceId(info, *port, target, o.box);
  if (out) *out = info;
  // The box answered with an empty ID: the socket is empty or the chip is
  // not seated. Said as such, and not a success.
  if (ok && Info(target).idForm != IdForm::None && info.first == "N/A") {
    op.ShowMessage(DeviceIdText(info) + "\r\n\r\n" + NoChipText(target), MessageIcon::Exclamation, caption);
    return rc::kUnrecognizedResponse;
  }
  op.ShowMessage(ok ? DeviceIdText(info) : std::string(pic_text::kUnavailable),
                 ok ? MessageIcon::Information : MessageIcon::Exclamation, caption);
  return ok ? rc::kSuccess : rc::kTooFewBytes;
}

}  // namespace tarnvale
