// tarnvale-cli doctor against the simulated devices, a port this test holds
// open, a port that does not exist and a listener that never answers; and
// the rate fields of a flash run's JSON progress against what the simulated
// controller received.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/Pty.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

using Json = nlohmann::json;

// Runs doctor in the given locale (the checklist's marks depend on it).
RunResult Doctor(const std::filesystem::path& dir, std::vector<std::string> args, const std::string& locale = "C") {
  args.insert(args.begin(), {"/usr/bin/env", "LC_ALL=" + locale, TARNVALE_CLI_PATH, "doctor"});
  return RunCommand(args, dir, 20000);
}

// The checks of one role with the given id.
const Json* Check(const Json& report, const std::string& id, const std::string& role) {
  for (const Json& c : report.at("checks")) {
    if (c.at("id") == id && c.value("role", "") == role) return &c;
  }
  return nullptr;
}

std::string ThisProcessName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

struct DeviceCase {
  const char* name;
  const char* sim;       // the simulator's device
  const char* option;    // --port or --programmer-port
  const char* role;
  const char* device;    // who answers
  const char* detail;    // part of what it said
};
// Named by its case in test output, not dumped as bytes.
void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.name; }

class DoctorFindsDevice : public ::testing::TestWithParam<DeviceCase> {};

// Every check of the named role passes, the device answers with its reply
// time, and the exit status is 0; the checklist says the same in words.
TEST_P(DoctorFindsDevice, EveryNeededCheckPasses) {
  const DeviceCase& c = GetParam();
  const auto dir = MakeTempDir("doctor");
  SimProcess sim({"--pty"}, dir, c.sim);

  const RunResult r = Doctor(dir, {c.option, sim.Port(), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const Json report = Json::parse(r.out);
  EXPECT_TRUE(report.at("passed").get<bool>());
  const Json* device = Check(report, "device", c.role);
  ASSERT_NE(device, nullptr) << r.out;
  EXPECT_EQ(device->at("status"), "ok");
  EXPECT_EQ(device->at("device"), c.device);
  EXPECT_TRUE(device->at("reply_ms").is_number_integer()) << r.out;
  EXPECT_TRUE(Has(device->at("text").get<std::string>(), c.detail)) << device->at("text");

  const RunResult text = Doctor(dir, {c.option, sim.Port()});
  EXPECT_EQ(text.exitCode, 0) << text.out;
  EXPECT_TRUE(Has(text.out, std::string("[ok] ") + c.device + " answered in ")) << text.out;
  EXPECT_TRUE(Has(text.out, "Ready: every needed check passed")) << text.out;
}

INSTANTIATE_TEST_SUITE_P(
    Doctor, DoctorFindsDevice,
    ::testing::Values(
        DeviceCase{"rq700_pty", "rq700", "--port", "primary", "RQ700 controller", "board revision"},
        DeviceCase{"box_pty", "box", "--programmer-port", "programmer", "Universal Programmer", "version"},
        DeviceCase{"rq750_pty", "rq750", "--port", "primary", "RQ750", "at 38400 baud"}),
    [](const ::testing::TestParamInfo<DeviceCase>& i) { return std::string(i.param.name); });

// A port this test process holds open: doctor names the process and its
// pid, says how to end it, and exits with the port status.
TEST(Doctor, BusyPortNamesTheProcessHoldingIt) {
  const auto dir = MakeTempDir("doctor");
  PtyPair pty;
  const std::string pid = std::to_string(::getpid());

  const RunResult r = Doctor(dir, {"--port", pty.SlavePath(), "--json"});
  EXPECT_EQ(r.exitCode, 3) << r.out;
  const Json report = Json::parse(r.out);
  const Json* holders = Check(report, "port.holders", "primary");
  ASSERT_NE(holders, nullptr) << r.out;
  EXPECT_EQ(holders->at("status"), "fail");
  bool found = false;
  for (const Json& h : holders->at("holders")) {
    if (h.at("pid").get<int>() == ::getpid()) {
      found = true;
      EXPECT_EQ(h.at("name"), ThisProcessName());
    }
  }
  EXPECT_TRUE(found) << r.out;
  EXPECT_EQ(Check(report, "port.open", "primary"), nullptr) << "a held port is not opened";

  const RunResult text = Doctor(dir, {"--port", pty.SlavePath()});
  EXPECT_EQ(text.exitCode, 3);
  EXPECT_TRUE(Has(text.out, "[FAIL] " + pty.SlavePath() + " is held open by " + ThisProcessName() + " (pid " + pid + ")"))
      << text.out;
  EXPECT_TRUE(Has(text.out, "fix: close that program first, or end it: kill " + pid)) << text.out;
  EXPECT_TRUE(Has(text.out, "Not ready: 1 check failed")) << text.out;
}

// A port that does not exist, in each kind of locale: a UTF-8 one gets the
// check marks.
TEST(Doctor, MissingPortSaysSoInTheLocalesMarks) {
  const auto dir = MakeTempDir("doctor");
  struct Case {
    const char* lcAll;
    const char* fail;
  };
  for (const Case& c : {Case{"C.UTF-8", "\u2717 /dev/ttyUSB97 does not exist"}, Case{"C", "[FAIL] /dev/ttyUSB97 does not exist"}}) {
    SCOPED_TRACE(c.lcAll);
    const RunResult r = Doctor(dir, {"--port", "/dev/ttyUSB97"}, c.lcAll);
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_TRUE(Has(r.out, c.fail)) << r.out;
    EXPECT_TRUE(Has(r.out, "fix: plug in the cable or adapter")) << r.out;
  }
}

// Something listens but nothing answers either question: the no-answer
// status, with both tries and their waits in the text.
TEST(Doctor, SilentPeerIsNoAnswer) {
  const auto dir = MakeTempDir("doctor");
  LoopbackServer server;
  const RunResult r = Doctor(dir, {"--port", server.Address()});
  EXPECT_EQ(r.exitCode, 4) << r.out;
  EXPECT_TRUE(Has(r.out, "[ok] connected to " + server.Address())) << r.out;
  EXPECT_TRUE(Has(r.out, "[FAIL] nothing answered on " + server.Address() + ": no RQ700 controller at 115200 baud"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "no RQ750 at 38400 baud")) << r.out;
}

// The image time comes with its figures; an image that cannot be read is
// the file status.
TEST(Doctor, ImageTimeAndBadImage) {
  const auto dir = MakeTempDir("doctor");
  WriteFmf(dir / "app.FMF", FmfSpec{});
  SimProcess sim({"--pty"}, dir, "rq700");
  const RunResult r = Doctor(dir, {"--port", sim.Port(), "--image", (dir / "app.FMF").string(), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const Json report = Json::parse(r.out);
  const Json* image = Check(report, "image", "");
  ASSERT_NE(image, nullptr) << r.out;
  const Json& t = image->at("image");
  EXPECT_EQ(t.at("baud"), 115200);
  EXPECT_NEAR(t.at("seconds").get<double>(), t.at("wire_bytes").get<double>() * 10 / 115200, 0.01);

  // A file that never ends (the run is killed after a minute if it waits).
  const std::string fifo = (dir / "fifo.FMF").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const RunResult refused = Doctor(dir, {"--port", sim.Port(), "--image", fifo});
  EXPECT_EQ(refused.exitCode, 5) << refused.out;
  EXPECT_TRUE(Has(refused.out, "[FAIL] " + fifo)) << refused.out;
  EXPECT_TRUE(Has(refused.out, "Can't Open Input File (is a FIFO, not a regular file)")) << refused.out;
}

// The rate fields of --progress json: at every progress event the image
// bytes are those of the packets the simulator logged up to that count, the
// total event carries them all, and the last event has nothing left.
TEST(Progress, JsonBytesMatchWhatTheControllerReceived) {
  const auto dir = MakeTempDir("progress");
  FmfSpec layout;
  layout.codeBytes = 12000;
  WriteFmf(dir / "app.FMF", layout);
  const auto log = dir / "sim.log";
  SimProcess sim({"--pty", "--erase-ms", "20", "--log", log.string()}, dir, "rq700");
  const RunResult r = RunCommand(
      {TARNVALE_CLI_PATH, "flash", (dir / "app.FMF").string(), "--port", sim.Port(), "--yes", "--progress", "json"}, dir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  sim.Stop();

  // Image bytes after the first k stream packets, from the simulator's log:
  // the stream starts after the erase (the identity queries come before it),
  // and the address packets carry no image bytes.
  std::vector<std::uint64_t> after{0};
  for (const LoggedPacket& p : Packets(Slurp(log))) {
    if (p.type == 0x06) {
      after.assign(1, 0);
      continue;
    }
    const bool framing = p.type == 0x01 || p.type == 0x02 || p.type == 0x04 || p.type == 0x05;
    after.push_back(after.back() + (framing ? 0 : p.count));
  }
  ASSERT_GT(after.size(), 10u) << Slurp(log);

  std::istringstream lines(r.out);
  int progressEvents = 0;
  Json last;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '{') continue;
    const Json e = Json::parse(line);
    if (e.at("event") == "total") {
      EXPECT_EQ(e.at("packets").get<std::size_t>(), after.size() - 1);
      EXPECT_EQ(e.at("bytes").get<std::uint64_t>(), after.back());
    }
    if (e.at("event") != "progress") continue;
    ++progressEvents;
    const auto acked = e.at("acknowledged").get<std::size_t>();
    ASSERT_LT(acked, after.size());
    EXPECT_EQ(e.at("bytes").get<std::uint64_t>(), after[acked]) << line;
    EXPECT_GE(e.at("bytes_per_s").get<double>(), 0) << line;
    last = e;
  }
  ASSERT_GT(progressEvents, 0) << r.out;
  if (last.at("acknowledged").get<std::size_t>() == after.size() - 1) {
    EXPECT_EQ(last.at("eta_s"), 0) << last;
  }
}

}  // namespace
}  // namespace tarnvale::test
