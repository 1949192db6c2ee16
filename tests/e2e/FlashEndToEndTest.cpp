// The CLI against the simulated controller, over a pseudo-terminal and over
// loopback TCP: flashing, loading and dumping, with the simulator's own record
// of what it received.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <regex>

#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/Pty.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

constexpr std::uint32_t kFlashBase = 0x03800000;
constexpr std::uint32_t kBootArea = 0x03FFC000;

// Where two byte strings first differ; npos when they are equal.
std::size_t FirstDifference(std::string_view a, std::string_view b) {
  if (a == b) return std::string::npos;
  return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// Writes an FMF of the default recipe as `edit` changes it; returns its image.
std::vector<std::uint8_t> Fmf(const std::filesystem::path& path, const std::function<void(FmfSpec&)>& edit) {
  FmfSpec recipe;
  edit(recipe);
  return WriteFmf(path, recipe);
}

class EndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { log_ = (dir_ = MakeTempDir("e2e")) / "sim.log"; }
  // The simulator on this test's transport, logging to log_.
  std::unique_ptr<SimProcess> Sim(std::vector<std::string> extra) const {
    std::vector<std::string> a{GetParam() ? "--tcp" : "--pty"};
    if (GetParam()) a.push_back("127.0.0.1:0");
    a.insert(a.end(), {"--log", log_.string()});
    a.insert(a.end(), extra.begin(), extra.end());
    return std::make_unique<SimProcess>(a, dir_);
  }
  RunResult Cli(const SimProcess& sim, std::vector<std::string> args) const {
    args.insert(args.begin(), TARNVALE_CLI_PATH);
    args.insert(args.end(), {"--port", sim.Port()});
    return RunCommand(args, dir_);
  }
  std::filesystem::path dir_, log_;
};

// Flashing leaves the file's image in the simulator's flash (below the
// protected boot area), after an erase and with no data before it.
TEST_P(EndToEnd, FlashesTheImageByteForByte) {
  constexpr int kGeneration = 4;
  const auto fmf = dir_ / "g4.FMF";
  const std::vector<std::uint8_t> image = Fmf(fmf, [&](FmfSpec& f) {
    f.generation = kGeneration;
    f.version = "5.01.00";
    f.codeBytes = 6000;
  });
  const auto flashOut = dir_ / "flash.bin";
  {
    auto sim = Sim({"--erase-ms", "50", "--ack-delay-ms", "1", "--save-flash", flashOut.string()});
    const RunResult r = Cli(*sim, {"flash", fmf.string(), "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Success"));
    EXPECT_TRUE(Has(r.err, "No Application in Memory"));  // fresh flash
    EXPECT_EQ(sim->Stop(), 0);  // SIGTERM ends it cleanly
  }
  const std::string flash = Slurp(flashOut);
  ASSERT_EQ(flash.size(), 0x04000000u - kFlashBase);
  // Below the ROM start the erase left blank flash; from it the image.
  const std::size_t romOffset = FmfRomStart(kGeneration) - kFlashBase;
  const auto firstUsed = std::find_if(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; });
  EXPECT_EQ(flash.find_first_not_of('\xFF'), romOffset + static_cast<std::size_t>(firstUsed - image.begin()));
  const std::size_t compared = kBootArea - FmfRomStart(kGeneration);
  EXPECT_EQ(FirstDifference(std::string_view(flash).substr(romOffset, compared),
                            std::string_view(reinterpret_cast<const char*>(image.data()), compared)),
            std::string::npos);
  const std::vector<LoggedPacket> packets = Packets(Slurp(log_));
  const auto erase = std::find_if(packets.begin(), packets.end(), [](const LoggedPacket& p) { return p.type == 0x06; });
  ASSERT_NE(erase, packets.end());
  EXPECT_TRUE(std::none_of(packets.begin(), erase, [](const LoggedPacket& p) { return p.type == 0x00; }));
}

// A program run is refused by the controller: the CLI reports the code's text
// and fails. Stray ':' and line ends are ignored.
TEST_P(EndToEnd, FaultsEndTheRunWithTheirMessages) {
  const auto fmf = dir_ / "f.FMF";
  Fmf(fmf, [](FmfSpec& f) { f.version = "5.01.00"; });
  const std::vector<std::tuple<std::string, int, std::string>> cases{
      {"ack:10=D", 1, "Data Mis-match"},
      {"stray:5=3A", 0, "Success"},
      // The controller's own '@' is not a wait of ours that ran out.
      {"stray:5=40", 4, "Timeout while waiting for a response (sent by the device in place of an acknowledgement"},
  };
  for (const auto& [fault, exit, text] : cases) {
    SCOPED_TRACE(fault);
    auto sim = Sim({"--erase-ms", "10", "--fault", fault});
    const RunResult r = Cli(*sim, {"flash", fmf.string()});
    EXPECT_EQ(r.exitCode, exit) << r.err;
    EXPECT_TRUE(Has(exit == 0 ? r.out : r.err, text)) << r.out << r.err;
  }
}

// --verify reads back through the memory lines once the end packet is
// acknowledged and says how many bytes matched; a weak cell (acknowledged,
// yet not holding its byte) passes a plain flash but fails the verify with
// its address, both bytes and the count. A run without --verify reads
// nothing back.
TEST_P(EndToEnd, VerifyReadsBackWhatWasProgrammedAndNamesAWeakCell) {
  const auto fmf = dir_ / "v.FMF";
  Fmf(fmf, [](FmfSpec& f) {
    f.version = "5.01.00";
    f.codeBytes = 3000;
  });
  // A flash with the given simulator options and flash options; the packets
  // the controller logged.
  const auto flash = [&](std::vector<std::string> simArgs, const std::vector<std::string>& options) {
    std::filesystem::remove(log_);
    simArgs.insert(simArgs.begin(), {"--erase-ms", "10"});
    auto sim = Sim(simArgs);
    std::vector<std::string> args{"flash", fmf.string(), "--yes"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = Cli(*sim, args);
    sim->Stop();
    return std::make_pair(r, Packets(Slurp(log_)));
  };
  // Memory lines read once the end packet went.
  const auto readBack = [](const std::vector<LoggedPacket>& packets) {
    const auto end = std::find_if(packets.begin(), packets.end(), [](const LoggedPacket& p) { return p.type == 0x01; });
    return std::count_if(end, packets.end(), [](const LoggedPacket& p) { return p.type == 0x11; });
  };
  const auto [plain, unread] = flash({"--fault", "weak-cell:7"}, {});
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_FALSE(Has(plain.out + plain.err, "Verif"));
  EXPECT_EQ(readBack(unread), 0);

  // Every data byte the controller was sent below its protected boot area,
  // and nothing else, is read back.
  const auto [good, packets] = flash({}, {"--verify"});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_GT(readBack(packets), 0);
  std::uint64_t programmed = 0;
  for (const LoggedPacket& d : packets) {
    if (d.type == 0x00 && (d.page << 16 | d.offset) < kBootArea) programmed += d.count;
  }
  EXPECT_GT(programmed, 2000u);
  EXPECT_TRUE(Has(good.out, "Verified " + std::to_string(programmed) + " bytes")) << good.out;

  const auto [weak, weakPackets] = flash({"--fault", "weak-cell:7"}, {"--verify"});
  EXPECT_EQ(weak.exitCode, 1) << weak.out << weak.err;
  EXPECT_FALSE(Has(weak.out, "Verified"));
  std::smatch m;
  const std::string log = Slurp(log_);
  ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(weak cell at ([0-9A-F]{8}))"))) << log;
  EXPECT_TRUE(Has(weak.err, "Verify failed at 0x" + m[1].str() + ": expected 0x")) << weak.err;
  std::smatch bytes;
  const std::regex differ(R"(expected 0x([0-9A-F]{2}), read 0x([0-9A-F]{2}); 1 of \d+ bytes differ)");
  ASSERT_TRUE(std::regex_search(weak.err, bytes, differ)) << weak.err;
  EXPECT_EQ(std::stoul(bytes[1], nullptr, 16) ^ 1u, std::stoul(bytes[2], nullptr, 16));  // the one bit that did not hold
}

// info before and after flashing; the MAC question on the way: refused
// without a terminal for an RQ700 4.57.05, answered by --yes.
TEST_P(EndToEnd, InfoAndTheMacQuestionAroundFlashing) {
  auto sim = Sim({"--erase-ms", "10", "--revision", "D", "--serial", "QC123"});
  const RunResult before = Cli(*sim, {"info", "--json"});
  ASSERT_EQ(before.exitCode, 0) << before.err;
  EXPECT_TRUE(Has(before.out, "\"application\":false")) << before.out;
  EXPECT_TRUE(Has(before.out, "\"application_base\":null")) << before.out;

  const auto old = dir_ / "old.FMF";
  Fmf(old, [](FmfSpec& f) {
    f.version = "4.57.05";
    f.identity = {1, 2, 3};
  });
  const RunResult r = Cli(*sim, {"flash", old.string()});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_TRUE(Has(r.err, "Pass --yes")) << r.err;
  EXPECT_TRUE(Has(r.err, "MAC Address Concerns: Software for this Model is unable to generate a MAC "
                         "Address in versions 4.57.05 and older for controller Serial # QC123."))
      << r.err;
  EXPECT_FALSE(Has(Slurp(log_), "erase")) << "nothing erased after a refusal";
  const RunResult yes = Cli(*sim, {"flash", old.string(), "--yes"});
  EXPECT_EQ(yes.exitCode, 0) << yes.err;
  const RunResult after = Cli(*sim, {"info", "--json"});
  ASSERT_EQ(after.exitCode, 0) << after.err;
  // Numbers are JSON numbers, as in `hex scan --json`: 0x03C00000.
  for (const char* part : {R"("revision":"D")", R"("serial":"QC123")", R"("application_base":62914560)",
                           R"("version":"4.57.05")", R"("identity":"010203)"}) {
    EXPECT_TRUE(Has(after.out, part)) << part << " in " << after.out;
  }
}

// A RAM image at 0x2000 in 32-byte records, without extended records; its bytes.
std::vector<std::uint8_t> WriteRamHex(const std::filesystem::path& path, std::size_t records, std::uint32_t seed,
                                      bool run) {
  HexText hex;
  const std::vector<std::uint8_t> code = PseudoRandomBytes(32 * records, seed);
  for (std::size_t i = 0; i < code.size(); i += 32) {
    hex.Data(static_cast<std::uint16_t>(0x2000 + i), std::span<const std::uint8_t>(code.data() + i, 32));
  }
  if (run) hex.StartLinear(0x00, 0x00, 0x20, 0x00);
  hex.EndOfFile().WriteTo(path);
  return code;
}

// A HEX file without extended records is loaded from base 0 (RAM) and run;
// a dump of it not starting at 0 is padded after the explanatory text.
TEST_P(EndToEnd, LoadRunsAfterTheLastAcknowledgementAndDumpsBackPadded) {
  const std::vector<std::uint8_t> code = WriteRamHex(dir_ / "ram.HEX", 20, 7, true);
  auto sim = Sim({"--ack-delay-ms", "3", "--range", "00002000:0000227F"});
  const RunResult r = Cli(*sim, {"load", (dir_ / "ram.HEX").string(), "--run"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The simulator may log the run a moment after the CLI has gone.
  WaitUntil([&] { return Has(Slurp(log_), "run "); });
  const std::string text = Slurp(log_);
  const std::vector<LoggedPacket> packets = Packets(text);
  ASSERT_GE(packets.size(), 3u);
  EXPECT_EQ(packets[packets.size() - 2].type, 0x05u);
  EXPECT_EQ(packets.back().type, 0x01u);
  // The monitor's run line comes after the last packet with nothing awaiting.
  const auto run = text.find("run 00002000 awaiting=0");
  ASSERT_NE(run, std::string::npos) << text;
  EXPECT_GT(run, text.rfind("packet type=01"));

  // Given as a link to an earlier dump: the file it names is replaced, the
  // link stays a link.
  const auto bin = dir_ / "ram.Bin";
  WriteFileBytes(dir_ / "earlier.Bin", "an earlier dump");
  std::filesystem::create_symlink("earlier.Bin", bin);
  const RunResult dump = Cli(*sim, {"dump", bin.string(), "--progress", "json"});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  EXPECT_TRUE(std::filesystem::is_symlink(bin));
  std::string expected = "Extra data inserted in file to make searching easier. Memory Starts at Address 0x2000";
  expected.resize(0x2000, '\0');
  expected.append(code.begin(), code.end());
  const std::string file = Slurp(bin);
  EXPECT_EQ(FirstDifference(file, expected), std::string::npos) << file.size() << " bytes";
  // JSON events: the range, the last progress and done with '0'.
  for (const char* part : {R"({"event":"range","upper":1000})", R"({"event":"progress","position":1000)",
                           R"({"event":"done","code":48)"}) {
    EXPECT_TRUE(Has(dump.out, part)) << part << " in " << dump.out;
  }
}

// Ctrl-C, or the simulator dying, during the erase wait (minutes of time
// limit) or while packets flow: the run stops at once with its exit code and
// says why.
TEST_P(EndToEnd, CtrlCOrALostLinkEndsTheRunAtOnce) {
  const auto fmf = dir_ / "c.FMF";
  Fmf(fmf, [](FmfSpec& f) { f.version = "5.01.00"; });
  const struct {
    std::vector<std::string> sim;
    std::string shows;  // in stdout once the run is there
    bool ctrlC;         // else the simulator is stopped
    int exit;
    std::string said;
  } cases[] = {
      {{"--erase-ms", "60000"}, "Erasing Flash Memory", true, 130, "Interrupted"},
      {{"--erase-ms", "10", "--ack-delay-ms", "20"}, "Start Programming", false, 4, "Link Lost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said + " at " + c.shows);
    auto sim = Sim(c.sim);
    Background run({TARNVALE_CLI_PATH, "flash", fmf.string(), "--port", sim->Port(), "--progress", "plain"}, dir_,
                   "stop");
    ASSERT_TRUE(run.Shows(c.shows)) << run.Out() << run.Err();
    if (c.ctrlC) {
      ::kill(run.pid, SIGINT);
    } else {
      sim->Stop();
    }
    // Well inside the minute of the erase's time limit: the stop ended it.
    EXPECT_EQ(run.Wait(), c.exit) << run.Out() << run.Err();
    EXPECT_TRUE(Has(run.Out() + run.Err(), c.said)) << run.Out() << run.Err();
    EXPECT_FALSE(Has(run.Out(), "Success"));
  }
}

// A dump that fails part way leaves the earlier good file under the chosen
// name, keeps what it read under NAME.partial and says where.
TEST_P(EndToEnd, FailedDumpKeepsTheEarlierFileAndThePartial) {
  // Varied bytes, so the dump takes many lines rather than one fill record.
  WriteRamHex(dir_ / "ram.HEX", 40, 11, false);
  auto sim = Sim({"--range", "00002000:000024FF", "--fault", "close-after-lines:10"});
  ASSERT_EQ(Cli(*sim, {"load", (dir_ / "ram.HEX").string()}).exitCode, 0);
  const auto bin = dir_ / "d.Bin";
  WriteFileBytes(bin, "an earlier good dump");
  const RunResult r = Cli(*sim, {"dump", bin.string()});
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(ReadFileBytes(bin), "an earlier good dump");
  const std::string partial = bin.string() + ".partial";
  ASSERT_TRUE(std::filesystem::exists(partial)) << r.out << r.err;
  // The header's hole and the lines read before the link went.
  EXPECT_GT(std::filesystem::file_size(partial), 0x2000u);
  EXPECT_LT(std::filesystem::file_size(partial), 0x2500u);
  EXPECT_TRUE(Has(r.out + r.err, partial)) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEnd, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Tcp" : "Pty"; });

// Peers that are no controller: one that answers '0' to everything and a
// web server. Load and flash ask for the controller's identity first, send
// no image and say what is wrong; never a bare "Un-recognized return code".
TEST(PeerIsNoController, NoImageIsSentAndTheReasonIsSaid) {
  const auto dir = MakeTempDir("e2e-peer");
  WriteFileBytes(dir / "ram.HEX", HexText().ExtendedLinear(0).Data(0x2000, {1, 2, 3, 4}).EndOfFile().Text());
  WriteFmf(dir / "a.FMF", FmfSpec{});
  const std::string notController = "answered, but not as an RQ700 controller in flash program mode does";
  const std::string web = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
  const struct {
    std::string reply;  // to every request
    std::vector<std::string> args;
    int exit;
    std::string said;
  } cases[] = {
      {"0", {"load", (dir / "ram.HEX").string()}, 4, "Unable to communicate with the controller"},
      {web, {"flash", (dir / "a.FMF").string(), "--yes"}, 1, notController},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " to " + c.reply.substr(0, 8));
    LoopbackServer server;
    std::atomic<bool> done{false};
    std::atomic<std::size_t> received{0};
    std::thread peer([&] {
      if (!server.Accept(5000)) return;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!done.load() && std::chrono::steady_clock::now() < until) {
        const std::string got = server.Receive(0, 50);
        received += got.size();
        if (!got.empty()) server.Send(c.reply);
      }
    });
    std::vector<std::string> argv{TARNVALE_CLI_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--port", server.Address(), "--progress", "plain"});
    const RunResult r = RunCommand(argv, dir, 30000);
    done = true;
    peer.join();
    EXPECT_EQ(r.exitCode, c.exit) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, c.said)) << r.err;
    for (const char* never : {"Un-recognized", "Erase Error", "Success"}) {
      EXPECT_FALSE(Has(r.out + r.err, never)) << never << ": " << r.out << r.err;
    }
    EXPECT_GT(received.load(), 0u);  // it did ask
    EXPECT_LT(received.load(), 64u);  // but streamed no image
  }
}

}  // namespace
}  // namespace tarnvale::test
