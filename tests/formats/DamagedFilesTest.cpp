// Files that are not whole (cut short, without their end record, two records
// run together on one line), malformed records and files without data. Every
// reader refuses them at the same line for the same reason, so no command
// programs half an image.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "FormatsTestUtil.h"
#include "core/formats/IntelHexFile.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/ProductionImage.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/formats/TN820HexFile.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The lines of a good file, one record each (line 1 the address record,
// lines 2 to 4 data, line 5 the end record).
std::vector<std::string> GoodHexLines() {
  return {test::HexLine(0x04, 0, Bytes{0x03, 0xFF}), test::HexLine(0, 0xC000, Bytes(16, 0x11)),
          test::HexLine(0, 0xC010, Bytes(16, 0x22)), test::HexLine(0, 0xC020, Bytes(16, 0x33)),
          ":00000001FF"};
}

std::string Join(const std::vector<std::string>& lines, std::size_t count, const std::string& eol = "\r\n") {
  std::string text;
  for (std::size_t i = 0; i < count && i < lines.size(); ++i) text += lines[i] + eol;
  return text;
}

struct Reader {
  const char* name;
  std::function<std::unique_ptr<IntelHexFile>(const std::filesystem::path&)> make;
  // The boot and PIC images fold "Invalid Hex File" into "Error in Hex File",
  // as they always did; the line and reason are kept all the same.
  bool foldsInvalid;
};

const std::vector<Reader>& HexReaders() {
  static const std::vector<Reader> readers = {
      {"Intel HEX", [](const auto& p) { return std::make_unique<IntelHexFile>(p, 0x03FFC000, 0x03FFFFFF, 1, 2); },
       false},
      {"TN820 HEX", [](const auto& p) { return std::make_unique<TN820HexFile>(p, 0x40000, 0x41FFF, 1, 1); },
       false},
      {"boot flash", [](const auto& p) { return std::make_unique<Boot386IntelHexFile>(p, test::GoodBoardRecord()); }, true},
      {"PIC18F", [](const auto& p) { return std::make_unique<PIC18FIntelHexFile>(p, 0, 0x7FFF); }, true},
      {"dsPIC30F", [](const auto& p) { return std::make_unique<PIC30FIntelHexFile>(p, 0, 0x7FFF); }, true},
  };
  return readers;
}

TEST(DamagedFiles, EveryHexReaderAndTheScanRefuseAtTheLineWithTheReason) {
  const std::vector<std::string> good = GoodHexLines();
  std::vector<std::string> joined = good;
  joined[2] += joined[3];  // a lost line break: record 4 rides on line 3
  joined.erase(joined.begin() + 3);
  std::vector<std::string> joinedEnd = good;
  joinedEnd[3] += joinedEnd[4];
  joinedEnd.pop_back();
  const std::string full = Join(good, 5);
  // Cut in the middle of line 3: the record there is shorter than its count says.
  const std::string midRecord = full.substr(0, full.find(good[2]) + good[2].size() / 2);
  // Three good lines first: a bad record after them is on line 4.
  const std::string before = Join(good, 3);
  const std::string four = test::HexLine(0, 0, Bytes{1, 2, 3, 4});
  const std::string noSum = four.substr(0, four.size() - 2);
  struct Case {
    const char* why;
    std::string text;
    ResultCode code;
    std::size_t line;
    std::string reason;  // a prefix of the reason given
  } cases[] = {
      {"cut before the end record, LF only, no final line break",
       Join(good, 4, "\n").substr(0, Join(good, 4, "\n").size() - 1), rc::kErrorInHexFile, 4, kNoEndRecord},
      {"cut before the end record, blank lines after", Join(good, 4) + "\r\n\r\n  \r\n", rc::kErrorInHexFile, 4,
       kNoEndRecord},
      {"cut in the middle of a record", midRecord, rc::kInvalidHexFile, 3, "count 0x10 needs"},
      {"two data records on one line", Join(joined, 4), rc::kInvalidHexFile, 3, kTextAfterChecksum},
      {"the end record joined to the last data record", Join(joinedEnd, 4), rc::kInvalidHexFile, 4,
       kTextAfterChecksum},
      {"no colon", before + "1004000000\n", rc::kInvalidHexFile, 4, "record does not start with ':'"},
      {"a colon alone", before + ":\n", rc::kInvalidHexFile, 4, "record of 1 characters is too short"},
      {"no data for the count", before + ":0400000001\n", rc::kInvalidHexFile, 4,
       "count 0x04 needs 19 characters, the record has 11"},
      {"no checksum", before + noSum + "\n", rc::kInvalidHexFile, 4,
       "count 0x04 needs 19 characters, the record has 17"},
      // The count claims 8 bytes, the line holds 2: the next line must not supply the rest.
      {"count beyond the line", before + ":0800000001020B\n" + test::HexLine(0, 0, Bytes(8, 0x11)) + "\n",
       rc::kInvalidHexFile, 4, "count 0x08"},
      {"not hex", before + ":02000000ZZ0000\n", rc::kInvalidHexFile, 4, "character 10 is not a hex digit"},
      {"far too long", before + ":" + std::string(600000, '0') + "\n", rc::kInvalidHexFile, 4,
       "record longer than 1024 characters"},
      {"checksum", before + noSum + "00\n", rc::kErrorInHexFile, 4, "checksum 0x00, expected 0xF2"},
      {"record type 06", before + test::HexLine(6, 0) + "\n", rc::kErrorInHexFile, 4, "record type 0x06"},
      // Nothing to program: refused rather than sent as a blank image (for
      // the boot flash: one with nothing but the board's record in it).
      {"empty", "", rc::kDataNotFound, 0, "no data records"},
      {"addresses but no data", test::HexText().ExtendedLinear(0).Data(0, Bytes{}).EndOfFile().Text(),
       rc::kDataNotFound, 0, "no data records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto path = test::WriteTemp("damaged.hex", c.text);
    HexScan scan;
    scan.lowest = 7;
    EXPECT_EQ(ScanHexFile(path, scan), c.code);
    EXPECT_EQ(scan.failure.line, c.line);
    EXPECT_EQ(scan.failure.reason.rfind(c.reason, 0), 0u) << scan.failure.reason;
    EXPECT_EQ(scan.lowest, 7u) << "no range reported";
    for (const Reader& reader : HexReaders()) {
      SCOPED_TRACE(reader.name);
      const auto file = reader.make(path);
      const bool folds = reader.foldsInvalid && c.code == rc::kInvalidHexFile;
      EXPECT_EQ(test::Load(*file), folds ? rc::kErrorInHexFile : c.code);
      EXPECT_EQ(file->Failure().line, c.line);
      EXPECT_EQ(file->Failure().reason.rfind(c.reason, 0), 0u) << file->Failure().reason;
    }
  }
}

TEST(DamagedFiles, SRecordsCutShortOrJoinedAreRefusedAndNoImageIsWritten) {
  const Bytes four = {0x01, 0x02, 0x03, 0x04};
  const std::vector<std::string> good = {"S00600004844521B", test::SRecLine(1, 0x10, four),
                                         test::SRecLine(1, 0x20, four), test::SRecLine(9, 0)};
  const std::string full = Join(good, 4);
  const std::string end = good[3] + "\r\n";
  struct Case {
    const char* why;
    std::string text;
    ResultCode code;
    std::size_t line;
    std::string reason;
  } cases[] = {
      {"no end record", Join(good, 3), rc::kErrorInHexFile, 3, kNoEndRecord},
      {"two data records on one line", good[0] + "\r\n" + good[1] + good[2] + "\r\n" + good[3] + "\r\n",
       rc::kInvalidHexFile, 2, kTextAfterChecksum},
      {"the end record joined to the last data record", Join(good, 2) + good[2] + good[3] + "\r\n",
       rc::kInvalidHexFile, 3, kTextAfterChecksum},
      {"cut in the middle of a record", full.substr(0, full.find(good[2]) + 6), rc::kInvalidHexFile, 3,
       "not a valid S-record"},
      {"header checksum", "S00600004844521C\n" + Join(good, 4).substr(good[0].size() + 2), rc::kErrorInHexFile, 1,
       "checksum 0x1C, expected 0x1B"},
      {"odd data count", test::SRecLine(2, 0x10, Bytes{1, 2, 3}) + "\n" + end, rc::kErrorInHexFile, 1,
       "odd number of data bytes"},
      {"S5 count record", Join(good, 2) + test::SRecLine(5, 1) + "\n" + end, rc::kErrorInHexFile, 3, "S-record type 5"},
      {"region two only", test::SRecLine(3, 0x2000000, four) + "\n" + end, rc::kErrorInHexFile, 2,
       "no data in the first memory region"},
      {"beyond region one", test::SRecLine(3, 0x1001000, four) + "\n" + end, rc::kErrorInHexFile, 1,
       "address outside both memory regions"},
      {"not an S-record", "X1070010010203046E\n" + end, rc::kInvalidHexFile, 1, "not a valid S-record"},
      {"count beyond the token", "S1FF0010" + std::string(8, '0') + "\n" + end, rc::kInvalidHexFile, 1,
       "not a valid S-record"},
      {"overlong token", "S" + std::string(3000, '1') + "\n" + end, rc::kInvalidHexFile, 1,
       "record longer than 1024 characters"},
      {"checksum", good[1].substr(0, good[1].size() - 2) + "00\n" + end, rc::kErrorInHexFile, 1,
       "checksum 0x00, expected 0xDE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto folder = test::MakeTempDir("srec");
    const auto input = folder / "in.S";
    test::WriteFileBytes(input, c.text);
    MotorolaSRecFile file(input, 0, 0x21FFF);
    EXPECT_EQ(test::LoadSRec(file, 0, 0x20000, 0), c.code);
    EXPECT_EQ(file.Failure().line, c.line);
    EXPECT_EQ(file.Failure().reason, c.reason);
    // The production conversion stops at the same place and writes nothing.
    ProductionImageOptions options;
    options.kind = ProductionImageKind::Test;
    options.readStamp = [](const std::filesystem::path&, BuildStamp&) { return false; };
    std::string version;
    FileFailure failure;
    EXPECT_EQ(ConvertProductionImage(input, folder / "out.FMF", options, version, nullptr, &failure), c.code);
    EXPECT_EQ(failure.line, c.line);
    EXPECT_EQ(failure.reason, c.reason);
    EXPECT_FALSE(std::filesystem::exists(folder / "out.FMF"));
  }
}

}  // namespace
}  // namespace tarnvale
