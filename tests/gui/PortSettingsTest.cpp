// The port settings dialog and the port setup commands around it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "GuiSupport.h"
#include "app/CMainFrame.h"
#include "app/CommandIds.h"
#include "settings/CIPAddressCtrl.h"
#include "settings/CPortSettings.h"

namespace tarnvale::gui {
namespace {

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

CPortSettings::PortLister Ports(std::vector<PortInfo> ports) {
  return [ports] { return ports; };
}

class PortDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ForgetSettings();
    settings_.Load();
  }
  ConfigData settings_;
};

TEST_F(PortDialog, ListsHoldTheirEntriesAndTheTitleNamesTheRole) {
  CPortSettings primary(settings_, PortRole::Primary, nullptr, Ports({}));
  EXPECT_EQ(primary.windowTitle(), "Primary Port");
  EXPECT_EQ(Items(primary.BaudList()),
            (QStringList{"921600", "460800", "230400", "115200", "57600", "38400", "28800",
                         "19200", "14400", "9600", "7200", "4800", "2400", "1800", "1200", "600",
                         "300"}));
  EXPECT_EQ(Items(primary.ParityList()), (QStringList{"NONE", "ODD", "EVEN"}));
  EXPECT_EQ(Items(primary.StopBitsList()), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(Items(primary.DataBitsList()), (QStringList{"7", "8"}));
  EXPECT_EQ(primary.BaudList()->currentText(), "115200");
  EXPECT_EQ(primary.ParityList()->currentText(), "NONE");
  EXPECT_EQ(primary.StopBitsList()->currentText(), "1");
  EXPECT_EQ(primary.DataBitsList()->currentText(), "8");

  CPortSettings programmer(settings_, PortRole::Programmer, nullptr, Ports({}));
  EXPECT_EQ(programmer.windowTitle(), "Universal Programmer Port");
  EXPECT_EQ(programmer.BaudList()->currentText(), "921600");
}

TEST_F(PortDialog, PortListIsSortedByTextWithDescriptionsAndTcpIpLast) {
  settings_.SetCOMPort("COM1");
  CPortSettings byNumber(settings_, PortRole::Primary, nullptr,
                         Ports({{"COM1", ""}, {"COM3", ""}, {"COM10", ""}}));
  EXPECT_EQ(Items(byNumber.PortList()), (QStringList{"COM1", "COM10", "COM3", "TCP/IP"}));
  EXPECT_EQ(byNumber.PortList()->currentText(), "COM1");

  settings_.SetCOMPort("/dev/ttyUSB0");
  CPortSettings devices(settings_, PortRole::Primary, nullptr,
                        Ports({{"/dev/ttyUSB0", "FT232R USB UART (A9XYZ)"}, {"/dev/ttyACM0", ""}}));
  EXPECT_EQ(Items(devices.PortList()),
            (QStringList{"/dev/ttyACM0", "/dev/ttyUSB0  (FT232R USB UART (A9XYZ))", "TCP/IP"}));
  EXPECT_EQ(devices.PortList()->currentIndex(), 1);
  devices.accept();
  // The device path is stored, never the description.
  EXPECT_EQ(settings_.GetCOMPort(), "/dev/ttyUSB0");
}

TEST_F(PortDialog, StoredPortSelectsByPrefixOrStaysListedWhenAbsent) {
  settings_.SetCOMPort("com1");
  CPortSettings prefix(settings_, PortRole::Primary, nullptr, Ports({{"COM10", ""}}));
  EXPECT_EQ(prefix.PortList()->currentText(), "COM10");

  settings_.SetCOMPort("/dev/ttyUSB7");
  CPortSettings absent(settings_, PortRole::Primary, nullptr, Ports({{"/dev/ttyS0", "Serial port"}}));
  EXPECT_EQ(absent.PortList()->currentText(), "/dev/ttyUSB7");
  absent.accept();
  EXPECT_EQ(settings_.GetCOMPort(), "/dev/ttyUSB7");

  // A COM name finds the device it stands for.
  settings_.SetCOMPort("COM1");
  CPortSettings mapped(settings_, PortRole::Primary, nullptr, Ports({{"/dev/ttyS0", "Serial port"}}));
  EXPECT_EQ(mapped.PortList()->currentText(), "/dev/ttyS0  (Serial port)");
}

TEST_F(PortDialog, TcpIpGreysTheSerialListsAndEnablesTheAddress) {
  settings_.SetCOMPort("COM2");
  CPortSettings dialog(settings_, PortRole::Primary, nullptr, Ports({{"COM2", ""}}));
  auto serialEnabled = [&] {
    return std::vector<bool>{dialog.BaudList()->isEnabled(), dialog.ParityList()->isEnabled(),
                             dialog.StopBitsList()->isEnabled(), dialog.DataBitsList()->isEnabled()};
  };
  EXPECT_EQ(serialEnabled(), std::vector<bool>(4, true));
  EXPECT_FALSE(dialog.IpAddress()->isEnabled());

  dialog.PortList()->setCurrentText("TCP/IP");
  EXPECT_EQ(serialEnabled(), std::vector<bool>(4, false));
  EXPECT_TRUE(dialog.IpAddress()->isEnabled());

  dialog.IpAddress()->SetAddress({192, 168, 1, 20});
  dialog.accept();
  EXPECT_EQ(settings_.GetCOMPort(), "TCP/IP");
  EXPECT_EQ(settings_.GetIPAddress(), "192.168.1.20");

  settings_.SetCOMPort("TCP/IP");
  CPortSettings reopened(settings_, PortRole::Primary, nullptr, Ports({{"COM2", ""}}));
  EXPECT_EQ(reopened.PortList()->currentText(), "TCP/IP");
  EXPECT_TRUE(reopened.IpAddress()->isEnabled());
  reopened.PortList()->setCurrentText("COM2");
  EXPECT_FALSE(reopened.IpAddress()->isEnabled());
}

TEST_F(PortDialog, OkStoresCodesForThePrimaryRoleOnly) {
  CPortSettings dialog(settings_, PortRole::Primary, nullptr, Ports({{"COM4", ""}}));
  dialog.PortList()->setCurrentText("COM4");
  dialog.BaudList()->setCurrentText("9600");
  dialog.ParityList()->setCurrentText("EVEN");
  dialog.StopBitsList()->setCurrentText("1.5");
  dialog.DataBitsList()->setCurrentText("7");
  dialog.accept();
  EXPECT_EQ(settings_.GetCOMPort(), "COM4");
  EXPECT_EQ(settings_.GetBaudRate(), 9600u);
  EXPECT_EQ(settings_.GetParity(), 2);
  EXPECT_EQ(settings_.GetStopBits(), 1);
  EXPECT_EQ(settings_.GetByteSize(), 7);
  EXPECT_EQ(settings_.GetAuxCOMPort(), "COM7");
  EXPECT_EQ(settings_.GetAuxBaudRate(), 921600u);
  EXPECT_EQ(settings_.GetAuxParity(), 0);
  EXPECT_EQ(settings_.GetAuxStopBits(), 0);
  EXPECT_EQ(settings_.GetAuxByteSize(), 8);

  // Nothing is saved by the dialog itself.
  ConfigData stored;
  stored.Load();
  EXPECT_EQ(stored.GetBaudRate(), 115200u);
}

TEST_F(PortDialog, ProgrammerRoleChangesOnlyAuxFieldsAndTheAddress) {
  CPortSettings dialog(settings_, PortRole::Programmer, nullptr, Ports({{"COM5", ""}}));
  dialog.PortList()->setCurrentText("COM5");
  dialog.BaudList()->setCurrentText("57600");
  dialog.ParityList()->setCurrentText("ODD");
  dialog.StopBitsList()->setCurrentText("2");
  dialog.DataBitsList()->setCurrentText("7");
  dialog.IpAddress()->SetAddress({10, 0, 0, 5});
  dialog.accept();
  EXPECT_EQ(settings_.GetAuxCOMPort(), "COM5");
  EXPECT_EQ(settings_.GetAuxBaudRate(), 57600u);
  EXPECT_EQ(settings_.GetAuxParity(), 1);
  EXPECT_EQ(settings_.GetAuxStopBits(), 2);
  EXPECT_EQ(settings_.GetAuxByteSize(), 7);
  EXPECT_EQ(settings_.GetIPAddress(), "10.0.0.5");
  EXPECT_EQ(settings_.GetCOMPort(), "COM1");
  EXPECT_EQ(settings_.GetBaudRate(), 115200u);
  EXPECT_EQ(settings_.GetParity(), 0);
  EXPECT_EQ(settings_.GetStopBits(), 0);
  EXPECT_EQ(settings_.GetByteSize(), 8);
}

TEST_F(PortDialog, CancelChangesNothing) {
  CPortSettings dialog(settings_, PortRole::Primary, nullptr, Ports({{"COM4", ""}}));
  dialog.PortList()->setCurrentText("TCP/IP");
  dialog.IpAddress()->SetAddress({1, 2, 3, 4});
  dialog.reject();
  EXPECT_EQ(settings_.GetCOMPort(), "COM1");
  EXPECT_EQ(settings_.GetIPAddress(), "10.10.10.91");
}

TEST_F(PortDialog, IpAddressShowsFourFieldsAndStoresThemBackUnchanged) {
  CPortSettings dialog(settings_, PortRole::Primary, nullptr, Ports({}));
  auto fields = [&] {
    QStringList f;
    for (int i = 0; i < 4; ++i) f << dialog.IpAddress()->Field(i)->text();
    return f;
  };
  EXPECT_EQ(fields(), (QStringList{"10", "10", "10", "91"}));
  dialog.accept();
  EXPECT_EQ(settings_.GetIPAddress(), "10.10.10.91");

  // A loopback peer on another TCP port keeps its port through the dialog.
  settings_.SetIPAddress("127.0.0.1:40123");
  CPortSettings withPort(settings_, PortRole::Primary, nullptr, Ports({}));
  withPort.accept();
  EXPECT_EQ(settings_.GetIPAddress(), "127.0.0.1:40123");
}

TEST(IpAddressText, UnreadableNumbersAreZeroAndFieldsStayInRange) {
  using A = std::array<int, 4>;
  EXPECT_EQ(ParseIpAddress("10.10.10.91"), (A{10, 10, 10, 91}));
  EXPECT_EQ(ParseIpAddress("10.20.x.5"), (A{10, 20, 0, 0}));
  EXPECT_EQ(ParseIpAddress(""), (A{0, 0, 0, 0}));
  EXPECT_EQ(ParseIpAddress("300.1.2.-4"), (A{255, 1, 2, 0}));
  std::string rest;
  ParseIpAddress("127.0.0.1:4000", &rest);
  EXPECT_EQ(rest, ":4000");
  EXPECT_EQ(FormatIpAddress({1, 22, 133, 4}), "1.22.133.4");

  CIPAddressCtrl ctrl;
  ctrl.Field(2)->setText("");
  ctrl.Field(0)->setText("77");
  EXPECT_EQ(ctrl.Address(), (A{77, 0, 0, 0}));
}

// Port setup around the dialog: which ports are open when, and what is saved.
class SetupPort : public ::testing::Test {
 protected:
  void UseDialog(std::function<bool(ConfigData&)> run) {
    f_.frame->SetDialogs({[this, run](ConfigData& s, PortRole role, QWidget*) {
                            roles_.push_back(role);
                            primaryOpenDuringDialog_ = f_.frame->Link().PrimaryPort()->IsOpen();
                            return run(s);
                          },
                          {}, {}});
  }
  test::FrameOnPty f_;
  std::vector<PortRole> roles_;
  bool primaryOpenDuringDialog_ = false;
};

TEST_F(SetupPort, PrimaryOkOpensTheNewPortAndSaves) {
  test::PtyPair other;
  UseDialog([&](ConfigData& s) {
    s.SetCOMPort(other.SlavePath());
    s.SetBaudRate(38400);
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  ASSERT_EQ(roles_, std::vector<PortRole>{PortRole::Primary});
  EXPECT_TRUE(primaryOpenDuringDialog_);
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
  EXPECT_EQ(f_.frame->Link().PrimaryPortName(), other.SlavePath());
  EXPECT_EQ(f_.frame->Link().PrimaryBaudRate(), 38400u);
  ConfigData stored;
  stored.Load();
  EXPECT_EQ(stored.GetCOMPort(), other.SlavePath());
  EXPECT_TRUE(f_.op.messages.empty());
}

TEST_F(SetupPort, PrimaryPortThatWillNotOpenIsReportedAndNotSaved) {
  UseDialog([](ConfigData& s) {
    s.SetCOMPort("/nonexistent/ttyZ");
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_EQ(f_.op.MessageTexts(), std::vector<std::string>{"Unable to open port: /nonexistent/ttyZ"});
  EXPECT_FALSE(f_.frame->Link().PrimaryPort()->IsOpen());
  ConfigData stored;
  stored.Load();
  EXPECT_EQ(stored.GetCOMPort(), f_.pty.SlavePath());
}

TEST_F(SetupPort, PrimaryCancelLeavesThePrimaryPortOpen) {
  UseDialog([](ConfigData&) { return false; });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
  EXPECT_TRUE(f_.op.messages.empty());
}

TEST_F(SetupPort, ProgrammerSetupClosesThePrimaryPortUntilItIsDone) {
  test::PtyPair box;
  UseDialog([&](ConfigData& s) {
    s.SetAuxCOMPort(box.SlavePath());
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupProgrammerPort);
  EXPECT_FALSE(primaryOpenDuringDialog_);
  EXPECT_EQ(f_.frame->Link().ProgrammerPortName(), box.SlavePath());
  // Target 1 again: the controller link is back, the box's port closed.
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
  EXPECT_FALSE(f_.frame->Link().ProgrammerPort()->IsOpen());
  EXPECT_EQ(box.Receive(1, 50), "");  // target 1 tells the box nothing
  ConfigData stored;
  stored.Load();
  EXPECT_EQ(stored.GetAuxCOMPort(), box.SlavePath());

  UseDialog([](ConfigData&) { return false; });
  f_.frame->RunCommand(cmd::kSetupProgrammerPort);
  EXPECT_FALSE(primaryOpenDuringDialog_);
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
}

TEST_F(SetupPort, TcpIpChoiceConnectsToTheStoredAddress) {
  test::LoopbackServer server;
  UseDialog([&](ConfigData& s) {
    s.SetCOMPort("TCP/IP");
    s.SetIPAddress(server.Address());
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  ASSERT_TRUE(server.Accept());
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsTcp());
  EXPECT_EQ(f_.frame->Link().PrimaryPortName(), server.Address());
}

}  // namespace
}  // namespace tarnvale::gui
