// The device table against the programming table the system was built to:
// numbers, ports, select packets, default ranges, windows, steps, pauses,
// readers, file filters and how each is read back, one row per target.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarnvale
