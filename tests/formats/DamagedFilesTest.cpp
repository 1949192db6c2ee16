// Files that are not whole: cut short, without their end record, or with two
// records run together on one line. Every reader refuses them at the same
// line for the same reason, so no command programs half an image.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "FormatsTestUtil.h"
#include "core/formats/BoardInfoRecord.h"
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

BoardInfoRecord Board() {
  BoardInfoRecord r;
  r.SetCpuRevision('C');
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "CTRL01");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "CPU1");
  r.SetSerial(BoardInfoRecord::kIoSerial, "IO7");
  return r;
}

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
      {"boot flash", [](const auto& p) { return std::make_unique<Boot386IntelHexFile>(p, Board()); }, true},
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
  struct Case {
    const char* why;
    std::string text;
    ResultCode code;
    std::size_t line;
    std::string reason;  // a prefix of the reason given
  } cases[] = {
      {"cut after the address record", Join(good, 1), rc::kErrorInHexFile, 1, kNoEndRecord},
      {"cut after the first data record", Join(good, 2), rc::kErrorInHexFile, 2, kNoEndRecord},
      {"cut just before the end record", Join(good, 4), rc::kErrorInHexFile, 4, kNoEndRecord},
      {"cut before the end record, LF only, no final line break",
       Join(good, 4, "\n").substr(0, Join(good, 4, "\n").size() - 1), rc::kErrorInHexFile, 4, kNoEndRecord},
      {"cut before the end record, blank lines after", Join(good, 4) + "\r\n\r\n  \r\n", rc::kErrorInHexFile, 4,
       kNoEndRecord},
      {"cut in the middle of a record", midRecord, rc::kInvalidHexFile, 3, "count 0x10 needs"},
      {"two data records on one line", Join(joined, 4), rc::kInvalidHexFile, 3, kTextAfterChecksum},
      {"the end record joined to the last data record", Join(joinedEnd, 4), rc::kInvalidHexFile, 4,
       kTextAfterChecksum},
      {"a stray character after the checksum", Join(good, 2) + good[2] + "x\r\n" + Join(good, 5).substr(
           Join(good, 3).size()), rc::kInvalidHexFile, 3, kTextAfterChecksum},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto path = test::WriteTemp("damaged.hex", c.text);
    HexScan scan;
    EXPECT_EQ(ScanHexFile(path, scan), c.code);
    EXPECT_EQ(scan.failure.line, c.line);
    EXPECT_EQ(scan.failure.reason.rfind(c.reason, 0), 0u) << scan.failure.reason;
    for (const Reader& reader : HexReaders()) {
      SCOPED_TRACE(reader.name);
      const auto file = reader.make(path);
      const ResultCode expected = reader.foldsInvalid ? rc::kErrorInHexFile : c.code;
      EXPECT_EQ(test::Load(*file), expected);
      EXPECT_EQ(file->Failure().line, c.line);
      EXPECT_EQ(file->Failure().reason.rfind(c.reason, 0), 0u) << file->Failure().reason;
    }
  }
  // The whole file is taken by all of them, so the refusals above are the damage's.
  const auto whole = test::WriteTemp("whole.hex", full);
  HexScan scan;
  EXPECT_EQ(ScanHexFile(whole, scan), rc::kFileOk);
  for (const Reader& reader : HexReaders()) {
    const auto file = reader.make(whole);
    EXPECT_EQ(test::Load(*file), rc::kFileOk) << reader.name;
  }
}

TEST(DamagedFiles, SRecordsCutShortOrJoinedAreRefusedAndNoImageIsWritten) {
  const Bytes four = {0x01, 0x02, 0x03, 0x04};
  const std::vector<std::string> good = {"S00600004844521B", test::SRecLine(1, 0x10, four),
                                         test::SRecLine(1, 0x20, four), test::SRecLine(9, 0)};
  const std::string full = Join(good, 4);
  struct Case {
    const char* why;
    std::string text;
    ResultCode code;
    std::size_t line;
    std::string reason;
  } cases[] = {
      {"no end record", Join(good, 3), rc::kErrorInHexFile, 3, kNoEndRecord},
      {"cut after the header", Join(good, 1), rc::kErrorInHexFile, 1, kNoEndRecord},
      {"two data records on one line", good[0] + "\r\n" + good[1] + good[2] + "\r\n" + good[3] + "\r\n",
       rc::kInvalidHexFile, 2, kTextAfterChecksum},
      {"the end record joined to the last data record", Join(good, 2) + good[2] + good[3] + "\r\n",
       rc::kInvalidHexFile, 3, kTextAfterChecksum},
      {"cut in the middle of a record", full.substr(0, full.find(good[2]) + 6), rc::kInvalidHexFile, 3,
       "not a valid S-record"},
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
  const auto whole = test::WriteTemp("whole.S", full);
  MotorolaSRecFile file(whole, 0, 0x21FFF);
  EXPECT_EQ(test::LoadSRec(file, 0, 0x20000, 0), rc::kFileOk);
}

}  // namespace
}  // namespace tarnvale
