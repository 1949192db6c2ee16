#include "core/device/Target.h"

#include <array>
#include <charconv>

#include "core/formats/FlashMemoryFile.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/ProductionImage.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/formats/TN820HexFile.h"

namespace tarnvale {
namespace {

constexpr std::string_view kFmfFilter = "Flash Memory File (*.FMF)|*.FMF|";
constexpr std::string_view kHexFilter = "Hex File (*.HEX)|*.HEX|";
constexpr std::string_view kProgramTitle = "Program Flash Memory";

std::unique_ptr<IntelHexFile> ControllerReader(const ImageRequest& r) {
  return std::make_unique<IntelHexFile>(r.path, r.range.base, r.range.end,
                                        r.programFlash ? 1u : 0u, r.range.lanes);
}
std::unique_ptr<IntelHexFile> Pic18Reader(const ImageRequest& r) {
  return std::make_unique<PIC18FIntelHexFile>(r.path, r.range.base, r.range.end, r.range.lanes);
}
std::unique_ptr<IntelHexFile> Pic30Reader(const ImageRequest& r) {
  return std::make_unique<PIC30FIntelHexFile>(r.path, r.range.base, r.range.end, r.range.lanes);
}
std::unique_ptr<IntelHexFile> Boot386Reader(const ImageRequest& r) {
  return std::make_unique<Boot386IntelHexFile>(r.path, r.boardInfo);
}
std::unique_ptr<IntelHexFile> Tn835Reader(const ImageRequest& r) {
  return std::make_unique<TN820HexFile>(r.path, r.range.base, r.range.end,
                                        static_cast<std::uint32_t>(r.layoutMode), r.range.lanes);
}

constexpr std::string_view kNoCaption = "Undefined Type";

// The ranges come from the readers' own layouts, so the table and the file
// forms cannot drift apart.
constexpr LoadRange kControllerRange{fmf::kRomStartGen4, fmf::kTopAddress, fmf::kLanes};
constexpr LoadRange kBootFlashRange{Boot386IntelHexFile::kImageBase,
                                    Boot386IntelHexFile::kImageBase + Boot386IntelHexFile::kImageSize - 1, 1};
constexpr LoadRange kTn835AppRange{production::kAppBase, production::kAppEnd, 1};
constexpr LoadRange kTn835BootRange{production::kBootBase, production::kBootEnd, 1};

// The box reads the boot flash from the top 16 KB page (request address
// 0xC000) after it has reached the chip over JTAG; the PIC EEPROMs answer at
// once, the dsPIC30F's records on top of its EEPROM's page.
constexpr ReadBackForm kBootFlashReadBack{kBootFlashRange.base, kBootFlashRange.end, 0xC000, true,
                                          std::nullopt, true, "386 Boot Flash Data.txt"};
constexpr ReadBackForm kPic18ReadBack{0, 0xFF, 0, false, 0u, false, "PIC18F252 EEPROM Data.txt"};
constexpr ReadBackForm kPic30ReadBack{0x7FFC00, 0x7FFFFF, 0, false, 0x7F0000u, false, "PIC30FXXXX EEPROM Data.txt"};
constexpr ReadBackForm kNoReadBack{};

// number, CLI name, description, port, select packet, range, window, step,
// pause, layout, reader, filter, title, read back by the memory dump,
// placement, needs board information, long erase, flash-revision rule, long
// JTAG settle, ID form, ID caption, box read-back, becomes the current target
constexpr std::array<TargetInfo, 7> kTargets{{
    {Target::Box, 0, "box", "Universal Programmer", PortRole::Programmer, false,
     {0, 0, 1}, 1, 10, 0, 0, nullptr, kFmfFilter, kProgramTitle, false,
     ImagePlacement::Fixed, false, false, false, false, IdForm::None, kNoCaption, kNoReadBack, false},
    {Target::Controller, 1, "rq700", "RQ700 controller", PortRole::Primary, false,
     kControllerRange, 3, 100, 0, 0, ControllerReader, kFmfFilter, kProgramTitle, true,
     ImagePlacement::FromFileLowest, false, true, false, false, IdForm::None, "RQ700", kNoReadBack, true},
    {Target::Pic18F252, 2, "pic18", "PIC18F252", PortRole::Programmer, true,
     {0, 0x7FFF, 1}, 3, 100, 5, 0, Pic18Reader, kHexFilter, kProgramTitle, false,
     ImagePlacement::Fixed, false, false, false, false, IdForm::Pic18, "PIC18FXXX", kPic18ReadBack, true},
    {Target::DsPic30F, 3, "pic30", "dsPIC30F", PortRole::Programmer, true,
     {0, 0x7FFF, 1}, 1, 25, 0, 0, Pic30Reader, kHexFilter, kProgramTitle, false,
     ImagePlacement::Fixed, false, false, false, false, IdForm::Pic30, "PIC30Fxxxx", kPic30ReadBack, true},
    {Target::CpuBoard386, 4, "386", "80386EX CPU board boot flash", PortRole::Programmer, true,
     kBootFlashRange, 1, 25, 0, 0, Boot386Reader, kFmfFilter, kProgramTitle, false,
     ImagePlacement::Fixed, true, false, true, true, IdForm::None, kNoCaption, kBootFlashReadBack, true},
    {Target::Tn835, 5, "tn835", "TN835 controller images", PortRole::Primary, false,
     kTn835AppRange, 1, 25, 0, 2, Tn835Reader, kFmfFilter, kProgramTitle, false,
     ImagePlacement::Fixed, false, false, false, false, IdForm::None, kNoCaption, kNoReadBack, true},
    {Target::Tn835Jtag, 6, "tn835-jtag", "TN835 CPU via JTAG", PortRole::Programmer, true,
     kTn835BootRange, 2, 25, 0, 1, Tn835Reader, kFmfFilter, kProgramTitle, false,
     ImagePlacement::Fixed, false, false, false, false, IdForm::None, kNoCaption, kNoReadBack, true},
}};

// The table is indexed by number; a row out of place would hand one device
// another's parameters.
constexpr bool RowsInNumberOrder() {
  for (std::size_t i = 0; i < kTargets.size(); ++i) {
    if (kTargets[i].number != i || Number(kTargets[i].target) != i) return false;
  }
  return true;
}
static_assert(RowsInNumberOrder(), "device rows must stand at their own number");

}  // namespace

std::span<const TargetInfo> AllTargets() { return kTargets; }

const TargetInfo& Info(Target target) {
  const std::size_t n = Number(target);
  return n < kTargets.size() ? kTargets[n] : kTargets[0];
}

std::optional<Target> TargetFromNumber(int number) {
  if (number < 0 || static_cast<std::size_t>(number) >= kTargets.size()) return std::nullopt;
  return kTargets[static_cast<std::size_t>(number)].target;
}

std::optional<Target> ParseTarget(std::string_view text) {
  for (const TargetInfo& row : kTargets) {
    if (row.cliName == text) return row.target;
  }
  int number = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return TargetFromNumber(number);
}

std::unique_ptr<IntelHexFile> MakeImageReader(Target target, ImageRequest request) {
  const TargetInfo& row = Info(target);
  if (row.reader == nullptr) return nullptr;
  if (request.layoutMode == 0) request.layoutMode = row.layoutMode;
  auto file = row.reader(request);
  file->SetOperator(request.op);
  return file;
}

LoadRange PlaceImage(Target target, std::uint32_t lowest, std::uint32_t highest, bool load) {
  const TargetInfo& row = Info(target);
  LoadRange range = row.range;
  if (row.placement == ImagePlacement::FromFileLowest) {
    // A file without extended address records has every address below 64 KB.
    range.base = lowest == 0xFFFFFFFF ? 0 : lowest;
    if (load) range.end = highest;
  }
  return range;
}

}  // namespace tarnvale
