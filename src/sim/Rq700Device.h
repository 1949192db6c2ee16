#pragma once
// The simulated RQ700 controller in flash program mode, without any I/O:
// bytes from the link go in, replies (with the time the controller takes for
// them) come out. The link (SimLink) paces both directions and delivers.
//
// Packets: ':' count addrHi addrLo type data checksum. Outside a packet the
// bytes go to a small monitor that echoes what is typed, shows the banner
// "RQ700 Program Flash Memory" on an empty line or "P", and starts a loaded
// program on "g" followed by CR.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/Rq700Memory.h"
#include "sim/SimDevice.h"

namespace tarnvale::sim {

inline constexpr const char* kBanner = "RQ700 Program Flash Memory";

// Fault injection. Program packets (type 00) and their acknowledgements are
// counted from 1 over the simulator's life; CloseAfterLines counts memory
// line requests (type 11) of a dump.
struct Fault {
  // WeakCell: program packet N is acknowledged, but its first byte does not
  // hold what was written (it reads back with its lowest bit flipped).
  enum class Kind { Ack, Erase, SilentAfter, Stray, CloseAfter, CloseAfterLines, WeakCell };
  Kind kind = Kind::Ack;
  std::uint32_t n = 0;      // packet / acknowledgement number (not for Erase)
  std::uint8_t value = 0;   // reply code or stray byte
};

// Parses "ack:N=C", "erase:C", "silent-after:N", "stray:N=HH", "close-after:N",
// "weak-cell:N".
// C is one character ('D') or a hex byte ("0x44"); HH is a hex byte.
std::optional<Fault> ParseFault(const std::string& text, std::string& error);

struct DeviceOptions {
  std::uint32_t flashBase = kDefaultFlashBase;
  char revision = 'C';
  std::string serial = "SIM00001";
  bool keepBootBlock = false;                 // an image supplied the boot identity
  std::optional<std::uint32_t> rangeStart;    // what 0x10 reports; default: flash
  std::optional<std::uint32_t> rangeEnd;
  std::uint32_t eraseMs = 2000;
  std::uint32_t ackDelayMs = 0;               // delay of every programming acknowledgement
  std::vector<Fault> faults;
};

class Rq700Device : public SimDevice {
 public:
  using Output = SimOutput;
  using LogSink = std::function<void(const std::string&)>;

  explicit Rq700Device(DeviceOptions options);

  Rq700Memory& Memory() { return memory_; }
  const Rq700Memory& Memory() const { return memory_; }
  void SetLog(LogSink sink) { log_ = std::move(sink); }

  // Writes the boot identity block and revision letter from the options
  // (after any preloaded image, which may already hold them).
  void ApplyBoardIdentity();

  // Feeds bytes that have arrived; appends the replies to `out` in order.
  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<Output>& out) override;
  // The link tells when a packet's reply has been delivered on the wire.
  void ReplyDelivered() override {
    if (awaitingReply_ > 0) --awaitingReply_;
  }
  // A new connection: forget a half-received packet and monitor line.
  void ResetLink() override;

  std::uint32_t CurrentPage() const { return page_; }
  std::uint32_t ProgramPackets() const { return programPackets_; }
  std::uint32_t MaxAwaitingReply() const { return maxAwaiting_; }
  std::optional<std::uint32_t> StartAddress() const { return startAddress_; }
  bool Silent() const { return silent_; }

  // The memory line answering a 0x11 request for `address`, without LF CR.
  std::string MemoryLine(std::uint32_t address) const;

 private:
  void HandlePacket(std::vector<Output>& out);
  void HandleMonitorByte(std::uint8_t b, std::vector<Output>& out);
  void Reply(std::vector<Output>& out, std::vector<std::uint8_t> bytes, std::uint32_t delayMs = 0);
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }
  const Fault* FindFault(Fault::Kind kind, std::uint32_t n) const;
  std::uint32_t RangeStart() const;
  std::uint32_t RangeEnd() const;

  DeviceOptions options_;
  Rq700Memory memory_;
  LogSink log_;

  // Packet reception.
  std::vector<std::uint8_t> packet_;
  bool inPacket_ = false;
  // Monitor.
  std::string monitorLine_;

  std::uint32_t page_ = 0;
  std::optional<std::uint32_t> startAddress_;
  std::uint32_t programPackets_ = 0;
  std::uint32_t memoryLines_ = 0;
  std::uint32_t acks_ = 0;
  std::uint32_t awaitingReply_ = 0;
  std::uint32_t maxAwaiting_ = 0;
  bool silent_ = false;
};

}  // namespace tarnvale::sim
