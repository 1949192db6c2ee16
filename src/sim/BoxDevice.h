#pragma once
// The simulated Universal Programmer box with an 80386EX CPU board on its
// JTAG cable: the box's packet set, a stored board identification, and a
// boundary-scan model of the board's 104 pins with injectable faults.
//
// Pins: a sample returns the levels the previous image drove. A stuck pin
// always reads its stuck level; two shorted pins both read the AND of their
// levels.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/programmer/BoardInfoRecord.h"
#include "core/programmer/PinImage.h"
#include "sim/BootFlash.h"
#include "sim/PicDevices.h"
#include "sim/Rq700Device.h"
#include "sim/SimDevice.h"

namespace tarnvale::sim {

inline constexpr const char* kDefaultBoxVersion = "UP 3.02 (simulated)";

struct BoxOptions {
  std::string version = kDefaultBoxVersion;
  std::optional<std::uint32_t> jtagId;  // default: by target (80386EX or TN835)
  // The JTAG cable is off: on the JTAG targets (4 and 6) nothing answers at
  // all, neither the ID read nor any board command; the box itself still
  // answers the selection and its version.
  bool noJtag = false;
  char cpuRevision = 'C';
  char ioRevision = 'B';
  std::string serial = "SIM00001";
  std::string cpuSerial = "CPU0001";
  std::string ioSerial = "IO0001";
  bool amdFlash = false;                // revision C boards: AMD instead of ST
  std::vector<std::pair<int, bool>> stuck;   // pin, level
  std::vector<std::pair<int, int>> shorts;   // pin, pin
  std::uint32_t ramMs = 2000;           // one RAM bank load or test
  std::optional<std::uint32_t> ramFailAddress;
  std::uint16_t ramFailData1 = 0;
  std::uint16_t ramFailData2 = 0;
  std::vector<Fault> faults;            // silent-after, close-after, stray (packets counted from 1)
  // The chips and the boot flash.
  std::array<std::uint8_t, 4> pic18Id = Pic18Chip::kDefaultId;
  std::uint16_t pic30Device = Pic30Chip::kDefaultDeviceId;
  std::uint16_t pic30Revision = Pic30Chip::kDefaultRevision;
  std::uint32_t recordSize = 32;        // bytes per read-back record (16, 32 or 64)
  std::vector<std::uint8_t> bootImage;  // preloaded boot flash (empty: erased)
  std::optional<std::uint32_t> eepromBad;  // PIC18F252 EEPROM cell that keeps 0
  std::optional<std::uint32_t> readStopAfter;  // read-back goes silent after N records
  std::string logPath;                  // every packet received, one line each (empty: none)
};

// Parses "DEV:REV" (hex words) for the dsPIC30F identity and up to four
// hex bytes for the PIC18F252's ID reply; false with a reason.
bool ParsePic30Id(const std::string& text, BoxOptions& options, std::string& error);
bool ParsePic18Id(const std::string& text, BoxOptions& options, std::string& error);

// Parses "PIN=0|1" and "PIN,PIN" (pin names as the pin table has them) and
// "ADDR=D1,D2" (hex); false with a reason.
bool ParseStuck(const std::string& text, std::pair<int, bool>& out, std::string& error);
bool ParseShort(const std::string& text, std::pair<int, int>& out, std::string& error);
bool ParseRamFail(const std::string& text, BoxOptions& options, std::string& error);

class Tn835Cpu;

class BoxDevice : public SimDevice {
 public:
  explicit BoxDevice(BoxOptions options);

  // The TN835 CPU on the JTAG cable: while target 6 is selected it takes the
  // programming packets. Without one they are only acknowledged.
  void AttachTn835(Tn835Cpu* cpu) { tn835_ = cpu; }

  // Told of every packet with a good checksum: "packet N target T type 0xTT
  // address 0xAAAA count C", so a test can see what reached the box.
  void SetLog(std::function<void(const std::string&)> sink) { log_ = std::move(sink); }

  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<SimOutput>& out) override;
  void ResetLink() override;

  // The stored record, with the flash ID words that the algorithm of
  // `algorithmRevision` reads from this board's chip.
  BoardInfoRecord BoardInfo(std::uint8_t algorithmRevision) const;
  // What a sample shows after `driven` was applied.
  PinImage SampleOf(const PinImage& driven) const;

  int Target() const { return target_; }
  std::uint32_t Packets() const { return packets_; }
  std::uint8_t LineTest() const { return lineTest_; }
  std::uint32_t DriveImages() const { return driveImages_; }
  const Pic18Chip& Pic18() const { return pic18_; }
  const Pic30Chip& Pic30() const { return pic30_; }
  const BootFlash& Boot() const { return boot_; }

 private:
  void HandlePacket(std::vector<SimOutput>& out);
  void Status(std::vector<SimOutput>& out, std::uint8_t code);
  void RamStream(std::vector<SimOutput>& out, bool test, std::uint32_t start, std::uint32_t length);
  void ReadStream(std::vector<SimOutput>& out);
  std::uint8_t ProgramPacket(std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                             std::size_t count);
  PicChip* SelectedChip();

  BoxOptions options_;
  std::vector<std::uint8_t> packet_;
  bool inPacket_ = false;
  bool silent_ = false;
  // The number of the last select-target packet, as the box's firmware
  // sees it: the simulator is a model of the wire independent of the
  // program's device table, so it keeps its own numbers (2 PIC18F252,
  // 3 dsPIC30F, 4 boot flash, 6 TN835 CPU) and its own addresses. A test
  // that passes against it then shows the table agrees with the wire.
  int target_ = 0;
  std::uint32_t packets_ = 0;
  std::uint8_t lineTest_ = 0;
  std::uint32_t driveImages_ = 0;
  PinImage driven_ = PinImage::Initial();
  Tn835Cpu* tn835_ = nullptr;
  Pic18Chip pic18_;
  Pic30Chip pic30_;
  BootFlash boot_;
  std::uint32_t bootBase_ = 0;
  std::optional<std::uint16_t> eepromSeed_;
  std::function<void(const std::string&)> log_;
};

// A framed record ':' count addrHi addrLo type data checksum.
std::vector<std::uint8_t> FramedRecord(std::uint16_t address, std::uint8_t type,
                                       const std::vector<std::uint8_t>& data);

}  // namespace tarnvale::sim
