#pragma once
// Turning a production S-record file into the stamped flash memory file that
// is programmed: load with the regions of the image kind, stamp the build
// time (and the model code, or the serial number and hardware revision),
// store the image sum and write the FMF.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/formats/MotorolaSRecFile.h"

namespace tarnvale {

enum class ProductionImageKind { Application, Test, Boot };

namespace production {
// Application and test images: addresses 0 to 0x21FFF.
inline constexpr std::uint32_t kAppBase = 0;
inline constexpr std::uint32_t kAppEnd = 0x21FFF;
inline constexpr std::uint32_t kAppRegionTwoBase = 0x20000;
inline constexpr std::uint32_t kAppVersionOffset = 0x210;
inline constexpr std::uint32_t kAppModelOffset = 0x220;
inline constexpr std::size_t kModelCodeSize = 16;
inline constexpr std::uint32_t kAppStampOffset = 0x1FFD4;
inline constexpr std::uint32_t kAppSumOffset = 0x1FFDC;
// Boot image: addresses 0x40000 to 0x41FFF.
inline constexpr std::uint32_t kBootBase = 0x40000;
inline constexpr std::uint32_t kBootEnd = 0x41FFF;
inline constexpr std::uint32_t kBootDisplacement = 0x40000;
inline constexpr std::uint32_t kBootSerialOffset = 0x1FD0;
inline constexpr std::uint32_t kBootVersionOffset = 0x1FE0;
inline constexpr std::uint32_t kBootRevisionOffset = 0x1FEF;
inline constexpr std::uint32_t kBootStampOffset = 0x1FF4;
inline constexpr std::uint32_t kBootSumOffset = 0x1FFC;
inline constexpr std::size_t kSerialMax = 15;
inline constexpr std::size_t kVersionMax = 15;
}  // namespace production

struct ProductionImageOptions {
  ProductionImageKind kind = ProductionImageKind::Application;
  std::string modelCode;      // application only: up to 16 characters, zero-filled
  std::string serialNumber;   // boot only: 1 to 15 characters
  char hardwareRevision = 0;  // boot only: first character of the revision
  // Reads the S-record file's stamp; absent: ReadBuildStamp.
  std::function<bool(const std::filesystem::path&, BuildStamp&)> readStamp;
};

// What a conversion stamped into the image, for the record of the unit.
struct ProductionImageFacts {
  BuildStamp stamp;          // all zero when the file time could not be read
  bool stampRead = false;
  std::uint32_t imageSum = 0;
  // S-record data outside the image, left out of the FMF; droppedText says
  // it in words (empty when nothing was left out).
  DroppedData dropped;
  std::string droppedText;
};

// The version text of a loaded production image: length byte and
// characters, a length above 15 counting as 15.
std::string ProductionVersionText(const MotorolaSRecFile& image, std::uint32_t offset);

// Converts `srecPath` into the FMF `fmfPath` (named by the first-dot rule of
// WriteFlashMemoryFile). Codes: those of OpenFile, AllocateImage,
// LoadSRecords and WriteFlashMemoryFile (4, 8, 9, 5, 6), and
// rc::kOutputIsInput when the output is the input file itself (links
// resolved), which is then left untouched. An unreadable file
// time gives an all-zero stamp. `version` receives the image's version text;
// `written` the name actually written.
ResultCode ConvertProductionImage(const std::filesystem::path& srecPath,
                                  const std::filesystem::path& fmfPath,
                                  const ProductionImageOptions& options, std::string& version,
                                  std::filesystem::path* written = nullptr,
                                  FileFailure* failure = nullptr,
                                  ProductionImageFacts* facts = nullptr);

}  // namespace tarnvale
