#pragma once
// Motorola S-record images of the production controller, and the flash
// memory file written from them.
//
// The tool chain's S-records count 16-bit words, so a record address is
// doubled to give a byte address. Byte addresses with bit 26 set belong to
// region two, which is placed relative to its first address (the anchor);
// the others, up to 0x2001FFF, to region one.
//
//   MotorolaSRecFile s(path, base, end);
//   s.OpenFile(); s.AllocateImage(); s.LoadSRecords(r1, r2, displacement);
//   ...WriteImageBytes / WriteBuildStamp / WriteImageSum...
//   s.WriteFlashMemoryFile(out, firstAddress, relocate);

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "core/formats/BuildStamp.h"
#include "core/formats/IntelHexFile.h"

namespace tarnvale {

struct SRecord {
  std::uint8_t type = 0;   // 0..15 as read; only some are valid in an image
  std::uint8_t count = 0;  // bytes after the count: address, data, checksum
  std::uint32_t address = 0;
  std::uint8_t dataCount = 0;
  std::array<std::uint8_t, 255> data{};
  std::uint8_t checksum = 0;
};

// Address bytes of an S-record type.
unsigned SRecordAddressBytes(unsigned type);

// Parses one token: "S", type digit, count, address, data, checksum; hex
// digits of either case. 8 when it is not an S-record: no "S", a count below
// 3, a count that does not even cover the address, fewer characters than the
// count announces, a non-hex digit, or characters after the checksum (a
// record joined to the next one). 9 for a wrong checksum.
ResultCode ParseSRecord(std::string_view token, SRecord& record);

class MotorolaSRecFile : public IntelHexFile {
 public:
  static constexpr std::uint32_t kRegionTwoBit = 0x4000000;
  static constexpr std::uint32_t kRegionOneTop = 0x2001FFF;

  // The image spans baseAddress to endAddress inclusive, one lane.
  MotorolaSRecFile(std::filesystem::path path, std::uint32_t baseAddress,
                   std::uint32_t endAddress);

  // The next token into CurrentSRecord(): 0, 8 or 9 (see ParseSRecord); 8
  // also at the end of the file.
  ResultCode ReadSRecord();
  const SRecord& CurrentSRecord() const { return srecord_; }

  // Rewinds and loads every record into the image. 0; the first record
  // error; 9 for a record type outside 0-3 and 7-9, an odd data count, an
  // address outside both regions, or, after the whole file, no end record or
  // no region-one data. Bytes falling outside the image are dropped and noted
  // in Dropped() by their byte address (record address x 2).
  ResultCode LoadSRecords(std::uint32_t regionOneBase, std::uint32_t regionTwoBase,
                          std::uint32_t displacement);

  // Image edits at image offsets. Bytes that would fall outside the image
  // are not written; the result says whether everything fitted.
  bool WriteImageBytes(const std::uint8_t* source, std::size_t count, std::uint32_t offset);
  bool WriteBuildStamp(const BuildStamp& stamp, std::uint32_t offset);
  // Stores the 32-bit sum of every image byte except the four at offset.
  bool WriteImageSum(std::uint32_t offset);
  // The image from `offset` to its end (empty outside the image).
  std::span<const std::uint8_t> ImageBytesAt(std::uint32_t offset) const;

  // Writes the whole image as a flash memory file. The name is cut after the
  // first '.' of its file name and "FMF" appended ("FMF" after a '.' when the
  // name has none); dots in folder names do not count. The file is written
  // under a temporary name in the same folder and renamed when complete.
  // 0; 5 when the file cannot be created or put in place; 6 when a write or
  // the close fails (nothing is left under the real name then).
  ResultCode WriteFlashMemoryFile(const std::filesystem::path& name, std::uint32_t firstAddress,
                                  bool relocate,
                                  std::filesystem::path* written = nullptr) const;

  // The name WriteFlashMemoryFile writes for `name`.
  static std::filesystem::path FlashMemoryFileName(const std::filesystem::path& name);

 private:
  SRecord srecord_;
};

}  // namespace tarnvale
