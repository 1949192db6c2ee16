#pragma once
// Intel HEX images that go through the Universal Programmer rather than a
// controller: the 80386EX boot flash and the PIC18F252 and dsPIC30F chips.
//
// Same calling order as IntelHexFile. Unlike the base class these streams send
// every data packet, blank or not, and never announce a 64 KB boundary of
// their own.

#include <array>
#include <cstdint>
#include <string>

#include "core/formats/IntelHexFile.h"
#include "core/formats/BoardInfoRecord.h"

namespace tarnvale {


// The 16 KB boot image of the 80386EX CPU board. Loading writes the board's
// identification into the last 80 bytes and ends with a word checksum.
class Boot386IntelHexFile : public IntelHexFile {
 public:
  static constexpr std::uint32_t kImageBase = 0x3FFC000;
  static constexpr std::uint32_t kImageSize = 16384;
  // Offsets in the image.
  static constexpr std::uint32_t kControllerSerialOffset = 16304;
  static constexpr std::uint32_t kCpuSerialOffset = 16320;
  static constexpr std::uint32_t kIoSerialOffset = 16336;
  static constexpr std::uint32_t kBootVersionOffset = 16352;
  static constexpr std::uint32_t kCpuRevisionOffset = 16366;
  static constexpr std::uint32_t kIoRevisionOffset = 16367;
  static constexpr std::uint32_t kChecksumOffset = 16380;

  // The image range is fixed (kImageBase, 16 KB, one lane); the record is
  // copied.
  Boot386IntelHexFile(std::filesystem::path path, const BoardInfoRecord& record);

  // 0; 9 after "Error in Hex Record #1" (not a record), "#2" (checksum) or
  // "#3" (type above 4); 24, 23, 21, 20, 22 for an unusable CPU board
  // revision, I/O board revision, CPU board serial, I/O board serial or
  // controller serial number, checked in that order.
  ResultCode LoadFile() override;
  bool IsFinished() const override { return state_ == 3; }
  ResultCode GetNextPacket(Packet& packet) override;

  // The boot version text of the loaded image; empty for a length of 9 or more.
  std::string BootVersion() const;
  // The word sum stored at kChecksumOffset: 16-bit words, least significant
  // byte first, over offsets 0 to 16379, in 32 bits.
  std::uint32_t ComputeChecksum() const;
  const BoardInfoRecord& Record() const { return record_; }

 private:
  BoardInfoRecord record_;
  std::uint32_t packetOffset_ = 0;
  std::uint8_t state_ = 0;  // 0 address record, 1 data, 2 end, 3 finished
};

// What the two PIC images share: types 0 to 4 read into the program image
// and 14 configuration bytes, and a stream of the page 0 announcement, the
// program packets, the configuration page, the configuration packet and the
// end packet. Each chip says where its configuration bytes lie and how its
// program memory is cut into packets.
class PicIntelHexFile : public IntelHexFile {
 public:
  ResultCode LoadFile() override;  // 0 or 9 (no message)
  bool IsFinished() const override { return state_ == 5; }
  ResultCode GetNextPacket(Packet& packet) override;
  const std::array<std::uint8_t, 14>& Config() const { return config_; }

 protected:
  PicIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress, std::uint32_t endAddress,
                  std::uint8_t lanes, std::uint8_t flags, std::uint32_t recordCount,
                  std::uint16_t configPage);
  // One data record at its absolute address: into the image or the
  // configuration bytes.
  virtual void Store(std::uint64_t address, const HexRecord& rec) = 0;
  // The next program packet; `last` set when it is the final one.
  virtual Packet NextProgramPacket(bool& last) = 0;

  std::array<std::uint8_t, 14> config_;

 private:
  std::uint32_t fixedRecordCount_;
  std::uint16_t configPage_;
  std::uint8_t state_ = 0;
};

// PIC18F252: program memory written as four 8 KB panels at a time, then the
// 14 configuration bytes found at 0x300000 to 0x30000D.
class PIC18FIntelHexFile : public PicIntelHexFile {
 public:
  static constexpr std::uint32_t kConfigAddress = 0x300000;
  static constexpr std::uint32_t kPanelSize = 0x2000;
  static constexpr std::uint32_t kRecordCount = 1028;

  PIC18FIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                     std::uint32_t endAddress, std::uint8_t lanes = 1, std::uint8_t flags = 0);

 private:
  void Store(std::uint64_t address, const HexRecord& rec) override;
  Packet NextProgramPacket(bool& last) override;
  std::uint32_t panelOffset_ = 0;
};

// dsPIC30F: program memory in 128-byte packets, then the 14 configuration
// bytes from the configuration words at 0x1F00000 to 0x1F00017.
class PIC30FIntelHexFile : public PicIntelHexFile {
 public:
  static constexpr std::uint32_t kConfigAddress = 0x1F00000;
  static constexpr std::uint32_t kConfigEnd = 0x1F00017;
  static constexpr std::uint32_t kChunk = 128;
  static constexpr std::uint32_t kRecordCount = 260;

  PIC30FIntelHexFile(std::filesystem::path path, std::uint32_t baseAddress,
                     std::uint32_t endAddress, std::uint8_t lanes = 1, std::uint8_t flags = 0);

 private:
  void Store(std::uint64_t address, const HexRecord& rec) override;
  Packet NextProgramPacket(bool& last) override;
  std::uint32_t byteOffset_ = 0;
};

}  // namespace tarnvale
