#include "core/formats/ProductionImage.h"

#include <algorithm>
#include <array>

namespace tarnvale {

std::string ProductionVersionText(const MotorolaSRecFile& image, std::uint32_t offset) {
  const std::span<const std::uint8_t> bytes = image.ImageBytesAt(offset);
  if (bytes.empty()) return {};
  const std::size_t length =
      std::min<std::size_t>({bytes[0], production::kVersionMax, bytes.size() - 1});
  return std::string(reinterpret_cast<const char*>(bytes.data()) + 1, length);
}

ResultCode ConvertProductionImage(const std::filesystem::path& srecPath,
                                  const std::filesystem::path& fmfPath,
                                  const ProductionImageOptions& options, std::string& version,
                                  std::filesystem::path* written, FileFailure* failure,
                                  ProductionImageFacts* facts) {
  using namespace production;
  const bool boot = options.kind == ProductionImageKind::Boot;
  MotorolaSRecFile image(srecPath, boot ? kBootBase : kAppBase, boot ? kBootEnd : kAppEnd);
  if (const ResultCode r = image.OpenFile(); r != rc::kFileOk) {
    if (failure != nullptr) *failure = image.Failure();  // why it would not open
    return r;
  }
  // The first-dot rule may turn the output name into the input's own; writing
  // it would destroy the S-records being converted.
  std::error_code ec;
  if (std::filesystem::equivalent(srecPath, MotorolaSRecFile::FlashMemoryFileName(fmfPath), ec)) {
    return rc::kOutputIsInput;
  }
  if (const ResultCode r = image.AllocateImage(); r != rc::kFileOk) return r;
  const ResultCode loaded = boot ? image.LoadSRecords(0, 0, kBootDisplacement)
                                 : image.LoadSRecords(0, kAppRegionTwoBase, 0);
  if (loaded != rc::kFileOk) {
    if (failure != nullptr) *failure = image.Failure();
    return loaded;
  }
  if (facts != nullptr) {
    facts->dropped = image.Dropped();
    facts->droppedText = image.DroppedText();
  }

  BuildStamp stamp;
  const bool stampRead = options.readStamp ? options.readStamp(srecPath, stamp)
                                           : ReadBuildStamp(srecPath, stamp);
  if (!stampRead) stamp = BuildStamp{};  // all zero when the time cannot be read
  if (boot) {
    image.WriteBuildStamp(stamp, kBootStampOffset);
    std::array<std::uint8_t, 1 + kSerialMax> serial{};
    const std::size_t length = std::min(options.serialNumber.size(), kSerialMax);
    serial[0] = static_cast<std::uint8_t>(length);
    std::copy_n(options.serialNumber.begin(), length, serial.begin() + 1);
    image.WriteImageBytes(serial.data(), length + 1, kBootSerialOffset);
    const auto revision = static_cast<std::uint8_t>(options.hardwareRevision);
    image.WriteImageBytes(&revision, 1, kBootRevisionOffset);
    image.WriteImageSum(kBootSumOffset);
    version = ProductionVersionText(image, kBootVersionOffset);
  } else {
    if (options.kind == ProductionImageKind::Application) {
      std::array<std::uint8_t, kModelCodeSize> model{};
      std::copy_n(options.modelCode.begin(), std::min(options.modelCode.size(), kModelCodeSize),
                  model.begin());
      image.WriteImageBytes(model.data(), model.size(), kAppModelOffset);
    }
    image.WriteBuildStamp(stamp, kAppStampOffset);
    image.WriteImageSum(kAppSumOffset);
    version = ProductionVersionText(image, kAppVersionOffset);
  }
  if (facts != nullptr) {
    facts->stamp = stamp;
    facts->stampRead = stampRead;
    const auto sum = image.ImageBytesAt(boot ? kBootSumOffset : kAppSumOffset);
    facts->imageSum = sum.size() >= 4 ? static_cast<std::uint32_t>(sum[0]) |
                                            static_cast<std::uint32_t>(sum[1]) << 8 |
                                            static_cast<std::uint32_t>(sum[2]) << 16 |
                                            static_cast<std::uint32_t>(sum[3]) << 24
                                      : 0;
  }
  return boot ? image.WriteFlashMemoryFile(fmfPath, kBootBase, false, written)
              : image.WriteFlashMemoryFile(fmfPath, 0, true, written);
}

}  // namespace tarnvale
