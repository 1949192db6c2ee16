#include "core/device/Target.h"

#include <array>
#include <charconv>

#include "core/formats/IntelHexFile.h"
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

// number, CLI name, description, port, select packet, range, window, step,
// pause, layout, reader, filter, title, read back by the memory dump
constexpr std::array<TargetInfo, 7> kTargets{{
    {Target::Box, 0, "box", "Universal Programmer", PortRole::Programmer, false,
     {0, 0, 1}, 1, 10, 0, 0, nullptr, kFmfFilter, kProgramTitle, false},
    {Target::Controller, 1, "rq700", "RQ700 controller", PortRole::Primary, false,
     {0x03C00000, 0x03FFFFFF, 2}, 3, 100, 0, 0, ControllerReader, kFmfFilter, kProgramTitle, true},
    {Target::Pic18F252, 2, "pic18", "PIC18F252", PortRole::Programmer, true,
     {0, 0x7FFF, 1}, 3, 100, 5, 0, Pic18Reader, kHexFilter, kProgramTitle, false},
    {Target::DsPic30F, 3, "pic30", "dsPIC30F", PortRole::Programmer, true,
     {0, 0x7FFF, 1}, 1, 25, 0, 0, Pic30Reader, kHexFilter, kProgramTitle, false},
    {Target::CpuBoard386, 4, "386", "80386EX CPU board boot flash", PortRole::Programmer, true,
     {0x03FFC000, 0x03FFFFFF, 1}, 1, 25, 0, 0, Boot386Reader, kFmfFilter, kProgramTitle, false},
    {Target::Tn835, 5, "tn835", "TN835 controller images", PortRole::Primary, false,
     {0, 0x21FFF, 1}, 1, 25, 0, 2, Tn835Reader, kFmfFilter, kProgramTitle, false},
    {Target::Tn835Jtag, 6, "tn835-jtag", "TN835 CPU via JTAG", PortRole::Programmer, true,
     {0x40000, 0x41FFF, 1}, 2, 25, 0, 1, Tn835Reader, kFmfFilter, kProgramTitle, false},
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

const TargetInfo& Info(Target t) {
  const std::size_t n = Number(t);
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

std::unique_ptr<IntelHexFile> MakeImageReader(Target t, ImageRequest request) {
  const TargetInfo& row = Info(t);
  if (row.reader == nullptr) return nullptr;
  if (request.layoutMode == 0) request.layoutMode = row.layoutMode;
  auto file = row.reader(request);
  file->SetOperator(request.op);
  return file;
}

}  // namespace tarnvale
