// The device table against the programming table the system was built to:
// numbers, ports, select packets, default ranges, windows, steps, pauses,
// readers, file filters and how each is read back, one row per target; then
// the per-device facts the commands ask the row for, and a scan of the
// source tree that keeps target comparisons out of the code outside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <fstream>
#include <regex>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "core/device/Target.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/formats/TN820HexFile.h"

namespace tarnvale {
namespace {

constexpr const char* kFmf = "Flash Memory File (*.FMF)|*.FMF|";
constexpr const char* kHex = "Hex File (*.HEX)|*.HEX|";

struct Row {
  Target target;
  int number;
  const char* name;
  PortRole role;
  bool select;
  std::uint32_t base, end;
  int lanes;
  std::uint32_t step, window, pauseMs;
  const std::type_info* reader;  // null: none
  const char* filter;
  int layout;
  bool memoryDump;
};

const Row kExpected[] = {
    {Target::Box, 0, "box", PortRole::Programmer, false, 0, 0, 1, 10, 1, 0, nullptr, kFmf, 0, false},
    {Target::Controller, 1, "rq700", PortRole::Primary, false, 0x03C00000, 0x03FFFFFF, 2, 100, 3, 0,
     &typeid(IntelHexFile), kFmf, 0, true},
    {Target::Pic18F252, 2, "pic18", PortRole::Programmer, true, 0, 0x7FFF, 1, 100, 3, 5,
     &typeid(PIC18FIntelHexFile), kHex, 0, false},
    {Target::DsPic30F, 3, "pic30", PortRole::Programmer, true, 0, 0x7FFF, 1, 25, 1, 0,
     &typeid(PIC30FIntelHexFile), kHex, 0, false},
    {Target::CpuBoard386, 4, "386", PortRole::Programmer, true, 0x03FFC000, 0x03FFFFFF, 1, 25, 1, 0,
     &typeid(Boot386IntelHexFile), kFmf, 0, false},
    {Target::Tn835, 5, "tn835", PortRole::Primary, false, 0, 0x21FFF, 1, 25, 1, 0,
     &typeid(TN820HexFile), kFmf, 2, false},
    {Target::Tn835Jtag, 6, "tn835-jtag", PortRole::Programmer, true, 0x40000, 0x41FFF, 1, 25, 2, 0,
     &typeid(TN820HexFile), kFmf, 1, false},
};

TEST(TargetTable, EveryRowHoldsItsDevicesValues) {
  ASSERT_EQ(AllTargets().size(), std::size(kExpected));
  for (const Row& e : kExpected) {
    SCOPED_TRACE(e.name);
    const TargetInfo& row = Info(e.target);
    EXPECT_EQ(row.target, e.target);
    EXPECT_EQ(row.number, e.number);
    EXPECT_EQ(Number(e.target), e.number);
    EXPECT_EQ(row.cliName, e.name);
    EXPECT_EQ(row.role, e.role);
    EXPECT_EQ(row.selectPacket, e.select);
    EXPECT_EQ(row.range.base, e.base);
    EXPECT_EQ(row.range.end, e.end);
    EXPECT_EQ(row.range.lanes, e.lanes);
    EXPECT_EQ(row.progressStep, e.step);
    EXPECT_EQ(row.window, e.window);
    EXPECT_EQ(row.packetPauseMs, e.pauseMs);
    EXPECT_EQ(row.fileFilter, e.filter);
    EXPECT_EQ(row.dialogTitle, "Program Flash Memory");
    EXPECT_EQ(row.layoutMode, e.layout);
    EXPECT_EQ(row.readsByMemoryDump, e.memoryDump);

    ImageRequest request;
    request.path = "image.hex";
    request.range = row.range;
    const auto reader = MakeImageReader(e.target, request);
    if (e.reader == nullptr) {
      EXPECT_EQ(reader, nullptr);
      continue;
    }
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(std::type_index(typeid(*reader)), std::type_index(*e.reader));
    if (const auto* tn = dynamic_cast<const TN820HexFile*>(reader.get())) {
      EXPECT_EQ(tn->LayoutMode(), static_cast<std::uint32_t>(e.layout)) << "the row's default layout";
    }
  }
}

// What the commands ask a row rather than the target's name.
struct Facts {
  Target target;
  ImagePlacement placement;
  bool boardInfo, longErase, revisionRule, longJtag, current;
  IdForm id;
  const char* caption;
  std::uint32_t readStart, readEnd;
  std::uint16_t firstPacket;
  bool settles;
  std::optional<std::uint32_t> recordBase;
  bool checksumAtTop;
  const char* file;
};

const Facts kFacts[] = {
    {Target::Box, ImagePlacement::Fixed, false, false, false, false, false, IdForm::None, "Undefined Type",
     0, 0, 0, false, std::nullopt, false, ""},
    {Target::Controller, ImagePlacement::FromFileLowest, false, true, false, false, true, IdForm::None, "RQ700",
     0, 0, 0, false, std::nullopt, false, ""},
    {Target::Pic18F252, ImagePlacement::Fixed, false, false, false, false, true, IdForm::Pic18, "PIC18FXXX",
     0, 0xFF, 0, false, 0u, false, "PIC18F252 EEPROM Data.txt"},
    {Target::DsPic30F, ImagePlacement::Fixed, false, false, false, false, true, IdForm::Pic30, "PIC30Fxxxx",
     0x7FFC00, 0x7FFFFF, 0, false, 0x7F0000u, false, "PIC30FXXXX EEPROM Data.txt"},
    {Target::CpuBoard386, ImagePlacement::Fixed, true, false, true, true, true, IdForm::None, "Undefined Type",
     0x3FFC000, 0x3FFFFFF, 0xC000, true, std::nullopt, true, "386 Boot Flash Data.txt"},
    {Target::Tn835, ImagePlacement::Fixed, false, false, false, false, true, IdForm::None, "Undefined Type",
     0, 0, 0, false, std::nullopt, false, ""},
    {Target::Tn835Jtag, ImagePlacement::Fixed, false, false, false, false, true, IdForm::None, "Undefined Type",
     0, 0, 0, false, std::nullopt, false, ""},
};

TEST(TargetTable, EveryRowHoldsItsDevicesFacts) {
  ASSERT_EQ(AllTargets().size(), std::size(kFacts));
  for (const Facts& e : kFacts) {
    const TargetInfo& row = Info(e.target);
    SCOPED_TRACE(std::string(row.cliName));
    EXPECT_EQ(row.placement, e.placement);
    EXPECT_EQ(row.needsBoardInfo, e.boardInfo);
    EXPECT_EQ(row.longErase, e.longErase);
    EXPECT_EQ(row.flashRevisionRule, e.revisionRule);
    EXPECT_EQ(row.longJtagSettle, e.longJtag);
    EXPECT_EQ(row.becomesCurrent, e.current);
    EXPECT_EQ(row.idForm, e.id);
    EXPECT_EQ(row.idCaption, e.caption);
    EXPECT_EQ(row.readBack.start, e.readStart);
    EXPECT_EQ(row.readBack.end, e.readEnd);
    EXPECT_EQ(row.readBack.firstPacket, e.firstPacket);
    EXPECT_EQ(row.readBack.settles, e.settles);
    EXPECT_EQ(row.readBack.recordBase, e.recordBase);
    EXPECT_EQ(row.readBack.checksumAtTop, e.checksumAtTop);
    EXPECT_EQ(row.readBack.fileName, e.file);
  }
}

// The readers and the table name one range: a row's default range is what
// the reader of its file form holds.
TEST(TargetTable, DefaultRangesAreTheReadersLayouts) {
  const struct {
    Target target;
    std::uint32_t base, end;
  } cases[] = {
      {Target::Controller, 0x03C00000, 0x03FFFFFF},
      {Target::CpuBoard386, 0x03FFC000, 0x03FFFFFF},
      {Target::Tn835, 0, 0x21FFF},
      {Target::Tn835Jtag, 0x40000, 0x41FFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(Info(c.target).cliName));
    ImageRequest request;
    request.path = "image.FMF";
    request.range = Info(c.target).range;
    const auto reader = MakeImageReader(c.target, request);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->BaseAddress(), c.base);
    EXPECT_EQ(reader->EndAddress(), c.end);
  }
}

TEST(TargetTable, ImagesArePlacedAsTheirRowSays) {
  constexpr std::uint32_t kNoExtended = 0xFFFFFFFF;
  const struct {
    const char* what;
    Target target;
    std::uint32_t lowest, highest;
    bool load;
    std::uint32_t base, end;
  } cases[] = {
      {"flash from the file's lowest address to the top", Target::Controller, 0x03C10000, 0x03C2FFFF, false,
       0x03C10000, 0x03FFFFFF},
      {"a load ends at the file's highest address", Target::Controller, 0x00010000, 0x0001FFFF, true, 0x00010000,
       0x0001FFFF},
      {"no extended address records: from 0", Target::Controller, kNoExtended, 0x7FFF, true, 0, 0x7FFF},
      {"no extended address records, flash: from 0 to the top", Target::Controller, kNoExtended, 0x7FFF, false, 0,
       0x03FFFFFF},
      {"a fixed range ignores the file", Target::CpuBoard386, 0x100, 0x200, false, 0x03FFC000, 0x03FFFFFF},
      {"a fixed range ignores a load too", Target::Tn835Jtag, 0x100, 0x200, true, 0x40000, 0x41FFF},
  };
  for (const auto& c : cases) {
    const LoadRange r = PlaceImage(c.target, c.lowest, c.highest, c.load);
    EXPECT_EQ(r.base, c.base) << c.what;
    EXPECT_EQ(r.end, c.end) << c.what;
    EXPECT_EQ(r.lanes, Info(c.target).range.lanes) << c.what;
  }
}

TEST(TargetTable, ReadersTakeTheRequestedRangeAndLayout) {
  ImageRequest request;
  request.path = "image.FMF";
  request.range = {0x03C10000, 0x03C1FFFF, 4};
  const auto controller = MakeImageReader(Target::Controller, request);
  EXPECT_EQ(controller->BaseAddress(), 0x03C10000u);
  EXPECT_EQ(controller->EndAddress(), 0x03C1FFFFu);
  EXPECT_EQ(controller->Lanes(), 4);

  request.range = Info(Target::Tn835Jtag).range;
  request.layoutMode = 2;
  const auto jtag = MakeImageReader(Target::Tn835Jtag, request);
  EXPECT_EQ(dynamic_cast<const TN820HexFile&>(*jtag).LayoutMode(), 2u) << "a caller's layout wins";
}

TEST(TargetTable, NamesAndNumbersParseAndNothingElseDoes) {
  for (const Row& e : kExpected) {
    EXPECT_EQ(ParseTarget(e.name), e.target) << e.name;
    EXPECT_EQ(ParseTarget(std::to_string(e.number)), e.target) << e.number;
    EXPECT_EQ(TargetFromNumber(e.number), e.target);
  }
  for (const char* bad : {"", "7", "-1", "1x", " 1", "pic", "PIC18", "0x2", "386ex"}) {
    EXPECT_EQ(ParseTarget(bad), std::nullopt) << '"' << bad << '"';
  }
  EXPECT_EQ(TargetFromNumber(7), std::nullopt);
  EXPECT_EQ(TargetFromNumber(-1), std::nullopt);
}

// ---- no target comparisons outside the device table ----------------------------------

// A line that decides by a target's name: an (in)equality with a named
// target, or a case of a switch on one.
bool ComparesTarget(const std::string& line) {
  static const std::regex kComparison(
      R"((==|!=)\s*Target::\w+|Target::\w+\s*(==|!=)|case\s+Target::|\btarget::k\w+)");
  return std::regex_search(line, kComparison);
}

TEST(TargetComparisons, TheScanKnowsAComparisonWhenItSeesOne) {
  const struct {
    const char* line;
    bool compares;
  } cases[] = {
      {"  if (target == Target::CpuBoard386) {", true},
      {"  const bool p18 = t != Target::Pic18F252;", true},
      {"  if (Target::Controller==row.target) return;", true},
      {"    case Target::DsPic30F: return 1;", true},
      {"  SelectTarget(target::kCpuBoard386);", true},
      {"  link.SelectTarget(Target::CpuBoard386);", false},
      {"  if (Info(target).flashRevisionRule) {", false},
      {"  request.target = Target::Tn835;", false},
      {"  if (row.target == target) return;", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ComparesTarget(c.line), c.compares) << c.line;
}

// Device facts live in the device's row: code elsewhere asks the row and never
// the target's name. The simulator is a model of the wire with numbers of its
// own and is left out, as is the table itself.
TEST(TargetComparisons, NoneOutsideTheDeviceTable) {
  namespace fs = std::filesystem;
  const fs::path src = fs::path(TARNVALE_SOURCE_DIR) / "src";
  ASSERT_TRUE(fs::is_directory(src / "core" / "device")) << src;
  const fs::path allowed[] = {src / "core" / "device", src / "sim"};
  std::size_t scanned = 0;
  std::string found;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) continue;
    bool skip = false;
    for (const fs::path& a : allowed) {
      const auto rel = path.lexically_relative(a);
      skip = skip || (!rel.empty() && *rel.begin() != "..");
    }
    if (skip) continue;
    ++scanned;
    std::ifstream in(path);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      if (ComparesTarget(line)) found += path.lexically_relative(src).string() + ":" + std::to_string(n) + ": " + line + "\n";
    }
  }
  EXPECT_GT(scanned, 100u) << "the scan must have read the source tree";
  EXPECT_EQ(found, "") << "ask the device row (Info(target)) instead";
}

}  // namespace
}  // namespace tarnvale
