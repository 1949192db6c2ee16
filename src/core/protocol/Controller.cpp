#include "core/protocol/Controller.h"

#include <algorithm>
#include <array>

#include "core/link/CommPort.h"
#include "core/platform/HexDigits.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Timer.h"

namespace tarnvale {
namespace {

constexpr const char* kHeaderFunction = "Get_RQ700_APP_Header";

int StrictNibble(std::uint8_t c) { return HexDigitValue(static_cast<char>(c)); }

// One hex pair at `pos`; false when it is missing or not hex.
bool PairAt(const std::uint8_t* bytes, std::size_t n, std::size_t pos, std::uint8_t& value) {
  if (pos + 2 > n) return false;
  const int hi = StrictNibble(bytes[pos]);
  const int lo = StrictNibble(bytes[pos + 1]);
  if (hi < 0 || lo < 0) return false;
  value = static_cast<std::uint8_t>(hi * 16 + lo);
  return true;
}

ResultCode LogHeaderFailure(ResultCode code, int line, Operator* op) {
  return LogIfFailed(code, kUtilModule, kHeaderFunction, line, op);
}

// Reads one block at a fixed place of the boot page.
ResultCode ReadBootPageBlock(CommPort& port, std::uint16_t offset, MemoryRecord& record,
                             const Clock& clock) {
  const ResultCode page = SetPage(port, controller::kBootPage, clock);
  if (page != rc::kSuccess) return page;
  return ReadMemoryBlock(port, offset, 32, record, clock);
}

// Copies a length-prefixed text from received data: the first byte is the
// length; at most `limit` characters and never a byte that did not arrive.
void CopyText(const std::vector<std::uint8_t>& data, std::size_t limit, std::array<char, 16>& out) {
  out.fill(0);
  if (data.empty()) return;
  const std::size_t n = std::min({static_cast<std::size_t>(data[0]), limit, data.size() - 1,
                                  out.size()});
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(data[1 + i]);
}

}  // namespace

std::string FieldText(const std::array<char, 16>& field) {
  const auto end = std::find(field.begin(), field.end(), '\0');
  return std::string(field.begin(), end);
}

void SetFieldText(std::array<char, 16>& field, const std::string& text) {
  field.fill(0);
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

std::string BootBlockSerialNumber(const std::array<std::uint8_t, 16>& block) {
  const std::size_t n = std::min<std::size_t>(block[0], block.size() - 1);
  return std::string(reinterpret_cast<const char*>(block.data() + 1), n);
}

ResultCode SetPage(CommPort& port, std::uint16_t page, const Clock& clock) {
  const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(page >> 8),
                                         static_cast<std::uint8_t>(page & 0xFF)};
  port.Write(BuildPacket(2, 0, packet_type::kSetPage, data));
  HexReply reply;
  return ReadHexReply(port, controller::kSetPageTimeoutMs, reply, clock);
}

ResultCode DecodeMemoryReply(const std::uint8_t* bytes, std::size_t n, std::uint16_t offset,
                             MemoryRecord& record) {
  if (n == 0 || bytes[0] != ':') return rc::kDataMismatch;
  std::uint8_t count = 0, addrHi = 0, addrLo = 0, type = 0;
  if (!PairAt(bytes, n, 1, count) || !PairAt(bytes, n, 3, addrHi) || !PairAt(bytes, n, 5, addrLo) ||
      !PairAt(bytes, n, 7, type)) {
    return rc::kDataMismatch;
  }
  std::vector<std::uint8_t> data(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!PairAt(bytes, n, 9 + 2 * i, data[i])) return rc::kDataMismatch;
  }
  std::uint8_t checksum = 0;
  if (!PairAt(bytes, n, 9 + 2 * static_cast<std::size_t>(count), checksum)) return rc::kDataMismatch;
  const auto address = static_cast<std::uint16_t>(addrHi << 8 | addrLo);
  if (address != offset) return rc::kDataMismatch;
  record.count = count;
  record.address = address;
  record.type = type;
  record.data = std::move(data);
  record.checksum = checksum;
  return rc::kSuccess;
}

ResultCode ReadMemoryBlock(CommPort& port, std::uint16_t offset, std::uint8_t length,
                           MemoryRecord& record, const Clock& clock) {
  const std::array<std::uint8_t, 1> data{length};
  port.Write(BuildPacket(1, offset, packet_type::kReadMemory, data));
  // ':' count(2) address(4) type(2) data(2 per byte) checksum(2) LF CR.
  const std::size_t expected = 2 * static_cast<std::size_t>(length) + 13;
  Timer timer(controller::kReadMemoryTimeoutMs, clock);
  for (;;) {
    const std::size_t waiting = port.GetInQueue();
    // A reply that completes only as the time runs out is still too late.
    if (timer.IsExpired()) return rc::kTimeout;
    if (waiting >= expected) break;
    if (waiting == 0) {
      if (port.LinkLost()) return rc::kLinkLost;
      port.WaitReadable(timer.RemainingMs());
    } else {
      clock.SleepMs(1);  // part of the line is here; the rest is on the wire
    }
  }
  std::array<std::uint8_t, controller::kReplyBufferSize> buffer{};
  const std::size_t n = port.Read(buffer.data(), std::min(port.GetInQueue(), buffer.size()));
  const ResultCode decoded = DecodeMemoryReply(buffer.data(), n, offset, record);
  if (decoded != rc::kSuccess) return decoded;
  if (n > expected) return rc::kStringTooLong;
  return rc::kSuccess;
}

ResultCode ReadHardwareRevision(CommPort& port, char& revision, const Clock& clock) {
  revision = 0;
  MemoryRecord record;
  const ResultCode code = ReadBootPageBlock(port, controller::kRevisionBlockOffset, record, clock);
  if (code != rc::kSuccess) return code;
  if (record.data.size() <= 14) return rc::kDataMismatch;
  revision = static_cast<char>(record.data[14]);
  return rc::kSuccess;
}

ResultCode ReadBootInfo(CommPort& port, BootInfo& bootInfo, const Clock& clock) {
  MemoryRecord record;
  const ResultCode code = ReadBootPageBlock(port, controller::kBootBlockOffset, record, clock);
  if (code != rc::kSuccess) return code;
  if (record.data.size() < bootInfo.controllerBootBlock.size()) return rc::kDataMismatch;
  std::copy_n(record.data.begin(), bootInfo.controllerBootBlock.size(),
              bootInfo.controllerBootBlock.begin());
  return rc::kSuccess;
}

ResultCode ReadApplicationStart(CommPort& port, std::uint32_t& address, char revision,
                                const Clock& clock) {
  if (static_cast<unsigned char>(revision) < 'A') return rc::kInvalidRevision;
  const bool oldBoard = revision == 'A' || revision == 'B';
  const ResultCode page =
      SetPage(port, oldBoard ? controller::kStartPageOld : controller::kStartPageNew, clock);
  if (page != rc::kSuccess) return page;
  MemoryRecord record;
  const ResultCode code = ReadMemoryBlock(
      port, oldBoard ? controller::kStartOffsetOld : controller::kStartOffsetNew, 16, record, clock);
  if (code != rc::kSuccess) return code;
  if (record.data.size() < 4) return rc::kDataMismatch;
  address = static_cast<std::uint32_t>(record.data[0]) |
            static_cast<std::uint32_t>(record.data[1]) << 8 |
            static_cast<std::uint32_t>(record.data[2]) << 16 |
            static_cast<std::uint32_t>(record.data[3]) << 24;
  return rc::kSuccess;
}

ResultCode Get_RQ700_APP_Header(CommPort& port, ApplicationHeader& header, BootInfo& bootInfo,
                                Operator* op, const Clock& clock) {
  using namespace controller::log_line;
  char revision = 0;
  ResultCode code = ReadHardwareRevision(port, revision, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kRevision, op);

  std::uint32_t start = 0;
  code = ReadApplicationStart(port, start, revision, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kStart, op);

  code = ReadBootInfo(port, bootInfo, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kBoot, op);

  header.controllerRevision = revision;
  bootInfo.controllerRevision = revision;

  if (start == controller::kErasedAddress) {
    header.controllerIdentity.fill(0xFF);
    return rc::kNoApplication;
  }

  code = SetPage(port, static_cast<std::uint16_t>(start >> 16), clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kPage, op);

  MemoryRecord record;
  code = ReadMemoryBlock(port, 0, 16, record, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kSizes, op);
  if (record.data.size() < 15) return LogHeaderFailure(rc::kDataMismatch, kSizes, op);
  const std::uint8_t l1 = record.data[12];
  const std::uint8_t l2 = record.data[13];
  const std::uint8_t l3 = record.data[14];
  for (const std::uint8_t l : {l1, l2, l3}) {
    if (l == 0 || l == 0xFF) return rc::kNoApplication;
  }
  const std::size_t c1 = std::min<std::size_t>(l1, controller::kFieldSize);
  const std::size_t c2 = std::min<std::size_t>(l2, controller::kFieldSize);
  const std::size_t c3 = std::min<std::size_t>(l3, controller::kFieldSize);

  header.applicationBase = start & 0xFFFF0000u;

  // The whole header lies in the first 64 KB of the page: offsets stay 16-bit.
  const auto field2 = static_cast<std::uint16_t>(16 + l1);
  const auto field3 = static_cast<std::uint16_t>(16 + l1 + l2);

  code = ReadMemoryBlock(port, 16, l1, record, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kVersion, op);
  CopyText(record.data, c1, header.controllerVersion);

  code = ReadMemoryBlock(port, field2, l2, record, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kIdentity, op);
  header.controllerIdentity.fill(0);
  std::copy_n(record.data.begin(), std::min(c2, record.data.size()),
              header.controllerIdentity.begin());

  code = ReadMemoryBlock(port, field3, l3, record, clock);
  if (code != rc::kSuccess) return LogHeaderFailure(code, kModel, op);
  CopyText(record.data, c3, header.controllerModel);
  return rc::kSuccess;
}

}  // namespace tarnvale
