// Motorola S-records: the token parser on the raw input, and the production
// reader (both the application's and the boot image's placement) on the
// input as a file.
#include <string_view>

#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/ProductionImage.h"
#include "fuzz/FuzzSupport.h"

using namespace tarnvale;
using namespace tarnvale::production;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile scratch("image.s");
  SRecord record;
  const ResultCode parsed = ParseSRecord(std::string_view(reinterpret_cast<const char*>(data), size), record);
  TARNVALE_FUZZ_CHECK(parsed == rc::kFileOk || parsed == 8 || parsed == 9);
  if (parsed == rc::kFileOk) TARNVALE_FUZZ_CHECK(record.count >= 3);

  const auto& path = scratch.Write(data, size);
  const bool boot = (size & 1) != 0;
  MotorolaSRecFile file(path, boot ? kBootBase : kAppBase, boot ? kBootEnd : kAppEnd);
  if (file.OpenFile() != rc::kFileOk || file.AllocateImage() != rc::kFileOk) return 0;
  const ResultCode loaded =
      boot ? file.LoadSRecords(0, 0, kBootDisplacement) : file.LoadSRecords(0, kAppRegionTwoBase, 0);
  if (loaded == rc::kFileOk) {
    TARNVALE_FUZZ_CHECK(file.ImageBytes().size() == file.Size());
    file.WriteImageSum(file.Size() - 4);
  }
  file.CloseFile();
  return 0;
}
