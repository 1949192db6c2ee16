// The bench check without devices: how port names resolve, and what the
// checklist says for a missing port, a name that is no port, a refused TCP
// connection and an image file (a port another process holds: the doctor's
// end-to-end test).
#include <gtest/gtest.h>

#include <algorithm>

#include "core/doctor/Doctor.h"
#include "support/ImageGen.h"
#include "support/Pty.h"  // UnusedLoopbackPort
#include "support/TestEnv.h"

namespace tarnvale::doctor {
namespace {

const CheckItem* Find(const DoctorReport& r, const std::string& id, const std::string& role) {
  const auto it = std::find_if(r.checks.begin(), r.checks.end(),
                               [&](const CheckItem& c) { return c.id == id && c.role == role; });
  return it == r.checks.end() ? nullptr : &*it;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Settings as a bench would have them, without reading any file.
ConfigData Bench(const std::string& primary, const std::string& programmer) {
  ConfigData s;
  s.SetCOMPort(primary);
  s.SetAuxCOMPort(programmer);
  s.SetIPAddress("127.0.0.1");
  s.SetBaudRate(115200);
  s.SetAuxBaudRate(921600);
  return s;
}

TEST(Doctor, ResolveNamesWhatOpensAndWhy) {
  const struct {
    std::string stored;
    PortRole role;
    std::string given, source;
    bool tcp;
    std::string device, endpoint;
  } cases[] = {
      {"COM3", PortRole::Primary, "", "stored setting COMPort", false, "/dev/ttyS2", ""},
      {"/dev/ttyACM1", PortRole::Programmer, "", "stored setting AuxCOMPort", false, "/dev/ttyACM1", ""},
      {"COM3", PortRole::Primary, "/dev/ttyUSB4", "given with --port", false, "/dev/ttyUSB4", ""},
      {"COM3", PortRole::Programmer, "127.0.0.1:5001", "given with --programmer-port", true, "",
       "127.0.0.1:5001"},
      {"TCP/IP", PortRole::Primary, "", "stored setting IPAddress, as COMPort is TCP/IP", true, "",
       "127.0.0.1:4000"},
      {"com1", PortRole::Primary, "", "stored setting COMPort", false, "", ""},  // not a port name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored + " " + c.given);
    const ResolvedPort r = ResolvePort(Bench(c.stored, c.stored), c.role, c.given);
    EXPECT_EQ(r.source, c.source);
    EXPECT_EQ(r.tcp, c.tcp);
    EXPECT_EQ(r.device, c.device);
    EXPECT_EQ(r.endpoint, c.endpoint);
  }
}

// Each ends in a port failure of the primary role; the stored programmer port
// is only looked at, so whatever it finds is at most a warning.
TEST(Doctor, PortFailuresNameTheProblemAndTheFix) {
  const struct {
    std::string primary;    // given with --port
    std::string failingId;  // the check that fails
    std::vector<std::string> inText, inFix;
  } cases[] = {
      {"/dev/ttyUSB97", "port.exists", {"/dev/ttyUSB97 does not exist"}, {"plug in", "serial devices here:"}},
      {"com1", "port.name", {"\"com1\"", "neither a serial port"}, {"settings set COMPort"}},
      // A character device every process holds: refused, no holders named.
      {"/dev/null", "port.exists", {"/dev/null exists but is not a serial device"}, {"--port"}},
      {"127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()), "port.open", {"would not open"},
       {"check the address"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.primary);
    DoctorOptions o;
    o.primaryPort = c.primary;
    o.roots.proc = test::MakeTempDir("proc");  // nothing runs: no ModemManager
    const DoctorReport r = RunDoctor(Bench("COM1", "COM7"), o);
    EXPECT_EQ(r.FirstFailure(), FailureKind::Port);
    const CheckItem* failed = Find(r, c.failingId, "primary");
    ASSERT_NE(failed, nullptr) << c.failingId;
    EXPECT_EQ(failed->status, CheckStatus::Fail);
    for (const std::string& p : c.inText) EXPECT_TRUE(Has(failed->text, p)) << p << " in " << failed->text;
    for (const std::string& p : c.inFix) EXPECT_TRUE(Has(failed->fix, p)) << p << " in " << failed->fix;
    // Nothing after the failure on that role is tried.
    EXPECT_EQ(Find(r, "device", "primary"), nullptr);
    EXPECT_EQ(Find(r, "port.holders", "primary"), nullptr);
    for (const CheckItem& item : r.checks) {
      if (item.role == "programmer") {
        EXPECT_NE(item.status, CheckStatus::Fail) << item.text;
      }
    }
    EXPECT_EQ(Find(r, "port.open", "programmer"), nullptr);
    EXPECT_NE(Find(r, "modemmanager", ""), nullptr) << "the checks of the whole system still run";
  }
}

TEST(Doctor, NoStoredPortSaysHowToSetOne) {
  const ConfigData s = Bench("", "");
  DoctorOptions o;
  o.roots.proc = test::MakeTempDir("proc");
  const DoctorReport r = RunDoctor(s, o);
  for (const char* role : {"primary", "programmer"}) {
    const CheckItem* name = Find(r, "port.name", role);
    ASSERT_NE(name, nullptr) << role;
    EXPECT_EQ(name->status, CheckStatus::Fail) << role;
    EXPECT_TRUE(Has(name->fix, "tarnvale-cli settings set")) << name->fix;
  }
  EXPECT_EQ(r.FirstFailure(), FailureKind::Port);
}

// The image is timed at the stored rate of its target's role, after the
// port checks (whose failure still comes first).
TEST(Doctor, ImageTimeAtTheStoredRate) {
  const auto dir = test::MakeTempDir("img");
  test::WriteFmf(dir / "app.FMF", test::FmfSpec{});
  ConfigData s = Bench("COM1", "COM7");
  s.SetBaudRate(57600);
  DoctorOptions o;
  o.primaryPort = "/dev/ttyUSB97";
  o.image = dir / "app.FMF";
  o.roots.proc = dir;
  const DoctorReport r = RunDoctor(s, o);
  const CheckItem* image = Find(r, "image", "");
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->status, CheckStatus::Ok) << image->text;
  EXPECT_EQ(image->image->baud, 57600u);
  EXPECT_TRUE(Has(image->text, "at 57600 baud")) << image->text;
  EXPECT_EQ(r.FirstFailure(), FailureKind::Port);
}

}  // namespace
}  // namespace tarnvale::doctor
