// The CLI against the simulated controller, over a pseudo-terminal and over
// loopback TCP: flashing, loading and dumping, with the simulator's own record
// of what it received.
#include <gtest/gtest.h>

#include <termios.h>

#include <cstring>
#include <regex>

#include "e2e/Processes.h"
#include "flash/ProgrammingEngine.h"
#include "link/CommPort.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

constexpr std::uint32_t kBootArea = 0x03FFC000;

std::vector<std::string> Cli(std::initializer_list<std::string> args) {
  std::vector<std::string> v{TARNVALE_CLI_PATH};
  v.insert(v.end(), args);
  return v;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream s(text);
  for (std::string l; std::getline(s, l);) out.push_back(l);
  return out;
}

// Packets the simulator logged, as (type, page, offset, awaiting).
struct LoggedPacket {
  unsigned type, page, offset, awaiting;
};
std::vector<LoggedPacket> Packets(const std::string& log) {
  std::vector<LoggedPacket> v;
  const std::regex re(R"(packet type=([0-9A-F]{2}) page=([0-9A-F]{4}) offset=([0-9A-F]{4}) count=\d+ awaiting=(\d+))");
  for (const auto& l : Lines(log)) {
    std::smatch m;
    if (std::regex_search(l, m, re)) {
      v.push_back({static_cast<unsigned>(std::stoul(m[1], nullptr, 16)),
                   static_cast<unsigned>(std::stoul(m[2], nullptr, 16)),
                   static_cast<unsigned>(std::stoul(m[3], nullptr, 16)),
                   static_cast<unsigned>(std::stoul(m[4]))});
    }
  }
  return v;
}

class EndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { dir_ = MakeTempDir("e2e"); }
  std::vector<std::string> SimArgs(std::vector<std::string> extra) const {
    std::vector<std::string> a{GetParam() ? "--tcp" : "--pty"};
    if (GetParam()) a.push_back("127.0.0.1:0");
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
  std::filesystem::path dir_;
};

TEST_P(EndToEnd, EndpointLineNamesTheTransport) {
  SimProcess sim(SimArgs({}), dir_);
  if (GetParam()) {
    EXPECT_TRUE(std::regex_match(sim.EndpointLine(), std::regex(R"(tcp 127\.0\.0\.1:[1-9]\d*)")));
  } else {
    EXPECT_TRUE(std::regex_match(sim.EndpointLine(), std::regex(R"(pty /dev/pts/\d+)")));
  }
  EXPECT_EQ(sim.Stop(), 0);  // SIGTERM ends it cleanly
}

// Flashing each generation leaves the file's image in the simulator's flash
// (below the protected boot area), and the stream had the expected shape.
TEST_P(EndToEnd, FlashesEveryGenerationByteForByte) {
  for (const int generation : {3, 4, 5}) {
    SCOPED_TRACE(generation);
    FmfSpec recipe;
    recipe.generation = generation;
    recipe.version = "5.01.00";
    recipe.codeBytes = 6000;
    recipe.seed = static_cast<std::uint32_t>(generation);
    const auto fmf = dir_ / ("g" + std::to_string(generation) + ".FMF");
    const std::vector<std::uint8_t> image = WriteFmf(fmf, recipe);
    const auto flashOut = dir_ / "flash.bin";
    const auto log = dir_ / "sim.log";
    {
      SimProcess sim(SimArgs({"--erase-ms", "50", "--ack-delay-ms", "1", "--log", log.string(),
                              "--save-flash", flashOut.string()}),
                     dir_);
      const RunResult r = RunCommand(Cli({"flash", fmf.string(), "--port", sim.Port(), "--yes"}), dir_);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_NE(r.out.find("Success"), std::string::npos);
      EXPECT_NE(r.err.find("No Application in Memory"), std::string::npos);  // fresh flash
      EXPECT_EQ(sim.Stop(), 0);
    }
    const std::string flash = Slurp(flashOut);
    const std::uint32_t flashBase = 0x03800000;
    ASSERT_EQ(flash.size(), 0x04000000u - flashBase);
    const std::uint32_t rom = FmfRomStart(generation);
    // Below the ROM start the erase left blank flash; from it the image.
    const std::size_t romOffset = rom - flashBase;
    EXPECT_EQ(flash.find_first_not_of('\xFF'), romOffset + static_cast<std::size_t>(
        std::find_if(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; }) - image.begin()));
    const std::size_t compared = kBootArea - rom;
    EXPECT_EQ(std::memcmp(flash.data() + romOffset, image.data(), compared), 0);

    const std::vector<LoggedPacket> packets = Packets(Slurp(log));
    std::size_t erase = packets.size();
    for (std::size_t i = 0; i < packets.size(); ++i) {
      if (packets[i].type == 0x06) {
        erase = i;
        break;
      }
    }
    ASSERT_LT(erase, packets.size());
    for (std::size_t i = erase + 1; i < packets.size(); ++i) {
      EXPECT_NE(packets[i].type, 0x05u) << "flash programming sends no start address";
      EXPECT_NE(packets[i].type, 0x06u);
      EXPECT_LE(packets[i].awaiting, 3u) << "packet " << i;
    }
    // The erase came before any program data.
    for (std::size_t i = 0; i < erase; ++i) EXPECT_NE(packets[i].type, 0x00u);
    EXPECT_EQ(packets.back().type, 0x01u);
  }
}

TEST_P(EndToEnd, DumpMatchesTheFileAsObjcopySeesIt) {
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.codeBytes = 3000;
  const auto fmf = dir_ / "d.FMF";
  WriteFmf(fmf, recipe);
  const std::uint32_t rom = FmfRomStart(4);
  // objcopy makes the binary from the first to the last data byte; gaps 0xFF.
  const auto ref = dir_ / "ref.bin";
  const std::string cmd = "objcopy -I ihex -O binary --gap-fill 0xFF '" + fmf.string() + "' '" +
                          ref.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string expected = Slurp(ref);
  ASSERT_GT(expected.size(), 0x3F0000u);

  SimProcess sim(SimArgs({"--image", fmf.string(), "--range", "03C00000:03FFFFFF"}), dir_);
  const auto bin = dir_ / "out.Bin";
  const RunResult r = RunCommand(Cli({"dump", bin.string(), "--port", sim.Port()}), dir_);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Memory Dump Completed Successfully!"), std::string::npos);
  EXPECT_NE(r.out.find("File saved to " + bin.string()), std::string::npos);
  std::ifstream in(bin, std::ios::binary);
  std::string head(200, '\0');
  in.read(head.data(), 200);
  EXPECT_EQ(head.rfind("Extra data inserted in file to make searching easier. Memory Starts at "
                       "Address 0x3C00000",
                       0),
            0u);
  in.seekg(rom);
  std::string memory(expected.size(), '\0');
  in.read(memory.data(), static_cast<std::streamsize>(memory.size()));
  EXPECT_EQ(memory, expected);
  // The end address itself is not read: the file ends one byte short of it
  // or at it, never beyond.
  EXPECT_LE(std::filesystem::file_size(bin), 0x04000000u);
}

TEST_P(EndToEnd, DumpAcrossAPageBoundarySetsThePageFirst) {
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.codeBytes = 0x12000;  // code on both sides of 0x03C10000
  recipe.gapEvery = 0;
  const auto fmf = dir_ / "p.FMF";
  const std::vector<std::uint8_t> image = WriteFmf(fmf, recipe);
  const auto log = dir_ / "sim.log";
  SimProcess sim(SimArgs({"--image", fmf.string(), "--range", "03C0FF00:03C100FF", "--log",
                          log.string()}),
                 dir_);
  const auto bin = dir_ / "page.Bin";
  const RunResult r = RunCommand(Cli({"dump", bin.string(), "--port", sim.Port()}), dir_);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string file = Slurp(bin);
  ASSERT_GE(file.size(), 0x03C100FFu);
  EXPECT_EQ(file.substr(0x03C0FF00, 0x1FF),
            std::string(image.begin() + 0xFF00, image.begin() + 0xFF00 + 0x1FF));
  bool pageSet = false;
  for (const LoggedPacket& p : Packets(Slurp(log))) {
    if (p.type == 0x04 && p.page == 0x03C0) pageSet = true;  // the request that moves to 03C1
    if (p.type == 0x11 && p.page == 0x03C1) {
      EXPECT_TRUE(pageSet);
    }
    if (p.type == 0x11) {
      EXPECT_FALSE(p.page == 0x03C0 && p.offset < 0xFF00);
    }
  }
  EXPECT_TRUE(pageSet);
}

TEST_P(EndToEnd, DumpNotFromZeroIsPaddedAfterTheText) {
  SimProcess sim(SimArgs({"--range", "00002000:0000203F"}), dir_);
  const auto bin = dir_ / "ram.Bin";
  const RunResult r = RunCommand(Cli({"dump", bin.string(), "--port", sim.Port(), "--progress", "json"}), dir_);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string file = Slurp(bin);
  const std::string text = "Extra data inserted in file to make searching easier. Memory Starts at Address 0x2000";
  ASSERT_GE(file.size(), 0x2000u + 0x3F);
  EXPECT_EQ(file.substr(0, text.size()), text);
  // Zero padding up to 0x2000, then the 64 bytes of (zeroed) RAM; nothing more.
  EXPECT_EQ(file.find_first_not_of('\0', text.size()), std::string::npos);
  EXPECT_EQ(file.size(), 0x2040u);
  // JSON events: range and step once, progress, done with '0' and the last progress.
  const auto lines = Lines(r.out);
  EXPECT_NE(r.out.find("{\"event\":\"range\",\"upper\":1000}"), std::string::npos);
  EXPECT_NE(r.out.find("{\"event\":\"done\",\"code\":48"), std::string::npos);
  EXPECT_NE(r.out.find("{\"event\":\"progress\",\"position\":1000"), std::string::npos);
}

// A program run is refused by the controller: the CLI reports the code's text
// and fails.
TEST_P(EndToEnd, FaultsEndTheRunWithTheirMessages) {
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.version = "5.01.00";
  const auto fmf = dir_ / "f.FMF";
  WriteFmf(fmf, recipe);
  struct Case {
    std::string fault;
    int exit;
    std::string text;
  };
  const std::vector<Case> cases{
      {"ack:10=D", 1, "Data Mis-match"},
      {"erase:H", 1, "Erase Error - 72"},
      {"stray:5=3A", 0, "Success"},
      {"stray:5=0A", 0, "Success"},
      {"stray:5=0D", 0, "Success"},
      {"stray:5=78", 1, "Un-recognized return code - 78"},
      {"ack:3=B", 1, "Address out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    SimProcess sim(SimArgs({"--erase-ms", "10", "--fault", c.fault}), dir_);
    const RunResult r = RunCommand(Cli({"flash", fmf.string(), "--port", sim.Port()}), dir_);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    EXPECT_NE((c.exit == 0 ? r.out : r.err).find(c.text), std::string::npos) << r.out << r.err;
  }
}

TEST_P(EndToEnd, MacQuestionIsAskedAndRefusedWithoutATerminal) {
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.version = "4.57.05";
  const auto fmf = dir_ / "old.FMF";
  WriteFmf(fmf, recipe);
  const auto log = dir_ / "sim.log";
  SimProcess sim(SimArgs({"--erase-ms", "10", "--serial", "QC123", "--log", log.string()}), dir_);
  const RunResult r = RunCommand(Cli({"flash", fmf.string(), "--port", sim.Port()}), dir_);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("MAC Address Concerns: Software for this Model is unable to generate a MAC "
                       "Address in versions 4.57.05 and older for controller Serial # QC123."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Slurp(log).find("erase"), std::string::npos) << "nothing erased after a refusal";

  const RunResult yes = RunCommand(Cli({"flash", fmf.string(), "--port", sim.Port(), "--yes"}), dir_);
  EXPECT_EQ(yes.exitCode, 0) << yes.err;
}

TEST_P(EndToEnd, InfoReportsTheControllerAfterFlashing) {
  FmfSpec recipe;
  recipe.generation = 5;
  recipe.version = "5.02.01";
  recipe.model = "RQ750 Press";
  recipe.identity = {1, 2, 3};
  const auto fmf = dir_ / "i.FMF";
  WriteFmf(fmf, recipe);
  SimProcess sim(SimArgs({"--erase-ms", "10", "--revision", "D", "--serial", "AB12"}), dir_);
  const RunResult before = RunCommand(Cli({"info", "--port", sim.Port(), "--json"}), dir_);
  ASSERT_EQ(before.exitCode, 0) << before.err;
  EXPECT_NE(before.out.find("\"application\":false"), std::string::npos);
  EXPECT_NE(before.out.find("\"application_base\":null"), std::string::npos) << before.out;
  ASSERT_EQ(RunCommand(Cli({"flash", fmf.string(), "--port", sim.Port()}), dir_).exitCode, 0);
  const RunResult after = RunCommand(Cli({"info", "--port", sim.Port(), "--json"}), dir_);
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_NE(after.out.find("\"revision\":\"D\""), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("\"serial\":\"AB12\""), std::string::npos);
  // Numbers are JSON numbers, as in `hex scan --json`: 0x03800000.
  EXPECT_NE(after.out.find("\"application_base\":58720256"), std::string::npos);
  EXPECT_NE(after.out.find("\"version\":\"5.02.01\""), std::string::npos);
  EXPECT_NE(after.out.find("\"model\":\"RQ750 Press\""), std::string::npos);
  EXPECT_NE(after.out.find("\"identity\":\"010203"), std::string::npos);
}

TEST_P(EndToEnd, LoadRunsTheProgramOnlyAfterTheLastAcknowledgement) {
  // A HEX file without extended records: addresses from base 0 (RAM).
  HexText hex;
  std::vector<std::uint8_t> code = PseudoRandomBytes(32 * 20, 7);
  for (std::size_t i = 0; i < code.size(); i += 32) {
    hex.Data(static_cast<std::uint16_t>(0x100 + i),
             std::span<const std::uint8_t>(code.data() + i, 32));
  }
  hex.StartLinear(0x00, 0x00, 0x01, 0x00).EndOfFile();
  const auto path = dir_ / "ram.HEX";
  hex.WriteTo(path);
  const auto log = dir_ / "sim.log";
  SimProcess sim(SimArgs({"--ack-delay-ms", "3", "--log", log.string(), "--range", "00000100:0000037F"}), dir_);
  const RunResult r = RunCommand(Cli({"load", path.string(), "--port", sim.Port(), "--run"}), dir_);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The simulator may log the run a moment after the CLI has gone.
  std::string text = Slurp(log);
  for (int i = 0; i < 200 && text.find("run ") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    text = Slurp(log);
  }
  const std::vector<LoggedPacket> packets = Packets(text);
  ASSERT_GE(packets.size(), 3u);
  EXPECT_EQ(packets[packets.size() - 2].type, 0x05u);
  EXPECT_EQ(packets.back().type, 0x01u);
  // The monitor's run line comes after the last packet with nothing awaiting.
  const auto run = text.find("run 00000100 awaiting=0");
  ASSERT_NE(run, std::string::npos) << text;
  EXPECT_GT(run, text.rfind("packet type=01"));
  // And the bytes are in RAM: dump them back.
  const auto bin = dir_ / "ram.Bin";
  ASSERT_EQ(RunCommand(Cli({"dump", bin.string(), "--port", sim.Port()}), dir_).exitCode, 0);
  const std::string file = Slurp(bin);
  ASSERT_GE(file.size(), 0x100u + code.size());
  EXPECT_EQ(file.substr(0x100, code.size()), std::string(code.begin(), code.end()));
}

// Silence and a dropped link end the stream with the programming time-out
// (30 s in the product; shortened here through the engine's timings).
TEST_P(EndToEnd, SilenceEndsTheStreamWithTheProgrammingTimeout) {
  FmfSpec recipe;
  recipe.generation = 4;
  const auto fmf = dir_ / "s.FMF";
  WriteFmf(fmf, recipe);
  for (const char* fault : {"silent-after:5", "close-after:5"}) {
    SCOPED_TRACE(fault);
    SimProcess sim(SimArgs({"--fault", fault}), dir_);
    CommPort port;
    ASSERT_TRUE(port.Open(sim.Port(), 115200, 0, 8, 0));
    struct Events : ProgrammingEvents {
      void OnTotal(std::uint32_t) override {}
      void OnProgress(std::uint32_t) override {}
      void OnNotice(const std::string&) override {}
      void OnResult(ResultCode c) override { code = c; }
      ResultCode code = 0;
    } events;
    ProgrammingRequest r;
    r.port = &port;
    r.mode = kModeProgramFlash;
    r.range = LoadRange{FmfRomStart(4), kFmfTop, 2};
    r.path = fmf.string();
    r.timings.ackTimeoutMs = 500;
    ProgrammingEngine engine(r, events);
    const ResultCode code = engine.Run();
    EXPECT_EQ(events.code, code);
    if (std::string(fault) == "close-after:5") {
      // A hung-up link may also refuse the next packet outright, and the
      // last acknowledgements may be lost with it.
      EXPECT_TRUE(code == rc::kProgrammingTimeout || code == rc::kTooFewBytes) << code;
      EXPECT_LE(engine.Acknowledged(), 6u);
    } else {
      EXPECT_EQ(ResultText(code), "Timeout while waiting for a response while Programming");
      EXPECT_EQ(engine.Acknowledged(), 6u);  // the first page packet and five data packets
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEnd, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Tcp" : "Pty"; });

TEST(Simulator, RefusesNonLoopbackAddresses) {
  const auto dir = MakeTempDir("sim");
  const RunResult r = RunCommand({TARNVALE_SIM_PATH, "rq700", "--tcp", "0.0.0.0:0"}, dir, 5000);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("loopback"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
}

TEST(Simulator, MonitorShowsTheBannerAndEchoes) {
  const auto dir = MakeTempDir("mon");
  SimProcess sim({"--pty"}, dir);
  const int fd = ::open(sim.Port().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  const char keys[] = "\x04P\r";
  ASSERT_EQ(::write(fd, keys, 3), 3);
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.find("RQ700 Program Flash Memory") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buf[256];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  EXPECT_EQ(got, "P\n\rRQ700 Program Flash Memory\n\r");
}

}  // namespace
}  // namespace tarnvale::test
