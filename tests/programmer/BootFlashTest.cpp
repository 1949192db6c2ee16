// The boot flash of the CPU board through the box: the read-back lines and
// checksums, programming with the board's identification, verify, blank
// check and erase under NOR rules, and the serial / revision form.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>

#include "core/formats/ProgrammerHexFiles.h"
#include "core/flash/MemoryDump.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BootFlash.h"
#include "support/SimBox.h"
#include "support/DirectRunner.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Remembers every read-back event.
struct Events : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t, std::uint32_t) override {}
  void OnDone(ResultCode c, std::uint32_t n) override {
    code = c;
    next = n;
  }
  void OnLine(const std::string& t) override { lines.push_back(t); }
  std::vector<std::string> lines;
  ResultCode code = 0;
  std::uint32_t next = 0;
};

BoardInfoRecord GoodRecord() {
  BoardInfoRecord r;
  r.SetCpuRevision('C');
  r.SetIoRevision('B');
  r.SetSerial(BoardInfoRecord::kControllerSerial, "RQ0042");
  r.SetSerial(BoardInfoRecord::kCpuSerial, "CPU000000000015");
  r.SetSerial(BoardInfoRecord::kIoSerial, "IO77");
  for (std::size_t i = 0; i < 6; ++i) r.SetFlashIdWord(i, i % 2 ? 0xADAD : 0x2020);
  return r;
}

// A boot file: random code, a version text, and the image the file class
// makes of it for `record`.
struct BootFile {
  std::filesystem::path path;
  Bytes image;
};
BootFile MakeBootFile(const std::filesystem::path& dir, const BoardInfoRecord& record, std::uint32_t seed) {
  Bytes code = test::PseudoRandomBytes(kBootFlashLength, seed);
  const std::string version = "B1.7";
  code[Boot386IntelHexFile::kBootVersionOffset] = static_cast<std::uint8_t>(version.size());
  std::copy(version.begin(), version.end(), code.begin() + Boot386IntelHexFile::kBootVersionOffset + 1);
  BootFile f;
  f.path = dir / ("boot" + std::to_string(seed) + ".FMF");
  test::WriteHexImage(f.path, kBootFlashStart, code);
  Boot386IntelHexFile file(f.path, record);
  EXPECT_EQ(file.OpenFile(), 0);
  EXPECT_EQ(file.AllocateImage(), 0);
  EXPECT_EQ(file.LoadFile(), 0);
  f.image = file.ImageBytes();
  return f;
}

BootReadParams Params(const std::filesystem::path& out, Target target = Target::CpuBoard386) {
  BootReadParams p;
  p.memoryType = target;
  p.start = target == Target::CpuBoard386 ? kBootFlashStart : 0;
  p.length = target == Target::CpuBoard386 ? kBootFlashLength : 256;
  p.path = out.string();
  p.settleMs = 0;
  p.silenceMs = 500;
  return p;
}

// Selects the read-back's target on the box, then reads it back.
ResultCode ReadFrom(test::SimBox& box, BootReadParams p, Events& events, Bytes* buffer = nullptr) {
  EXPECT_EQ(SelectOnPort(box.Port(), p.memoryType, test::kSimulatorSelectWaitMs), '0');
  p.port = &box.Port();
  std::atomic<bool> stop{false};
  return ReadBootImage(p, events, stop, buffer, box.Settle());
}

TEST(BootReadBack, SilentBoxMidwayAndTheVerifyMessage) {
  sim::BoxOptions options;
  options.readStopAfter = 100;
  test::SimBox box(options);
  Events events;
  Bytes buffer;
  // A verify keeps its bytes in memory: an earlier read-back file of the
  // same name is not touched.
  const auto kept = test::MakeTempDir("silent") / "v.txt";
  test::WriteFileBytes(kept, "an earlier read-back");
  BootReadParams p = Params(kept);
  p.toFile = false;
  EXPECT_EQ(ReadFrom(box, p, events, &buffer), '@');
  EXPECT_EQ(test::ReadFileBytes(kept), "an earlier read-back");
  EXPECT_EQ(events.code, '@');
  EXPECT_EQ(buffer.size(), kBootFlashLength);
  test::RecordingOperator op;
  EXPECT_EQ(FinishBootVerify('@', buffer, GoodRecord(), op), '@');
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{boot_text::kReadFailed});
  EXPECT_TRUE(op.filters.empty()) << "no file is asked for after a failed read";
}

// The verify reads the flash into memory (as the read-backs do), then names
// the first byte that differs from the file's image.
TEST(BootVerify, FirstDifferenceAndMissingFile) {
  const auto dir = test::MakeTempDir("verify");
  const BootFile boot = MakeBootFile(dir, GoodRecord(), 9);
  const Bytes& read = boot.image;  // what a whole read of a flash that holds the file gives
  const struct {
    const char* what;
    std::size_t at, count;  // the bytes changed
    const char* address;    // the first that differs
  } cases[] = {
      {"same", 0, 0, nullptr},
      {"the last four bytes", kBootFlashLength - 4, 4, "0x3FFFFFC"},
      {"one byte in the middle", 0x1234, 1, "0x3FFD234"},
  };
  for (const auto& c : cases) {
    Bytes buffer = read;
    for (std::size_t i = c.at; i < c.at + c.count; ++i) buffer[i] ^= 0x10;
    char expected[96] = "Success";
    if (c.address) {
      std::snprintf(expected, sizeof expected, "Failed at address = %s, Data1 = 0x%X, Data2 = 0x%X ",
                    c.address, buffer[c.at], boot.image[c.at]);
    }
    test::RecordingOperator op;
    op.openFile = boot.path.string();
    EXPECT_EQ(FinishBootVerify('0', buffer, GoodRecord(), op), c.address ? 'D' : '0') << c.what;
    EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{expected}) << c.what;
  }
  test::RecordingOperator op;
  EXPECT_EQ(FinishBootVerify('0', Bytes(kBootFlashLength, 0xFF), GoodRecord(), op), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{boot_text::kNeedFile});
  EXPECT_EQ(op.filters, std::vector<std::string>{"Flash Memory File (*.FMF)|*.FMF|"});
}

// (The serials' lines are checked with the box's menu commands.)
TEST(BootProgramming, IncompleteRecordList) {
  BoardInfoRecord badFlash = GoodRecord();
  badFlash.SetFlashIdWord(0, 0x1234);
  badFlash.SetIoRevision('a');
  EXPECT_EQ(IncompleteFieldsText(badFlash),
            std::string(boot_text::kCheckFields) + "1) IO board Revision\r\n2) Flash ID\r\n");
  EXPECT_EQ(IncompleteFieldsText(GoodRecord()), "");
}

// Whatever the record holds, "Program Boot" goes on exactly when the list of
// fields to check is empty: no field stops it unnamed, none is named in vain.
RC_GTEST_PROP(BootProgramming, CompleteExactlyWhenNoFieldIsListed, ()) {
  BoardInfoRecord r = GoodRecord();
  const auto letter = ::rc::gen::element<char>('B', 'C', 'E', 'a', '3', 0);
  r.SetCpuRevision(*letter);
  r.SetIoRevision(*letter);
  using R = BoardInfoRecord;
  for (std::size_t field : {R::kControllerSerial, R::kCpuSerial, R::kIoSerial}) {
    r.bytes[field] = *::rc::gen::element<std::uint8_t>(0, 1, 15, 16);
  }
  if (*::rc::gen::arbitrary<bool>()) r.SetFlashIdWord(0, 0x1234);
  RC_ASSERT(IsBoardInfoComplete(r) == IncompleteFieldsText(r).empty());
}

// A form that types what it is given.
struct TypedForm : SerialRevisionForm {
  std::function<void(SerialRevisionInput&)> type;
  bool Show(SerialRevisionInput& input) override {
    type(input);
    return true;
  }
};

struct Bench : test::BoxBench {
  explicit Bench(sim::BoxOptions options = {}) : BoxBench(std::move(options)) {
    o.box = test::FastBoxTimings(box.Settle());
    o.box.rawReplyEndsWhenWhole = true;  // the simulator answers at once
    o.statusWaitMs = test::kPatientStatusWaitMs;
    o.readSettleMs = 0;
  }
  BootOptions o;
};

TEST(BootProgramming, ImageWithTheBoardsRecordThenReadBackEqualsIt) {
  const auto dir = test::MakeTempDir("bootprog");
  Bench bench;
  test::DirectRunner runner(bench.op);
  TypedForm form;
  form.type = [](SerialRevisionInput& in) {
    in.Field(SerialField::ControllerSerial) = "RQ0042";
    in.Field(SerialField::CpuSerial) = "CPU000000000015";
    in.Field(SerialField::IoSerial) = "IO77";
  };
  BoardInfoRecord expected = bench.box.Device().BoardInfo('C');
  expected.SetSerial(BoardInfoRecord::kControllerSerial, "RQ0042");
  expected.SetSerial(BoardInfoRecord::kCpuSerial, "CPU000000000015");
  expected.SetSerial(BoardInfoRecord::kIoSerial, "IO77");
  const BootFile boot = MakeBootFile(dir, expected, 21);
  bench.op.openFile = boot.path.string();
  const BootProgramOutcome out = ProgramBootFlash(*bench.link, bench.op, runner, form, 0, 0, bench.o);
  ASSERT_EQ(out.code, '0') << ::testing::PrintToString(bench.op.MessageTexts());
  EXPECT_EQ(out.record, expected);
  const auto& flash = bench.box.Device().Boot().Bytes();
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), boot.image.begin()));
  const auto texts = runner.Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Boot Version = B1.7"), texts.end());

  // "Read Flash Boot Image" asks the revision and checks the checksums.
  const auto said = [&](const std::string& text) {
    const auto t = runner.Texts();
    return std::find(t.begin(), t.end(), text) != t.end();
  };
  bench.o.outputPath = (dir / "386 Boot Flash Data.txt").string();
  int asked = 0;
  const auto revision = [&]() -> std::optional<std::string> {
    ++asked;
    return "C";
  };
  EXPECT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 0, revision, bench.o), '0');
  EXPECT_EQ(asked, 1);
  const std::string file = test::ReadFileBytes(bench.o.outputPath);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1024);
  char computed[40];
  std::snprintf(computed, sizeof computed, "Computed Checksum = 0x%04X",
                static_cast<unsigned>(boot.image[16380] | boot.image[16381] << 8 | boot.image[16382] << 16 |
                                      static_cast<unsigned>(boot.image[16383]) << 24));
  EXPECT_TRUE(said(computed));
  EXPECT_TRUE(said("The checksums match: the boot image is whole."));

  // With no file chosen the read goes to its fixed name in the user temp
  // folder, never the working directory, and the dialog names it in full.
  const auto temp = test::MakeTempDir("usertemp");
  bench.op.SetErrorLogFolder(temp.string());
  bench.o.outputPath.clear();
  ASSERT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 'C', nullptr, bench.o), '0');
  const auto inTemp = temp / "386 Boot Flash Data.txt";
  EXPECT_EQ(test::ReadFileBytes(inTemp.string()), file);
  EXPECT_TRUE(said("File saved to " + inTemp.string()));

  // A revision that is not a letter is refused before anything is read.
  bench.op.messages.clear();
  EXPECT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 0, [] { return std::optional<std::string>("3"); }, bench.o),
            'F');
  EXPECT_EQ(bench.op.MessageTexts(), std::vector<std::string>{"Invalid CPU Revision"});
}

TEST(SerialRevisionForm, TheRecordTakesWhatWasTypedOnceConfirmed) {
  sim::BoxOptions options;
  options.cpuRevision = 'E';
  options.serial = "SIM7";
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
  BoxLink link(box.Port(), test::FastBoxTimings(), box.Settle());
  SerialRevisionInput input(link, BoardInfoRecord{});
  input.Open();
  EXPECT_EQ(input.Field(SerialField::ControllerSerial), "SIM7");
  EXPECT_EQ(input.Field(SerialField::CpuRevision), "E");
  input.RevisionTyped(true, "E");
  EXPECT_TRUE(input.FlashIdConfirmed());
  input.RevisionTyped(true, "D");
  input.Field(SerialField::ControllerSerial) = "NEW";
  input.Accept();
  EXPECT_EQ(input.Record().CpuRevision(), 'D');
  EXPECT_EQ(input.Record().Serial(BoardInfoRecord::kControllerSerial), "NEW");
}

}  // namespace
}  // namespace tarnvale
