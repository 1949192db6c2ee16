#pragma once
// The "PIC18F252" and "PIC30FXXXX" menu commands: programming, EEPROM
// read-back, blank check, erase, the PIC18F252's EEPROM fill and test, and
// the device ID. Each runs between BeginCommand and EndCommand on the
// programmer port and tells the operator its outcome.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/flash/Workflows.h"
#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {

// What a device ID read found. Texts stay "N/A" and numbers FFFFFFFF when
// the reply carried no usable ID.
struct DeviceIdInfo {
  std::string first = "N/A";   // the revision, hex
  std::string second = "N/A";  // the device ID, hex
  std::uint32_t a = 0xFFFFFFFF;  // revision
  std::uint32_t b = 0xFFFFFFFF;  // device ID
};

inline constexpr std::uint16_t kDsPic30DeviceId = 0x01C0;
inline constexpr std::uint16_t kDsPic30Revision = 0x1001;
inline constexpr std::uint32_t kPicStatusWaitMs = 5000;
inline constexpr std::size_t kDeviceIdReplyMax = 50;

namespace pic_text {
inline constexpr const char* kFlashBlank = "Flash Memory is Blank";
inline constexpr const char* kSuccess = "Success";
inline constexpr const char* kEepromGood = "EEPROM Test Successfull";
inline constexpr const char* kNoDeviceId = "Un-able to read the Device ID";
inline constexpr const char* kUnavailable = "Information Unavailable";
}  // namespace pic_text

// Decodes a read-ID reply (':' count, address, type, data, checksum) for
// target 2 or 3. False when it is not exactly one well-formed record; true
// otherwise, with the values set only for four data bytes not all zero.
bool DeviceIdFromReply(const std::vector<std::uint8_t>& reply, Target target, DeviceIdInfo& info);
// Sends ':' 00 00 00 18 E8, waits the box's settling time and decodes.
bool ReadDeviceId(DeviceIdInfo& info, CommPort& port, Target target, const BoxTimings& timings = {},
                  const Clock& clock = SystemClock());

// "Device Revision = 0x%s\r\nDevice ID = 0x%s".
std::string DeviceIdText(const DeviceIdInfo& info);
// The "Device Info" message of a dsPIC30F with the wrong identity.
std::string WrongDsPicText(const DeviceIdInfo& info);
// The caption of "Read CPU ID" for a target.
std::string CpuIdCaption(Target target);
// Said after an empty device ID: no chip answered.
std::string NoChipText(Target target);

struct PicOptions {
  BoxTimings box;
  EngineTimings engine;
  std::uint32_t statusWaitMs = kPicStatusWaitMs;
  std::uint32_t readSettleMs = 0;          // the EEPROM read needs no settling
  std::uint32_t recordSilenceMs = kFramedReplyTimeoutMs;
  std::string outputPath;                  // EEPROM read: empty = the fixed name in the user temp folder
  std::optional<std::uint16_t> seed;       // EEPROM fill: absent = from the clock
};

// "Flash PIC18F252" and "Flash dsPIC30F": the programming dialog for memory
// type 2 or 3 with its HEX file class.
ResultCode FlashPic18F252(LinkState& link, Operator& op, JobRunner& runner, const PicOptions& o = {});
ResultCode FlashDsPic30F(LinkState& link, Operator& op, JobRunner& runner, const PicOptions& o = {});
// "Read EEPROM" of target 2 or 3 into its text file.
ResultCode ReadPicEeprom(LinkState& link, Operator& op, JobRunner& runner, Target target,
                         const PicOptions& o = {});
// "Blank Check" and "Erase Flash" of target 2 or 3 (the selection's result
// is not looked at; a silent box shows as '@').
ResultCode PicBlankCheck(LinkState& link, Operator& op, Target target, const PicOptions& o = {});
ResultCode PicEraseFlash(LinkState& link, Operator& op, Target target, const PicOptions& o = {});
// "Load EEPROM Data" and "Test EEPROM" of the PIC18F252.
ResultCode LoadPic18EepromData(LinkState& link, Operator& op, const PicOptions& o = {});
ResultCode TestPic18Eeprom(LinkState& link, Operator& op, const PicOptions& o = {});
// "Read CPU ID" of target 2 or 3 (1: the controller on the primary port).
ResultCode ReadCpuId(LinkState& link, Operator& op, Target target, const PicOptions& o = {},
                     DeviceIdInfo* out = nullptr);

// The fill request ':' 02 00 00 1A S0 S1 C.
Packet FillEepromPacket(std::uint16_t seed);

}  // namespace tarnvale
