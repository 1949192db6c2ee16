// The PIC18F252 and dsPIC30F commands: the device ID rules, and every menu
// command against the simulated box on a pty.
#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

#include "core/programmer/BootFlash.h"
#include "core/programmer/PicCommands.h"
#include "support/SimBox.h"
#include "sim/PicDevices.h"
#include "support/DirectRunner.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Reply(const Bytes& data) {
  const Packet p = BuildPacket(static_cast<std::uint8_t>(data.size()), 0, box_type::kReadId, data);
  return Bytes(p.begin(), p.end());
}

TEST(DeviceId, RepliesAndWhatTheyGive) {
  Bytes badSum = Reply({0x84, 0, 4, 0});
  badSum.back() ^= 1;
  const struct {
    const char* what;
    Bytes reply;
    int target;
    bool ok;
    std::uint32_t a, b;
    std::string first, second;
  } cases[] = {
      {"PIC18F252 revision 4", Reply({0x84, 0x00, 0x04, 0x00}), 2, true, 4, 0x24, "04", "24"},
      {"dsPIC30F", Reply({0xC0, 0x01, 0x01, 0x10}), 3, true, 0x1001, 0x01C0, "1001", "01C0"},
      {"count 2", Reply({0xC0, 0x01}), 3, true, 0xFFFFFFFF, 0xFFFFFFFF, "N/A", "N/A"},
      {"four zero bytes", Reply({0, 0, 0, 0}), 2, true, 0xFFFFFFFF, 0xFFFFFFFF, "N/A", "N/A"},
      {"bad checksum", badSum, 2, false, 0xFFFFFFFF, 0xFFFFFFFF, "N/A", "N/A"},
      {"nothing", {}, 2, false, 0xFFFFFFFF, 0xFFFFFFFF, "N/A", "N/A"},
  };
  for (const auto& c : cases) {
    DeviceIdInfo info;
    info.first = "stale";
    EXPECT_EQ(DeviceIdFromReply(c.reply, *TargetFromNumber(c.target), info), c.ok) << c.what;
    EXPECT_EQ(info.a, c.a) << c.what;
    EXPECT_EQ(info.b, c.b) << c.what;
    EXPECT_EQ(info.first, c.first) << c.what;
    EXPECT_EQ(info.second, c.second) << c.what;
  }
}

// A link whose programmer port is the simulated box.
struct Bench : test::BoxBench {
  explicit Bench(sim::BoxOptions options = {}) : BoxBench(std::move(options)) {
    o.box = test::FastBoxTimings(box.Settle());
    o.box.rawReplyEndsWhenWhole = true;  // the simulator answers at once
    o.statusWaitMs = test::kPatientStatusWaitMs;
    o.recordSilenceMs = test::kPatientStatusWaitMs;
  }
  PicOptions o;
};

// (What each menu command says on a good and a faulty box is in the box's
// menu command table.)
// A stray '@' behind the answer to the target selection is read as the
// next exchange's status: the code stays '@', but the words say the device
// sent it, not that the wait ran out.
TEST(PicMenuCommands, AStrayAtSignIsNotAWaitThatRanOut) {
  sim::BoxOptions stray;
  stray.faults.push_back({sim::Fault::Kind::Stray, 1, '@'});
  Bench bench(stray);
  EXPECT_EQ(PicBlankCheck(*bench.link, bench.op, Target::Pic18F252, bench.o), rc::kTimeout);
  const auto texts = bench.op.MessageTexts();
  ASSERT_EQ(texts.size(), 1u);
  const std::string head = "Timeout while waiting for a response (the device answered '@' after ";
  EXPECT_EQ(texts[0].rfind(head, 0), 0u) << texts[0];
  EXPECT_TRUE(texts[0].ends_with(" s allowed; not a wait of this program that ran out)")) << texts[0];
}

// The serial / revision form accepted as the board filled it.
struct AcceptedForm : SerialRevisionForm {
  bool Show(SerialRevisionInput&) override { return true; }
};

// "Flash PIC18F252" and "Flash PIC30F" leave the chip holding the file's
// image. Then, with "Program Boot", as the GUI runs them (the programming
// dialog's model): a file that cannot be read whole is refused by name and
// reason before the erase, and what the chips and the boot flash held
// before is still there.
TEST(PicProgramming, ChipMemoryEqualsTheHexImageAndAFileNotWholeErasesNothing) {
  const auto dir = test::MakeTempDir("pic");
  const Bytes image = test::PseudoRandomBytes(0x8000, 11);
  const Bytes config = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
  sim::BoxOptions options;
  options.bootImage = test::PseudoRandomBytes(16384, 8);
  Bench bench(options);
  test::NoSleepClock clock;
  test::DirectRunner runner(bench.op, clock);
  for (const Target t : {Target::Pic18F252, Target::DsPic30F}) {
    std::string text = test::HexImageText(0, image);
    // Configuration bytes after the program memory, before the end record.
    // The dsPIC30F's configuration words come one record each: a record
    // there gives its first two bytes only.
    test::HexText cfg;
    Bytes expectedConfig = config;
    if (t == Target::Pic18F252) {
      cfg.ExtendedLinear(0x0030).Data(0, config).EndOfFile();
    } else {
      cfg.ExtendedLinear(0x01F0).Data(0, {0x11, 0x22, 0x33}).Data(0x10, {0x55, 0x66}).EndOfFile();
      expectedConfig.assign(14, 0xFF);
      expectedConfig[0] = 0x11;
      expectedConfig[1] = 0x22;
      expectedConfig[8] = 0x55;
      expectedConfig[9] = 0x66;
    }
    text = text.substr(0, text.rfind(":00000001FF")) + cfg.Text();
    const auto path = dir / (t == Target::Pic18F252 ? "a18.HEX" : "a30.HEX");
    test::WriteFileBytes(path, text);
    bench.op.openFile = path.string();
    const ResultCode code = t == Target::Pic18F252 ? FlashPic18F252(*bench.link, bench.op, runner, bench.o)
                                   : FlashDsPic30F(*bench.link, bench.op, runner, bench.o);
    ASSERT_EQ(code, '0') << Info(t).cliName;
    const sim::PicChip& chip = t == Target::Pic18F252 ? static_cast<const sim::PicChip&>(bench.box.Device().Pic18())
                                      : bench.box.Device().Pic30();
    EXPECT_TRUE(chip.Program() == image) << Info(t).cliName;
    EXPECT_EQ(Bytes(chip.Config().begin(), chip.Config().end()), expectedConfig) << Info(t).cliName;
  }

  std::string damaged = test::ReadFileBytes(dir / "a18.HEX");
  std::size_t third = 0;
  for (int line = 0; line < 3; ++line) third = damaged.find("\r\n", third) + 2;
  damaged[third - 3] = damaged[third - 3] == '0' ? '1' : '0';  // the third record's checksum
  test::WriteFileBytes(dir / "BAD.HEX", damaged);
  const std::string fifo = (dir / "FIFO.HEX").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    ResultCode code;
    std::string said;
  } files[] = {
      {(dir / "BAD.HEX").string(), rc::kErrorInHexFile, ":3: Error in Hex File ("},
      {fifo, rc::kCantOpenInput, ": Can't Open Input File (is a FIFO, not a regular file)"},
  };
  AcceptedForm form;
  BootOptions boot;
  boot.box = bench.o.box;
  const struct {
    const char* what;
    std::function<ResultCode()> run;
  } workflows[] = {
      {"Flash PIC18F252", [&] { return FlashPic18F252(*bench.link, bench.op, runner, bench.o); }},
      {"Flash dsPIC30F", [&] { return FlashDsPic30F(*bench.link, bench.op, runner, bench.o); }},
      {"Program Boot", [&] { return ProgramBootFlash(*bench.link, bench.op, runner, form, 0, 0, boot).code; }},
  };
  for (const auto& w : workflows) {
    for (const auto& f : files) {
      SCOPED_TRACE(std::string(w.what) + " " + f.path);
      bench.op.messages.clear();
      bench.op.openFile = f.path;
      EXPECT_EQ(w.run(), f.code);
      const std::vector<std::string> texts = bench.op.MessageTexts();
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.back().rfind(f.path + f.said, 0), 0u) << texts.back();
      EXPECT_TRUE(texts.back().ends_with("; nothing was erased or programmed")) << texts.back();
    }
  }
  EXPECT_TRUE(bench.box.Device().Pic18().Program() == image);
  EXPECT_TRUE(bench.box.Device().Pic30().Program() == image);
  const auto& flash = bench.box.Device().Boot().Bytes();
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), options.bootImage.begin()));
}

// A read-back whose text file cannot be written names the file in full with
// the reason. (Every box read-back writes its file through the same reader.)
TEST(BoxReadBacks, AFileThatWillNotOpenIsNamedWithItsReason) {
  Bench bench;
  const auto missing = test::MakeTempDir("unwritable") / "no such folder";
  bench.o.outputPath = (missing / "PIC18F252 EEPROM Data.txt").string();
  test::DirectRunner runner(bench.op);
  EXPECT_EQ(ReadPicEeprom(*bench.link, bench.op, runner, Target::Pic18F252, bench.o), rc::kCantOpenOutput);
  const auto texts = runner.Texts();
  ASSERT_FALSE(texts.empty());
  const std::string head = bench.o.outputPath + ": Can't Open Output File (";
  EXPECT_EQ(texts.back().rfind(head, 0), 0u) << texts.back();
  EXPECT_GT(texts.back().size(), head.size() + 1) << "the reason follows";
}

// The EEPROM read-back: file lines whatever the box's record size.
TEST(PicEepromRead, SixteenLinesOfSixteenBytes) {
  for (const std::uint32_t recordSize : {16u, 32u, 64u}) {
    sim::BoxOptions options;
    options.recordSize = recordSize;
    Bench bench(options);
    bench.o.seed = 0x0101;
    ASSERT_EQ(LoadPic18EepromData(*bench.link, bench.op, bench.o), '0');
    const auto dir = test::MakeTempDir("eeprom");
    bench.o.outputPath = (dir / "PIC18F252 EEPROM Data.txt").string();
    test::DirectRunner runner(bench.op);
    ASSERT_EQ(ReadPicEeprom(*bench.link, bench.op, runner, Target::Pic18F252, bench.o), '0') << recordSize;
    const std::string file = test::ReadFileBytes(bench.o.outputPath);
    const Bytes pattern = sim::EepromPattern(0x0101, 256);
    std::string expected;
    for (int line = 0; line < 16; ++line) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08X  ", line * 16);
      expected += buf;
      for (int i = 0; i < 16; ++i) {
        std::snprintf(buf, sizeof buf, "%02X ", pattern[static_cast<std::size_t>(line * 16 + i)]);
        expected += buf;
      }
      expected += "\r\n";
    }
    EXPECT_EQ(file, expected) << recordSize;
    // Every line also goes to the list, and then where the file went.
    ASSERT_EQ(runner.Texts().size(), 17u);
    EXPECT_EQ(runner.Texts().back(), "File saved to " + bench.o.outputPath);
  }
  // The dsPIC30F's EEPROM at 0x7FFC00: 64 lines, the first at its address.
  Bench bench;
  const auto dir = test::MakeTempDir("eeprom30");
  bench.o.outputPath = (dir / "PIC30FXXXX EEPROM Data.txt").string();
  test::DirectRunner runner(bench.op);
  ASSERT_EQ(ReadPicEeprom(*bench.link, bench.op, runner, Target::DsPic30F, bench.o), '0');
  const std::string file = test::ReadFileBytes(bench.o.outputPath);
  EXPECT_EQ(file.rfind("0x007FFC00  FF FF ", 0), 0u) << file.substr(0, 40);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 64);
}

}  // namespace
}  // namespace tarnvale
