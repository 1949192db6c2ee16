// Decoding of dump replies, the MAC address rule and the dialogs' texts.
// (Range replies and the dump's header text are checked through the workflow
// and end to end.)
#include <gtest/gtest.h>

#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/Workflows.h"
#include "core/protocol/Controller.h"
#include "support/QuietLoadView.h"
#include "support/RecordingOperator.h"

namespace tarnvale {
namespace {

TEST(DumpLine, DataFillAndMalformedRecords) {
  struct Case {
    const char* line;
    ResultCode code;
    std::vector<std::uint8_t> bytes;
    std::size_t written;
  };
  const ResultCode bad = rc::kDataMismatch;
  const std::vector<Case> cases{
      {"00000003:0A0B0C", rc::kSuccess, {0x0A, 0x0B, 0x0C}, 3},
      {"00000004.1234", rc::kSuccess, {0x34, 0x12}, 4},  // 34 12 34 12
      {"00000010.FF", rc::kSuccess, {0xFF}, 16},
      // A pattern that does not divide the count is written whole.
      {"00000005.AABBCCDD", rc::kSuccess, {0xDD, 0xCC, 0xBB, 0xAA}, 8},
      // Count 0 would never advance; a fill needs a pattern.
      {"00000000:", bad, {}, 0}, {"00000000.FF", bad, {}, 0}, {"00000010.", bad, {}, 0},
      {"00000010.zz", bad, {}, 0}, {"00000002:0A", bad, {}, 0}, {"00000002:0AXY", bad, {}, 0},
      {"0000000A", bad, {}, 0}, {"", bad, {}, 0}, {"zz:0A", bad, {}, 0},
      // A fill reaching past the end of the range is cut at the end.
      {"00100000.FF", rc::kSuccess, {0xFF}, 0x1000},
      {"00001002.1234", rc::kSuccess, {0x34, 0x12}, 0x1000},
      {"00000FFF.AABBCCDD", rc::kSuccess, {0xDD, 0xCC, 0xBB, 0xAA}, 0x1000},
      // A garbled count on a short line is refused without reserving room
      // for it (FFFFFFFF used to ask for 4 GB before the pairs were read).
      {"FFFFFFFF:00", bad, {}, 0}, {"7FFFFFFF:", bad, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    DumpLine line;
    ASSERT_EQ(ParseDumpLine(c.line, 0x1000, line), c.code);
    if (c.code != rc::kSuccess) continue;
    EXPECT_EQ(line.fill, std::string(c.line).find('.') != std::string::npos);
    EXPECT_EQ(line.bytes, c.bytes);
    EXPECT_EQ(line.Written(), c.written);
  }
}

TEST(MacQuestion, DependsOnModelAndVersion) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases{
      {"RQ720 Press", "4.13.00", true}, {"RQ720 Press", "4.13.01", false}, {"RQ700", "4.57.05", true},
      {"RQ700", "4.02.00", true},       {"RQ700", "4.57.06", false},       {"RQ700", "5.01.00", false},
      {"RQ750", "4.01.00", false},      {"RQ750 RQ720", "4.01.00", false},
  };
  for (const auto& [model, version, asked] : cases) {
    EXPECT_EQ(MacAddressQuestion(model, version, "S1").has_value(), asked) << model << " " << version;
  }
  EXPECT_EQ(*MacAddressQuestion("RQ720", "4.13.00", "QC-77"),
            "Software for this Model is unable to generate a MAC Address in versions 4.13.00 and "
            "older for controller Serial # QC-77. Knowing that the controller will not "
            "communicate with Corvid if using the Ethernet port and this software version, do you "
            "wish to continue programming the controller?");
}

// A run that ends on a file-layer code names its file as a refusal before
// the run does; a device's code keeps its plain text.
TEST(DialogTexts, ARunEndedByItsFileNamesTheFile) {
  const struct {
    ResultCode code;
    std::string text;
  } cases[] = {
      {rc::kCantOpenInput, "/img/APP.FMF: Can't Open Input File"},
      {rc::kErrorInHexFile, "/img/APP.FMF: Error in Hex File"},
      {rc::kAddressOutOfRange, "Address out of range"},
  };
  for (const auto& c : cases) {
    ProgrammingRequest request;
    request.path = "/img/APP.FMF";
    test::QuietLoadView view;
    test::RecordingOperator op;
    LoadMemoryModel model(request, view, op);
    model.OnResult(c.code);
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{c.text}) << int(c.code);
  }
}

}  // namespace
}  // namespace tarnvale
