// The boot flash of the CPU board through the box: the read-back lines and
// checksums, programming with the board's identification, verify, blank
// check and erase under NOR rules, and the serial / revision form.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/formats/ProgrammerHexFiles.h"
#include "core/flash/MemoryDump.h"
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
  void OnProgress(std::uint32_t position, std::uint32_t) override { progress.push_back(position); }
  void OnDone(ResultCode c, std::uint32_t n) override {
    code = c;
    next = n;
    ++done;
  }
  void OnComputedChecksum(std::uint32_t v) override { computed = v; }
  void OnImageChecksum(std::uint32_t v) override { stored = v; }
  void OnLine(const std::string& t) override { lines.push_back(t); }
  std::vector<std::uint32_t> progress;
  std::vector<std::string> lines;
  ResultCode code = 0;
  std::uint32_t next = 0;
  int done = 0;
  std::optional<std::uint32_t> computed, stored;
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

BootReadParams Params(CommPort& port, const std::filesystem::path& out, Target target = Target::CpuBoard386) {
  BootReadParams p;
  p.port = &port;
  p.memoryType = target;
  p.start = target == Target::CpuBoard386 ? kBootFlashStart : 0;
  p.length = target == Target::CpuBoard386 ? kBootFlashLength : 256;
  p.path = out.string();
  p.settleMs = 0;
  p.silenceMs = 500;
  return p;
}

std::string ExpectedLine(std::uint32_t address, const std::uint8_t* bytes, std::size_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X  ", address);
  std::string line = buf;
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X ", bytes[i]);
    line += buf;
  }
  return line;
}

TEST(BootReadBack, LinesChecksumsAndTheFile) {
  const auto dir = test::MakeTempDir("bootread");
  const BootFile boot = MakeBootFile(dir, GoodRecord(), 5);
  sim::BoxOptions options;
  options.bootImage = boot.image;
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
  Events events;
  std::atomic<bool> stop{false};
  const auto out = dir / "386 Boot Flash Data.txt";
  ASSERT_EQ(ReadBootImage(Params(box.Port(), out), events, stop, nullptr, box.Settle()), '0');
  ASSERT_EQ(events.lines.size(), 1024u);
  std::string expectedFile;
  for (std::size_t k = 0; k < 1024; ++k) {
    const std::string line = ExpectedLine(kBootFlashStart + 16 * k, boot.image.data() + 16 * k, 16);
    ASSERT_EQ(events.lines[k], line) << k;
    expectedFile += line + "\r\n";
  }
  EXPECT_EQ(test::ReadFileBytes(out), expectedFile);
  Boot386IntelHexFile file(boot.path, GoodRecord());
  ASSERT_EQ(file.OpenFile() | file.AllocateImage() | file.LoadFile(), 0);
  EXPECT_EQ(events.stored, file.ComputeChecksum());
  EXPECT_EQ(events.computed, file.ComputeChecksum());
  EXPECT_EQ(events.done, 1);
  EXPECT_EQ(events.next, kBootFlashEnd + 1);
  EXPECT_EQ(events.progress.back(), 100u);
}

TEST(BootReadBack, AnyRecordSizeGivesLinesOfSixteen) {
  // The PIC18F252 EEPROM (256 bytes, erased) in records of several sizes;
  // a record that ends inside a line has its bytes listed, not lost.
  const struct {
    std::uint32_t recordSize;
    std::vector<std::size_t> lineLengths;  // bytes per line
  } cases[] = {
      {16, std::vector<std::size_t>(16, 16)},
      {32, std::vector<std::size_t>(16, 16)},
      {48, std::vector<std::size_t>(16, 16)},
      {20, {}},
  };
  for (const auto& c : cases) {
    sim::BoxOptions options;
    options.recordSize = c.recordSize;
    test::SimBox box(options);
    ASSERT_EQ(SelectOnPort(box.Port(), Target::Pic18F252, test::kSimulatorSelectWaitMs), '0');
    Events events;
    std::atomic<bool> stop{false};
    const auto dir = test::MakeTempDir("eeprom");
    ASSERT_EQ(ReadBootImage(Params(box.Port(), dir / "e.txt", Target::Pic18F252), events, stop, nullptr, box.Settle()), '0') << c.recordSize;
    std::vector<std::size_t> lengths;
    std::size_t bytes = 0;
    for (const auto& line : events.lines) {
      lengths.push_back((line.size() - 12) / 3);
      bytes += lengths.back();
    }
    EXPECT_EQ(bytes, 256u) << c.recordSize;
    if (!c.lineLengths.empty()) {
      EXPECT_EQ(lengths, c.lineLengths) << c.recordSize;
    }
    if (c.recordSize == 20) {
      // 20 = 16 + 4: each record gives a whole line and a partial one.
      EXPECT_EQ(lengths.at(0), 16u);
      EXPECT_EQ(lengths.at(1), 4u);
      EXPECT_EQ(events.lines.at(1).substr(0, 12), "0x00000010  ");
    }
  }
}

TEST(BootReadBack, SilentBoxMidwayAndTheVerifyMessage) {
  sim::BoxOptions options;
  options.readStopAfter = 100;
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
  Events events;
  std::atomic<bool> stop{false};
  Bytes buffer;
  // A verify keeps its bytes in memory: an earlier read-back file of the
  // same name is not touched.
  const auto kept = test::MakeTempDir("silent") / "v.txt";
  test::WriteFileBytes(kept, "an earlier read-back");
  BootReadParams p = Params(box.Port(), kept);
  p.toFile = false;
  EXPECT_EQ(ReadBootImage(p, events, stop, &buffer, box.Settle()), '@');
  EXPECT_EQ(test::ReadFileBytes(kept), "an earlier read-back");
  EXPECT_FALSE(std::filesystem::exists(PartialDumpPath(kept.string())));
  EXPECT_EQ(events.code, '@');
  EXPECT_EQ(events.next, kBootFlashStart + 100 * 32);
  EXPECT_TRUE(events.lines.empty());
  EXPECT_EQ(buffer.size(), kBootFlashLength);
  test::RecordingOperator op;
  EXPECT_EQ(FinishBootVerify('@', buffer, GoodRecord(), op), '@');
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{boot_text::kReadFailed});
  EXPECT_TRUE(op.filters.empty()) << "no file is asked for after a failed read";
}

TEST(BootVerify, FirstDifferenceAndMissingFile) {
  const auto dir = test::MakeTempDir("verify");
  const BootFile boot = MakeBootFile(dir, GoodRecord(), 9);
  const struct {
    const char* what;
    std::function<void(Bytes&)> change;
    ResultCode code;
    std::string message;
  } cases[] = {
      {"same", [](Bytes&) {}, '0', "Success"},
      {"last four bytes differ",
       [](Bytes& b) {
         for (std::size_t i = kBootFlashLength - 4; i < kBootFlashLength; ++i) b[i] = static_cast<std::uint8_t>(~b[i]);
       },
       'D', ""},
      {"one byte in the middle", [](Bytes& b) { b[0x1234] = static_cast<std::uint8_t>(b[0x1234] ^ 0x10); }, 'D',
       ""},
  };
  for (const auto& c : cases) {
    sim::BoxOptions options;
    options.bootImage = boot.image;
    c.change(options.bootImage);
    test::SimBox box(options);
    ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
    Events events;
    std::atomic<bool> stop{false};
    Bytes buffer;
    BootReadParams p = Params(box.Port(), dir / "v.txt");
    p.toFile = false;
    const ResultCode read = ReadBootImage(p, events, stop, &buffer, box.Settle());
    ASSERT_EQ(read, '0') << c.what;
    EXPECT_EQ(buffer, options.bootImage) << c.what;
    test::RecordingOperator op;
    op.openFile = boot.path.string();
    EXPECT_EQ(FinishBootVerify(read, buffer, GoodRecord(), op), c.code) << c.what;
    ASSERT_EQ(op.messages.size(), 1u) << c.what;
    if (c.code == '0') {
      EXPECT_EQ(op.messages[0].text, c.message);
    } else {
      const std::size_t at = std::mismatch(buffer.begin(), buffer.end(), boot.image.begin()).first - buffer.begin();
      char text[96];
      std::snprintf(text, sizeof text, "Failed at address = 0x%X, Data1 = 0x%X, Data2 = 0x%X ",
                    static_cast<unsigned>(kBootFlashStart + at), buffer[at], boot.image[at]);
      EXPECT_EQ(op.messages[0].text, text) << c.what;
      if (std::string(c.what) == "last four bytes differ") {
        EXPECT_EQ(kBootFlashStart + at, 0x3FFFFFCu);
      }
    }
  }
  test::RecordingOperator op;
  EXPECT_EQ(FinishBootVerify('0', Bytes(kBootFlashLength, 0xFF), GoodRecord(), op), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{boot_text::kNeedFile});
  EXPECT_EQ(op.filters, std::vector<std::string>{"Flash Memory File (*.FMF)|*.FMF|"});
}

TEST(BootFlashChip, NorRulesThroughTheBox) {
  sim::BoxOptions options;
  options.bootImage = Bytes(kBootFlashLength, 0xFF);
  options.bootImage[100] = 0x7F;
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
  test::RecordingOperator op;
  EXPECT_EQ(BlankCheckOrErase(box.Port(), op, false, 10000), 'C');
  EXPECT_EQ(BlankCheckOrErase(box.Port(), op, true, 10000), '0');
  EXPECT_EQ(BlankCheckOrErase(box.Port(), op, false, 10000), '0');
  EXPECT_EQ(op.MessageTexts(),
            (std::vector<std::string>{"Memory is not blank", "Success", "Flash Memory is Blank"}));
  // Programming clears bits only: 0x0F over 0xF0 leaves 0x00 and is refused.
  const auto write = [&](std::uint8_t value) {
    const std::array<std::uint8_t, 2> high = {0x03, 0xFF};
    box.Port().Write(BuildPacket(2, 0, 0x04, high));
    EXPECT_EQ(WaitStatusByte(box.Port(), 1000, box.Settle()), '0');
    const std::array<std::uint8_t, 1> data = {value};
    box.Port().Write(BuildPacket(1, 0xC000, 0x00, data));
    return WaitStatusByte(box.Port(), 1000, box.Settle());
  };
  EXPECT_EQ(write(0xF0), '0');
  EXPECT_EQ(write(0x0F), '4');
  EXPECT_EQ(box.Device().Boot().At(0), 0x00);
}

TEST(BootProgramming, IncompleteRecordList) {
  BoardInfoRecord noSerials = GoodRecord();
  for (std::size_t at : {BoardInfoRecord::kControllerSerial, BoardInfoRecord::kCpuSerial, BoardInfoRecord::kIoSerial}) {
    noSerials.SetSerial(at, "");
  }
  BoardInfoRecord badFlash = GoodRecord();
  badFlash.SetFlashIdWord(0, 0x1234);
  badFlash.SetIoRevision('a');
  const std::string head = boot_text::kCheckFields;
  EXPECT_EQ(IncompleteFieldsText(noSerials),
            head + "1) Controller Serial Number\r\n2) CPU board Serial Number\r\n3) IO Serial Number\r\n");
  EXPECT_EQ(IncompleteFieldsText(badFlash), head + "1) IO board Revision\r\n2) Flash ID\r\n");
  EXPECT_EQ(IncompleteFieldsText(GoodRecord()), "");
}

// A form that types what it is given.
struct TypedForm : SerialRevisionForm {
  std::function<void(SerialRevisionInput&)> type;
  bool ok = true;
  int shown = 0;
  bool Show(SerialRevisionInput& input) override {
    ++shown;
    if (type) type(input);
    return ok;
  }
};

struct Bench : test::BoxBench {
  explicit Bench(sim::BoxOptions options = {}) : BoxBench(std::move(options)) {
    o.box = test::FastBoxTimings(box.Settle());
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
  // The record's fields sit at their offsets, the checksum last.
  EXPECT_EQ(flash[Boot386IntelHexFile::kCpuSerialOffset], 15);
  EXPECT_EQ(std::string(flash.begin() + Boot386IntelHexFile::kCpuSerialOffset + 1,
                        flash.begin() + Boot386IntelHexFile::kCpuSerialOffset + 16),
            "CPU000000000015");
  EXPECT_EQ(flash[Boot386IntelHexFile::kControllerSerialOffset], 6);
  EXPECT_EQ(flash[Boot386IntelHexFile::kCpuRevisionOffset], 'C');
  EXPECT_EQ(flash[Boot386IntelHexFile::kIoRevisionOffset], 'B');
  const auto texts = runner.Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Boot Version = B1.7"), texts.end());

  // "Read Flash Boot Image" asks the revision and writes the text file.
  bench.o.outputPath = (dir / "386 Boot Flash Data.txt").string();
  int asked = 0;
  EXPECT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 0,
                          [&]() -> std::optional<std::string> {
                            ++asked;
                            return "C";
                          },
                          bench.o),
            '0');
  EXPECT_EQ(asked, 1);
  const std::string file = test::ReadFileBytes(bench.o.outputPath);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1024);
  EXPECT_EQ(file.substr(file.size() - 62, 12), "0x03FFFFF0  ");
  const auto after = runner.Texts();
  char computed[40];
  std::snprintf(computed, sizeof computed, "Computed Checksum = 0x%04X",
                static_cast<unsigned>(boot.image[16380] | boot.image[16381] << 8 | boot.image[16382] << 16 |
                                      static_cast<unsigned>(boot.image[16383]) << 24));
  EXPECT_NE(std::find(after.begin(), after.end(), computed), after.end());
  const auto said = [&](const std::string& text) {
    const auto t = runner.Texts();
    return std::find(t.begin(), t.end(), text) != t.end();
  };
  EXPECT_TRUE(said("The checksums match: the boot image is whole."));

  // With no file chosen the read goes to its fixed name in the user temp
  // folder, never the working directory, and the dialog names it in full;
  // an erased flash gets its verdict.
  const auto temp = test::MakeTempDir("usertemp");
  bench.op.SetErrorLogFolder(temp.string());
  bench.o.outputPath.clear();
  {
    CommandBracket bracket(*bench.link);
    ASSERT_EQ(bench.link->SelectTarget(Target::CpuBoard386), '0');
    ASSERT_EQ(BlankCheckOrErase(*bench.link->ProgrammerPort(), bench.op, true, 5000), '0');
  }
  ASSERT_TRUE(bench.box.Device().Boot().Blank());
  ASSERT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 'C', nullptr, bench.o), '0');
  const auto inTemp = temp / "386 Boot Flash Data.txt";
  const std::string erased = test::ReadFileBytes(inTemp.string());
  EXPECT_EQ(std::count(erased.begin(), erased.end(), '\n'), 1024);
  EXPECT_TRUE(said("File saved to " + inTemp.string()));
  EXPECT_TRUE(said("The checksums do not match: the boot image is damaged or incomplete (the flash reads as erased)."));

  // A revision that is not a letter is refused before anything is read.
  bench.op.messages.clear();
  EXPECT_EQ(ReadBootFlash(*bench.link, bench.op, runner, 0, [] { return std::optional<std::string>("3"); }, bench.o),
            'F');
  EXPECT_EQ(bench.op.MessageTexts(), std::vector<std::string>{"Invalid CPU Revision"});
}

TEST(BootProgramming, RefusalsBeforeTheRun) {
  sim::BoxOptions noJtag;
  noJtag.noJtag = true;
  sim::BoxOptions otherJtag;
  otherJtag.jtagId = 0x1234;
  const struct {
    const char* what;
    sim::BoxOptions options;
    bool portOpens;
    bool cancel;
    std::string message;
    bool formShown;
  } cases[] = {
      {"no box", {}, false, false, box_text::kBoxUnreachable, false},
      {"no JTAG ID", noJtag, true, false, box_text::kJtagCableAdvice, false},
      {"wrong JTAG ID", otherJtag, true, false, "Invalid JTAG ID 0x1234, should read 0x28270013 for 80386EX CPU",
       false},
      {"cancelled form", {}, true, true, "", true},
      {"empty serials", {}, true, false,
       std::string(boot_text::kCheckFields) + "1) Controller Serial Number\r\n2) CPU board Serial Number\r\n3) IO "
                                              "Serial Number\r\n",
       true},
  };
  for (const auto& c : cases) {
    Bench bench(c.options);
    if (!c.portOpens) bench.settings.SetAuxCOMPort("/nonexistent/box");
    test::DirectRunner runner(bench.op);
    TypedForm form;
    form.ok = !c.cancel;
    form.type = [](SerialRevisionInput& in) {
      in.Field(SerialField::ControllerSerial).clear();
      in.Field(SerialField::CpuSerial).clear();
      in.Field(SerialField::IoSerial).clear();
    };
    const BootProgramOutcome out = ProgramBootFlash(*bench.link, bench.op, runner, form, 0, 0, bench.o);
    EXPECT_NE(out.code, '0') << c.what;
    EXPECT_EQ(runner.programmingRuns, 0) << c.what;
    EXPECT_EQ(form.shown, c.formShown ? 1 : 0) << c.what;
    auto texts = bench.op.MessageTexts();
    if (!texts.empty() && texts[0].rfind("Error in Opening", 0) == 0) texts.erase(texts.begin());
    EXPECT_EQ(texts, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message})
        << c.what;
  }
}

TEST(SerialRevisionForm, RevisionTypedExchangesOnceAndOnlyWhenConfirmed) {
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
  const std::uint32_t before = box.Device().Packets();
  input.RevisionTyped(true, "E");
  EXPECT_TRUE(input.FlashIdConfirmed());
  EXPECT_EQ(box.Device().Packets(), before + 1);
  input.RevisionTyped(true, "D");
  EXPECT_EQ(box.Device().Packets(), before + 1) << "confirmed: no second exchange";
  input.Field(SerialField::ControllerSerial) = "NEW";
  input.Accept();
  EXPECT_EQ(input.Record().CpuRevision(), 'D');
  EXPECT_EQ(input.Record().Serial(BoardInfoRecord::kControllerSerial), "NEW");
}

}  // namespace
}  // namespace tarnvale
