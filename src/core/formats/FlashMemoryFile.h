#pragma once
// Flash memory files (FMF) of RQ700-series controllers: Intel HEX text whose
// image reaches from the ROM start address to the top of the 26-bit address
// space, with landmarks at fixed or derivable addresses.
//
// The readers work on an IntelHexFile. FindApplicationStart reads the file
// (open it first); the others read the loaded image. Image reads outside the
// image give 0xFF, as blank flash would, so no landmark or header length
// taken from a file can lead a reader outside its memory.

#include <cstdint>
#include <string>
#include <vector>

#include "core/formats/IntelHexFile.h"

namespace tarnvale {

namespace fmf {
inline constexpr std::uint32_t kTopAddress = 0x03FFFFFF;
inline constexpr std::uint32_t kRomStartGen5 = 0x03800000;
inline constexpr std::uint32_t kRomStartGen4 = 0x03C00000;
inline constexpr std::uint32_t kRomStartGen3 = 0x03E80000;
inline constexpr std::uint32_t kRomStartGen2 = 0x00000100;
inline constexpr std::uint8_t kLanes = 2;

// Where the application start address is stored.
inline constexpr std::uint32_t kAppStartLandmarkNew = 0x03FDFFF0;  // generations 4, 5
inline constexpr std::uint32_t kAppStartLandmarkGen3 = 0x03FFBFF0;
inline constexpr std::uint32_t kAppStartLandmarkOld = 0x000FBFF0;  // generations 1, 2
inline constexpr std::uint32_t kBootBlockAddress = 0x03FFFFB0;
inline constexpr std::uint32_t kBootBlockSize = 16;
inline constexpr std::uint32_t kRevisionLetterAddress = 0x03FFFFEE;

// Application header: sizes of fields 1, 2, 3 and the first field.
inline constexpr std::uint32_t kHeaderL1 = 12;
inline constexpr std::uint32_t kHeaderL2 = 13;
inline constexpr std::uint32_t kHeaderL3 = 14;
inline constexpr std::uint32_t kHeaderField1 = 16;
inline constexpr std::size_t kTextMaximum = 16;
}  // namespace fmf

// Software generation of a ROM start address: 5, 4, 3, 2, or 0 (refused).
int SoftwareGeneration(std::uint32_t romStartAddress);

// The landmark address of the application start address for a generation,
// or 0 for a generation without one.
std::uint32_t ApplicationStartLandmark(int generation);

// Reads the file (not the image) for the application start address of the
// generation: 0 found; 9 for a start address record or an unknown record
// type met before it; 10 when the file ends without it (also for a
// generation without a landmark); or the record reader's code.
// The four bytes may continue into the following data records.
ResultCode FindApplicationStart(IntelHexFile& file, int generation, std::uint32_t& address);

// Copies `count` image bytes from absolute `address`.
void CopyFromImage(const IntelHexFile& file, std::uint8_t* destination, std::uint32_t address,
                   std::size_t count);
// The 16-byte boot identity block: length of the serial number, characters.
void ReadBootBlock(const IntelHexFile& file, std::uint8_t* destination);
void ReadRevisionLetter(const IntelHexFile& file, std::uint8_t* destination);

// The version text (field 1) of the header at `applicationStart`, at most
// `maximum` characters; empty when field 1 has size 0.
std::string ReadHeaderVersion(const IntelHexFile& file, std::uint32_t applicationStart,
                              std::size_t maximum = fmf::kTextMaximum);
// The identity bytes (field 2), all L2 of them; it follows field 1.
std::vector<std::uint8_t> ReadHeaderIdentity(const IntelHexFile& file,
                                             std::uint32_t applicationStart);
// The model text (field 3), at most `maximum` - 1 characters.
std::string ReadHeaderModel(const IntelHexFile& file, std::uint32_t applicationStart,
                            std::size_t maximum = fmf::kTextMaximum);

// The serial number held in a boot identity block (length byte, characters;
// the length is capped at the block).
std::string BootBlockSerial(const std::uint8_t (&block)[fmf::kBootBlockSize]);

}  // namespace tarnvale
