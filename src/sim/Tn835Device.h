#pragma once
// The simulated TN835 controller and the TN835 CPU that the box reaches on
// its JTAG cable, without any I/O.
//
// Tn835Device: the controller on the encoder connector's RS-485 link, taking
// the application and test images. It erases its flash on request and
// programs packets as they arrive in layout mode 2: segment 0x0000 and
// 0x0001 are image offsets 0 to 0x1FFFF; segment 0x0200 holds image offsets
// 0x20000 to 0x21FFF at packet addresses 0x2000 to 0x3FFF. Each packet is
// answered with one status byte, with the RQ700's fault injection.
//
// Tn835Cpu: the boot flash (image 0x40000 to 0x41FFF) behind the box while
// target 6 is selected, programmed in layout mode 1: every segment packet
// carries 4, and packet addresses 0x0000 to 0x1FFF are the boot flash.
//
// Both keep flash rules: programming only clears bits ('4' otherwise),
// erasing sets every byte to 0xFF.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/Rq700Device.h"
#include "sim/SimDevice.h"

namespace tarnvale::sim {

// The simulator's own numbers, not the device table's: it models the wire
// independently, so a run against it checks the program's facts.
inline constexpr std::uint32_t kTn835ImageSize = 0x22000;
inline constexpr std::uint32_t kTn835BootBase = 0x40000;
inline constexpr std::uint32_t kTn835BootSize = 0x2000;

struct Tn835Options {
  std::uint32_t eraseMs = 1000;
  std::uint32_t ackDelayMs = 0;
  std::vector<Fault> faults;   // ack, erase, silent-after, stray, close-after
};

// A flash array with the programming rules of both parts.
class Tn835Flash {
 public:
  explicit Tn835Flash(std::size_t size) : bytes_(size, 0xFF) {}
  void Erase() { std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0xFF}); }
  // '0', '4' (a bit would be set; nothing written) or 'B' (outside).
  std::uint8_t Program(std::uint64_t offset, const std::uint8_t* data, std::size_t n);
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class Tn835Device : public SimDevice {
 public:
  explicit Tn835Device(Tn835Options options);

  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<SimOutput>& out) override;
  void ResetLink() override;

  const Tn835Flash& Flash() const { return flash_; }
  std::uint32_t ProgramPackets() const { return programPackets_; }
  std::uint32_t Erases() const { return erases_; }

 private:
  void HandlePacket(std::vector<SimOutput>& out);
  void Reply(std::vector<SimOutput>& out, std::uint8_t status, std::uint32_t delayMs);
  const Fault* FindFault(Fault::Kind kind, std::uint32_t n) const;

  Tn835Options options_;
  Tn835Flash flash_{kTn835ImageSize};
  std::vector<std::uint8_t> packet_;
  bool inPacket_ = false;
  bool silent_ = false;
  std::uint16_t segment_ = 0;
  std::uint32_t programPackets_ = 0;
  std::uint32_t acks_ = 0;
  std::uint32_t erases_ = 0;
};

class Tn835Cpu {
 public:
  explicit Tn835Cpu(std::uint32_t eraseMs = 200) : eraseMs_(eraseMs) {}

  // One packet of the box's stream while the TN835 is selected. True when it
  // was a programming packet (erase, segment, data, end) and was answered.
  bool HandlePacket(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                    std::uint8_t count, std::vector<SimOutput>& out);

  const Tn835Flash& Flash() const { return flash_; }
  std::uint32_t ProgramPackets() const { return programPackets_; }

 private:
  std::uint32_t eraseMs_;
  Tn835Flash flash_{kTn835BootSize};
  std::uint16_t segment_ = 0;
  std::uint32_t programPackets_ = 0;
};

}  // namespace tarnvale::sim
