// What holds across the device table: names, readers and ranges agree,
// images are placed as each row says; and a scan of the source tree that
// keeps target comparisons out of the code outside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <string>

#include "core/device/Target.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/TN820HexFile.h"

namespace tarnvale {
namespace {

// Rules every row keeps: its name and number lead back to it and to no other
// row, and a row with a file form gets a reader that holds exactly the row's
// default range (so the table and the readers' own layouts cannot drift).
TEST(TargetTable, EveryRowIsNamedOnceAndItsReaderHoldsItsRange) {
  std::set<std::string_view> names;
  for (const TargetInfo& row : AllTargets()) {
    SCOPED_TRACE(std::string(row.cliName));
    EXPECT_TRUE(names.insert(row.cliName).second) << "name used twice";
    EXPECT_EQ(&Info(row.target), &row);
    EXPECT_EQ(ParseTarget(row.cliName), row.target);
    EXPECT_EQ(ParseTarget(std::to_string(row.number)), row.target);
    EXPECT_EQ(TargetFromNumber(row.number), row.target);
    ImageRequest request;
    request.path = "image.hex";
    request.range = row.range;
    const auto reader = MakeImageReader(row.target, request);
    EXPECT_EQ(reader == nullptr, row.reader == nullptr);
    if (reader == nullptr) continue;
    EXPECT_EQ(reader->BaseAddress(), row.range.base);
    EXPECT_EQ(reader->EndAddress(), row.range.end);
    EXPECT_EQ(reader->Lanes(), row.range.lanes);
    EXPECT_EQ(reader->AllocateImage(), rc::kFileOk) << "the default range is one an image can have";
  }
  EXPECT_EQ(MakeImageReader(Target::Box, {}), nullptr) << "the box has no image of its own";
  // A caller's layout wins over the row's (a caller's range: the CLI's ranged hex stream).
  ImageRequest jtag;
  jtag.range = Info(Target::Tn835Jtag).range;
  jtag.layoutMode = 2;
  EXPECT_EQ(dynamic_cast<const TN820HexFile&>(*MakeImageReader(Target::Tn835Jtag, jtag)).LayoutMode(), 2u);
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
      {"no extended address records, flash: from 0 to the top", Target::Controller, kNoExtended, 0x7FFF, false, 0,
       0x03FFFFFF},
      {"a fixed range ignores a load too", Target::Tn835Jtag, 0x100, 0x200, true, 0x40000, 0x41FFF},
  };
  for (const auto& c : cases) {
    const LoadRange r = PlaceImage(c.target, c.lowest, c.highest, c.load);
    EXPECT_EQ(r.base, c.base) << c.what;
    EXPECT_EQ(r.end, c.end) << c.what;
    EXPECT_EQ(r.lanes, Info(c.target).range.lanes) << c.what;
  }
}

TEST(TargetTable, NothingButANameOrNumberParses) {
  for (const char* bad : {"", "7", "-1", "1x", " 1", "pic", "PIC18", "0x2"}) {
    EXPECT_EQ(ParseTarget(bad), std::nullopt) << '"' << bad << '"';
  }
  EXPECT_EQ(TargetFromNumber(7), std::nullopt);
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
      {"  SelectTarget(target::kCpuBoard386);", true},
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
