// Port roles against pseudo-terminal peers: which port a target opens, what
// the box is told, and how the brackets hand the port back to the terminal.
#include <gtest/gtest.h>

#include <thread>

#include "core/roles/PortRoles.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"

namespace tarnvale {
namespace {

using test::PtyPair;

class FakeHost : public TerminalHost {
 public:
  void SetPolling(bool on) override { polling.push_back(on); }
  void SetStatusPanes(const std::string&, const std::string&) override {}
  void FocusTerminal() override {}
  std::vector<bool> polling;
};

class PortRolesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.SetCOMPort(controller.SlavePath());
    settings.SetAuxCOMPort(box.SlavePath());
    settings.SetBaudRate(115200);
    settings.SetAuxBaudRate(921600);
  }
  // The box answers the next select-target packet with `reply`.
  std::thread AnswerSelect(const std::string& reply, std::string* seen) {
    return std::thread([this, reply, seen] {
      *seen = box.Receive(6, 2000);
      if (!reply.empty()) box.Send(reply);
    });
  }

  PtyPair controller;
  PtyPair box;
  ConfigData settings;
  test::RecordingOperator op;
  FakeHost host;
  LinkState link{settings, &op, &host};
};

TEST_F(PortRolesTest, ProgrammerTargetClosesPrimaryAndEndCommandReopensIt) {
  ASSERT_TRUE(link.OpenPrimaryAtStartup());
  ASSERT_TRUE(link.PrimaryPort()->IsOpen());
  link.BeginCommand();
  EXPECT_EQ(host.polling, std::vector<bool>{false});

  std::string seen;
  std::thread boxThread = AnswerSelect("0", &seen);
  EXPECT_EQ(link.SelectTarget(Target::Pic18F252), rc::kSuccess);
  boxThread.join();
  EXPECT_EQ(seen, std::string(":\x00\x00\x02\x19\xE5", 6));
  EXPECT_FALSE(link.PrimaryPort()->IsOpen());
  EXPECT_TRUE(link.ProgrammerPort()->IsOpen());
  EXPECT_EQ(link.CurrentTarget(), Target::Pic18F252);
  EXPECT_EQ(link.ProgrammerBaudRate(), 921600u);

  link.EndCommand();
  EXPECT_TRUE(link.PrimaryPort()->IsOpen());
  EXPECT_FALSE(link.ProgrammerPort()->IsOpen());
  EXPECT_EQ(link.CurrentTarget(), Target::Controller);
  EXPECT_EQ(host.polling, (std::vector<bool>{false, true}));
}

// A box that does not answer, or answers with an error, leaves the target as
// it was; its code comes back unchanged, and silence is waited out in full.
TEST_F(PortRolesTest, SilentOrRefusingBoxKeepsTheTarget) {
  ASSERT_TRUE(link.OpenPrimaryAtStartup());
  std::string seen;
  std::thread boxThread = AnswerSelect("", &seen);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(link.SelectTarget(Target::CpuBoard386), rc::kTimeout);
  const auto waited = std::chrono::steady_clock::now() - t0;
  boxThread.join();
  EXPECT_EQ(seen, std::string(":\x00\x00\x04\x19\xE3", 6));
  EXPECT_EQ(link.CurrentTarget(), Target::Controller);
  EXPECT_GE(waited, std::chrono::milliseconds(100));  // the real box's wait, no less
  boxThread = AnswerSelect("E", &seen);
  EXPECT_EQ(link.SelectTarget(Target::Tn835Jtag), 'E');
  boxThread.join();
  EXPECT_EQ(link.CurrentTarget(), Target::Controller);
}

// Target 1 (the controller) is never announced to the box; target 0 (the box
// itself) opens its port without selecting and leaves the target alone.
TEST_F(PortRolesTest, ControllerAndBoxTargetsSendNothingToTheBox) {
  std::string seen;
  std::thread boxThread = AnswerSelect("0", &seen);
  EXPECT_EQ(link.SelectTarget(Target::DsPic30F), rc::kSuccess);
  boxThread.join();
  EXPECT_EQ(link.SelectTarget(Target::Controller), rc::kSuccess);
  EXPECT_EQ(box.Receive(0, 150), "");
  EXPECT_EQ(controller.Receive(0, 50), "");
  EXPECT_TRUE(link.PrimaryPort()->IsOpen());
  EXPECT_FALSE(link.ProgrammerPort()->IsOpen());
  EXPECT_EQ(link.SelectTarget(Target::Box), rc::kSuccess);
  EXPECT_EQ(box.Receive(0, 150), "");
  EXPECT_TRUE(link.ProgrammerPort()->IsOpen());
  EXPECT_EQ(link.CurrentTarget(), Target::Controller);
}

TEST_F(PortRolesTest, UnavailablePortsGiveFailedToOpen) {
  settings.SetAuxCOMPort("/dev/does-not-exist");
  EXPECT_EQ(link.SelectTarget(Target::Pic18F252), rc::kPortOpenFailed);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Error in Opening Auxillary Port: /dev/does-not-exist: No such file or directory");

  settings.SetCOMPort("/dev/also-missing");
  EXPECT_EQ(link.SelectTarget(Target::Controller), rc::kPortOpenFailed);
  EXPECT_EQ(op.messages.size(), 1u) << "the primary port fails without a message";
}

TEST_F(PortRolesTest, TcpIpRoleUsesTheSharedAddress) {
  test::LoopbackServer server;
  settings.SetIPAddress(server.Address());
  settings.SetAuxCOMPort(kTcpIpPortName);
  std::thread boxThread([&] {
    ASSERT_TRUE(server.Accept());
    server.Receive(6);
    server.Send("0");
  });
  EXPECT_EQ(link.SelectTarget(Target::CpuBoard386), rc::kSuccess);
  boxThread.join();
  EXPECT_TRUE(link.ProgrammerPort()->IsTcp());
  EXPECT_EQ(link.ProgrammerPortName(), server.Address());
}

TEST_F(PortRolesTest, StartupTakesTheAddressForTcpIp) {
  test::LoopbackServer server;
  settings.SetIPAddress(server.Address());
  settings.SetCOMPort(kTcpIpPortName);
  ASSERT_TRUE(link.OpenPrimaryAtStartup());
  EXPECT_TRUE(link.PrimaryPort()->IsTcp());
  EXPECT_EQ(link.PrimaryPortName(), server.Address());
}

// A port given for one run opens in place of the stored one (or keeps the
// role closed) and never changes the settings record.
TEST_F(PortRolesTest, PerRunOverridesOpenTheirPortAndLeaveTheRecordAlone) {
  PtyPair other;
  struct Case {
    PortOverride given;
    bool opens;
    std::string name;
    std::uint32_t baud;
  };
  const Case cases[] = {
      {{other.SlavePath(), 57600, false}, true, other.SlavePath(), 57600},
      {{"", 57600, false}, true, controller.SlavePath(), 57600},
      {{other.SlavePath(), 0, false}, true, other.SlavePath(), 115200},
      {{"", 0, true}, false, "", 115200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + (c.given.closed ? " (closed)" : ""));
    link.SetOverride(PortRole::Primary, c.given);
    EXPECT_EQ(link.OpenLink(Target::Controller), c.opens);
    EXPECT_EQ(link.PrimaryPort()->IsOpen(), c.opens);
    if (c.opens) {
      EXPECT_EQ(link.PrimaryPortName(), c.name);
      EXPECT_EQ(link.PrimaryBaudRate(), c.baud);
    }
    EXPECT_EQ(settings.GetCOMPort(), controller.SlavePath());
    EXPECT_EQ(settings.GetBaudRate(), 115200u);
  }
}

}  // namespace
}  // namespace tarnvale
