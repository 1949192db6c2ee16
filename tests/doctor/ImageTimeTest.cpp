// The transfer time of an image: the line's character size, the formula,
// and the stream of a real flash memory file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "core/doctor/ImageTime.h"
#include "core/protocol/Packet.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::doctor {
namespace {
using platform::Parity;
using platform::StopBits;

struct BitsCase {
  std::uint8_t byteSize;
  Parity parity;
  StopBits stop;
  unsigned bits;
};

TEST(ImageTime, BitsPerCharacterCountStartParityAndStop) {
  for (const BitsCase& c : {BitsCase{8, Parity::None, StopBits::One, 10},
                            BitsCase{8, Parity::Odd, StopBits::Two, 12},
                            BitsCase{7, Parity::Mark, StopBits::One, 10},
                            BitsCase{8, Parity::Space, StopBits::OnePointFive, 12}}) {
    EXPECT_EQ(BitsPerCharacter(c.byteSize, c.parity, c.stop), c.bits)
        << int{c.byteSize} << " bits, parity " << int(c.parity) << ", stop " << int(c.stop);
  }
}

struct WireCase {
  std::uint64_t wireBytes;
  std::uint32_t packets;
  unsigned bits;
  std::uint32_t baud;
  std::uint32_t pauseMs;
  double seconds;
};

TEST(ImageTime, WireSecondsFollowTheFormula) {
  for (const WireCase& c : {WireCase{11520, 100, 10, 115200, 0, 1.0}, WireCase{11520, 100, 10, 921600, 0, 0.125},
                            WireCase{9600, 10, 11, 9600, 0, 11.0}, WireCase{1000, 200, 10, 10000, 5, 2.0},
                            WireCase{0, 0, 10, 115200, 0, 0.0}, WireCase{5000, 3, 10, 0, 0, 0.0}}) {
    EXPECT_DOUBLE_EQ(WireSeconds(c.wireBytes, c.packets, c.bits, c.baud, c.pauseMs), c.seconds)
        << c.wireBytes << " bytes, " << c.packets << " packets at " << c.baud;
  }
}

// A flash memory file: every byte of the image that is not blank flash is
// sent, the wire bytes are the data plus six per packet and the framing
// packets' addresses, and the time follows the line settings.
TEST(ImageTime, FlashMemoryFileStream) {
  const auto path = test::MakeTempDir("time") / "app.FMF";
  test::FmfSpec layout;
  layout.codeBytes = 20000;
  const std::vector<std::uint8_t> image = test::WriteFmf(path, layout);
  const auto used = static_cast<std::uint64_t>(std::count_if(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; }));

  ImageTime t;
  FileFailure failure;
  ASSERT_EQ(EstimateImageTime(Target::Controller, path, {115200, 8, Parity::None, StopBits::One}, t, failure),
            rc::kFileOk)
      << failure.reason;
  EXPECT_GE(t.dataBytes, used);
  EXPECT_LE(t.dataBytes, image.size());
  EXPECT_GE(t.wireBytes, t.dataBytes + kPacketOverhead * t.packets);
  EXPECT_LT(t.wireBytes, t.dataBytes + (kPacketOverhead + 4) * t.packets);
  EXPECT_EQ(t.bitsPerCharacter, 10u);
  EXPECT_DOUBLE_EQ(t.seconds, static_cast<double>(t.wireBytes) * 10 / 115200 + t.packets * t.pauseMs / 1000.0);

  // The line's parity is counted (how the rate and the bits scale: the tables above).
  ImageTime parity;
  const LineFormat even{115200, 8, Parity::Even, StopBits::One};
  ASSERT_EQ(EstimateImageTime(Target::Controller, path, even, parity, failure), rc::kFileOk);
  EXPECT_EQ(parity.bitsPerCharacter, 11u);
}

TEST(ImageTime, FilesThatCannotBeReadSayWhy) {
  const auto dir = test::MakeTempDir("time");
  test::HexText broken;
  broken.ExtendedLinear(0x03C0).Data(0, {1, 2, 3}).Raw(":0400000001020304F0").EndOfFile();
  broken.WriteTo(dir / "broken.FMF");
  // Files that never end: refused at once, whichever reader the target has.
  ASSERT_EQ(::mkfifo((dir / "fifo.FMF").c_str(), 0600), 0);
  struct Case {
    Target target;
    std::filesystem::path path;
    ResultCode code;
    std::size_t line;
    std::string reason;  // empty: not checked
  };
  for (const Case& c : {Case{Target::Controller, dir / "missing.FMF", rc::kCantOpenInput, 0, ""},
                        Case{Target::Controller, dir / "broken.FMF", rc::kErrorInHexFile, 3, ""},
                        Case{Target::Box, dir / "broken.FMF", rc::kInvalidHexFile, 0, ""},
                        Case{Target::Pic18F252, dir / "fifo.FMF", rc::kCantOpenInput, 0, "is a FIFO, not a regular file"},
                        Case{Target::Tn835, "/dev/urandom", rc::kCantOpenInput, 0,
                             "is a character device, not a regular file"}}) {
    ImageTime t;
    FileFailure failure;
    EXPECT_EQ(EstimateImageTime(c.target, c.path, {115200}, t, failure), c.code) << c.path;
    EXPECT_EQ(failure.line, c.line) << c.path;
    if (!c.reason.empty()) {
      EXPECT_EQ(failure.reason, c.reason) << c.path;
    }
    EXPECT_EQ(t.packets, 0u);
  }
}

}  // namespace
}  // namespace tarnvale::doctor
