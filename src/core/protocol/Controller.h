#pragma once
// Queries of an RQ700-series controller in flash program mode: pages, memory
// blocks, the CPU board revision, the boot identity block, the application
// start address and the application header.
//
// The controller's CPU has a 26-bit address space; a request carries only the
// low 16 bits, so every query sets the page (upper 16 bits) before it reads.
// After Get_RQ700_APP_Header the controller's page is the application's page.

#include <array>
#include <cstdint>
#include <string>

#include "core/result/ResultCode.h"
#include "core/protocol/Util.h"

namespace tarnvale {

class CommPort;
class Operator;

namespace controller {
inline constexpr std::uint32_t kSetPageTimeoutMs = 1000;
// A memory reply must be complete within this time; it is not restarted.
inline constexpr std::uint32_t kReadMemoryTimeoutMs = 250;
// Receive buffer of one memory reply; a reply can never be read past it.
inline constexpr std::size_t kReplyBufferSize = 1024;

inline constexpr std::uint16_t kBootPage = 0x03FF;
inline constexpr std::uint16_t kRevisionBlockOffset = 0xFFE0;  // revision at +14 (0x03FFFFEE)
inline constexpr std::uint16_t kBootBlockOffset = 0xFFB0;      // 0x03FFFFB0
// Application start address, least significant byte first.
inline constexpr std::uint16_t kStartPageOld = 0x03FF;  // boards 'A' and 'B': 0x03FFBFF0
inline constexpr std::uint16_t kStartOffsetOld = 0xBFF0;
inline constexpr std::uint16_t kStartPageNew = 0x03FD;  // boards 'C' on: 0x03FDFFF0
inline constexpr std::uint16_t kStartOffsetNew = 0xFFF0;
inline constexpr std::uint32_t kErasedAddress = 0xFFFFFFFF;
inline constexpr std::size_t kFieldSize = 16;

// Fixed line numbers under which header read failures are logged.
namespace log_line {
inline constexpr int kRevision = 765;
inline constexpr int kStart = 768;
inline constexpr int kBoot = 771;
inline constexpr int kPage = 791;
inline constexpr int kSizes = 797;
inline constexpr int kVersion = 822;
inline constexpr int kIdentity = 832;
inline constexpr int kModel = 840;
}  // namespace log_line
}  // namespace controller

// What the flash workflow compares between a controller and an image file.
// Text fields hold at most 16 characters; shorter texts are followed by
// zero bytes (so a 16-character text has no terminator: use the accessors).
struct ApplicationHeader {
  std::uint32_t applicationBase = 0;
  std::array<char, 16> fileModel{};
  std::array<char, 16> controllerModel{};
  std::array<char, 16> fileVersion{};
  std::array<char, 16> controllerVersion{};
  std::array<std::uint8_t, 16> fileIdentity{};
  std::array<std::uint8_t, 16> controllerIdentity{};
  char controllerRevision = 0;
  std::uint8_t applicationPresent = 0;
};

// The boot identity blocks (length of the serial number, then its characters).
struct BootInfo {
  std::array<std::uint8_t, 16> fileBootBlock{};
  std::array<std::uint8_t, 16> controllerBootBlock{};
  char controllerRevision = 0;
  char fileRevision = 0;
};

// The text held in a 16-character field (up to its first zero byte).
std::string FieldText(const std::array<char, 16>& field);
// Stores text in a field: at most 16 characters, the rest zero bytes.
void SetFieldText(std::array<char, 16>& field, const std::string& text);
// The serial number of a boot identity block. The length byte is clamped to
// the 15 characters the block can hold (erased flash reads 0xFF).
std::string BootBlockSerialNumber(const std::array<std::uint8_t, 16>& block);

// Sends the page (upper 16 address bits); the reply is read as a line or a
// status byte within 1000 ms.
ResultCode SetPage(CommPort& port, std::uint16_t page, const Clock& clock = SystemClock());

// Reads `length` (1 to 255) bytes at `offset` of the current page into
// `record`. '@' when the reply is not complete within 250 ms; 'D' for a
// reply of another address, or a reply that is short, malformed or not hex;
// '1' when more bytes came than one reply line. On '0' record.data holds
// record.count bytes.
ResultCode ReadMemoryBlock(CommPort& port, std::uint16_t offset, std::uint8_t length,
                           MemoryRecord& record, const Clock& clock = SystemClock());

// Decodes one memory reply (':' count address type pairs... checksum, the
// line end optional). The same rules as ReadMemoryBlock after the bytes came.
ResultCode DecodeMemoryReply(const std::uint8_t* bytes, std::size_t n, std::uint16_t offset,
                             MemoryRecord& record);

// The CPU board revision letter (0x03FFFFEE). `revision` is 0 first.
ResultCode ReadHardwareRevision(CommPort& port, char& revision, const Clock& clock = SystemClock());
// Fills bootInfo.controllerBootBlock from 0x03FFFFB0.
ResultCode ReadBootInfo(CommPort& port, BootInfo& bootInfo, const Clock& clock = SystemClock());
// The application start address stored for boards of `revision`; 'F' for a
// revision below 'A'.
ResultCode ReadApplicationStart(CommPort& port, std::uint32_t& address, char revision,
                                const Clock& clock = SystemClock());

// Reads revision, start address, boot block and the application header.
// '0' with the controller fields filled; 'I' when the controller holds no
// application (never logged); any other failure is logged (module "Util",
// this function's name, a fixed line) and returned. `op` hears of each
// logged error.
ResultCode Get_RQ700_APP_Header(CommPort& port, ApplicationHeader& header, BootInfo& bootInfo,
                                Operator* op = nullptr, const Clock& clock = SystemClock());

}  // namespace tarnvale
