// The port settings dialog and the port setup commands around it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <sstream>

#include "GuiSupport.h"
#include "gui/settings/CIPAddressCtrl.h"
#include "gui/settings/CPortSettings.h"
#include "gui/ui/CCoolEdit.h"
#include "gui/ui/CTerminalDialog.h"

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
  std::unique_ptr<CPortSettings> Open(PortRole role, std::vector<PortInfo> ports = {}) {
    return std::make_unique<CPortSettings>(settings_, role, nullptr, Ports(std::move(ports)));
  }
  ConfigData settings_;
};

// The port list, baud, parity, stop-bit and data-bit lists, in that order.
std::vector<QComboBox*> Lists(CPortSettings& d) {
  return {d.PortList(), d.BaudList(), d.ParityList(), d.StopBitsList(), d.DataBitsList()};
}
QStringList Chosen(CPortSettings& d) {
  QStringList out;
  for (QComboBox* box : Lists(d)) out << box->currentText();
  return out;
}
void Choose(CPortSettings& d, const QStringList& texts) {
  for (int i = 0; i < texts.size(); ++i) Lists(d)[i]->setCurrentText(texts[i]);
}
// The record's serial fields of one role as stored codes: port, baud, parity, stop bits, data bits.
std::string Stored(const ConfigData& s, PortRole role) {
  std::ostringstream o;
  if (role == PortRole::Primary) {
    o << s.GetCOMPort() << ' ' << s.GetBaudRate() << ' ' << +s.GetParity() << ' ' << +s.GetStopBits() << ' ' << +s.GetByteSize();
  } else {
    o << s.GetAuxCOMPort() << ' ' << s.GetAuxBaudRate() << ' ' << +s.GetAuxParity() << ' ' << +s.GetAuxStopBits() << ' ' << +s.GetAuxByteSize();
  }
  return o.str();
}

TEST_F(PortDialog, ListsHoldTheirEntriesAndEachRoleItsOwnChoice) {
  auto primary = Open(PortRole::Primary);
  QStringList lists;
  for (QComboBox* box : Lists(*primary)) lists << Items(box).join(' ');
  EXPECT_EQ(lists, (QStringList{"COM1 TCP/IP",
                                "921600 460800 230400 115200 57600 38400 28800 19200 14400 9600 7200 4800 2400 "
                                "1800 1200 600 300",
                                "NONE ODD EVEN", "1 1.5 2", "7 8"}));
  EXPECT_EQ(Chosen(*primary), (QStringList{"COM1", "115200", "NONE", "1", "8"}));
  auto programmer = Open(PortRole::Programmer);
  EXPECT_EQ(Chosen(*programmer), (QStringList{"COM7", "921600", "NONE", "1", "8"}));
}

TEST_F(PortDialog, PortListIsSortedByTextWithDescriptionsAndTcpIpLast) {
  struct Case {
    std::string stored;
    std::vector<PortInfo> ports;
    QStringList items;
    QString selected;
    std::string accepted;  // the device path, never the description
  };
  const Case cases[] = {
      {"COM1", {{"COM1", ""}, {"COM3", ""}, {"COM10", ""}}, {"COM1", "COM10", "COM3", "TCP/IP"}, "COM1", "COM1"},
      {"/dev/ttyUSB0", {{"/dev/ttyUSB0", "FT232R USB UART (A9XYZ)"}, {"/dev/ttyACM0", ""}},
       {"/dev/ttyACM0", "/dev/ttyUSB0  (FT232R USB UART (A9XYZ))", "TCP/IP"},
       "/dev/ttyUSB0  (FT232R USB UART (A9XYZ))", "/dev/ttyUSB0"},
      // Selected by prefix, case-insensitive.
      {"com1", {{"COM10", ""}}, {"COM10", "TCP/IP"}, "COM10", "COM10"},
      // A stored port that is absent stays listed.
      {"/dev/ttyUSB7", {{"/dev/ttyS0", "Serial port"}}, {"/dev/ttyS0  (Serial port)", "/dev/ttyUSB7", "TCP/IP"},
       "/dev/ttyUSB7", "/dev/ttyUSB7"},
      // A COM name finds the device it stands for.
      {"COM1", {{"/dev/ttyS0", "Serial port"}}, {"/dev/ttyS0  (Serial port)", "TCP/IP"},
       "/dev/ttyS0  (Serial port)", "/dev/ttyS0"},
  };
  for (const Case& c : cases) {
    settings_.SetCOMPort(c.stored);
    auto dialog = Open(PortRole::Primary, c.ports);
    EXPECT_EQ(Items(dialog->PortList()), c.items) << c.stored;
    EXPECT_EQ(dialog->PortList()->currentText(), c.selected) << c.stored;
    dialog->accept();
    EXPECT_EQ(settings_.GetCOMPort(), c.accepted) << c.stored;
  }
}

// A stored TCP/IP reopens as such; it greys the serial lists and enables the
// address. (Storing the address is OK's, below.)
TEST_F(PortDialog, TcpIpGreysTheSerialListsAndEnablesTheAddress) {
  settings_.SetCOMPort("TCP/IP");
  auto dialog = Open(PortRole::Primary, {{"COM2", ""}});
  auto enabled = [&] {
    std::vector<bool> on;
    for (QComboBox* box : Lists(*dialog)) on.push_back(box->isEnabled());
    on.push_back(dialog->IpAddress()->isEnabled());
    return on;
  };
  EXPECT_EQ(dialog->PortList()->currentText(), "TCP/IP");
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, false, false, true}));
  dialog->PortList()->setCurrentText("COM2");
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, true, true, false}));
}

// EVEN is stored as 2 and 1.5 stop bits as 1; each role changes only its own
// fields (and the address), Cancel nothing.
TEST_F(PortDialog, OkStoresCodesIntoTheRecordForItsRoleOnly) {
  auto cancelled = Open(PortRole::Primary, {{"COM4", ""}});
  Choose(*cancelled, {"TCP/IP"});
  cancelled->IpAddress()->SetAddress({1, 2, 3, 4});
  cancelled->reject();
  EXPECT_EQ(Stored(settings_, PortRole::Primary), "COM1 115200 0 0 8");
  EXPECT_EQ(settings_.GetIPAddress(), "10.10.10.91");

  auto primary = Open(PortRole::Primary, {{"COM4", ""}});
  Choose(*primary, {"COM4", "9600", "EVEN", "1.5", "7"});
  primary->accept();
  EXPECT_EQ(Stored(settings_, PortRole::Primary), "COM4 9600 2 1 7");
  EXPECT_EQ(Stored(settings_, PortRole::Programmer), "COM7 921600 0 0 8");

  auto programmer = Open(PortRole::Programmer, {{"COM5", ""}});
  Choose(*programmer, {"COM5", "57600", "ODD", "2", "7"});
  programmer->IpAddress()->SetAddress({10, 0, 0, 5});
  programmer->accept();
  EXPECT_EQ(Stored(settings_, PortRole::Programmer), "COM5 57600 1 2 7");
  EXPECT_EQ(settings_.GetIPAddress(), "10.0.0.5");
  EXPECT_EQ(Stored(settings_, PortRole::Primary), "COM4 9600 2 1 7");
}

// A loopback peer on another TCP port keeps its port through the dialog.
TEST_F(PortDialog, AnAddressWithAPortIsStoredBackUnchanged) {
  settings_.SetIPAddress("127.0.0.1:40123");
  Open(PortRole::Primary)->accept();
  EXPECT_EQ(settings_.GetIPAddress(), "127.0.0.1:40123");
}

// A device the scan does not list is typed into the port list and stored as
// typed (without the blanks around it); a listed entry still stands for its
// device path. Enter in the field is OK. Nothing typed keeps the stored port.
// (A typed pty used from the menu is SetupPort's, below.)
TEST_F(PortDialog, ADeviceNotListedIsTypedAndStored) {
  const std::pair<const char*, std::string> cases[] = {
      {"  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0 ",
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0"},
      {"/dev/ttyUSB0  (FT232R USB UART)", "/dev/ttyUSB0"},
      {"", "/dev/ttyS0"},
  };
  for (const auto& [typed, stored] : cases) {
    SCOPED_TRACE(typed);
    settings_.SetCOMPort("/dev/ttyS0");
    auto dialog = Open(PortRole::Primary, {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyS0", ""}});
    QComboBox* port = dialog->PortList();
    ASSERT_TRUE(port->isEditable());
    const QStringList listed = Items(port);
    EXPECT_EQ(listed, (QStringList{"/dev/ttyS0", "/dev/ttyUSB0  (FT232R USB UART)", "TCP/IP"}));
    test::AnswerNextModal([&](QWidget*) {
      port->lineEdit()->clear();
      QTest::keyClicks(port->lineEdit(), QString::fromLatin1(typed));
      QTest::keyClick(port->lineEdit(), Qt::Key_Return);
    });
    EXPECT_EQ(dialog->exec(), QDialog::Accepted);
    EXPECT_EQ(settings_.GetCOMPort(), stored);
    EXPECT_EQ(Items(port), listed);  // what was typed is not added to the list
  }
}

TEST(IpAddressText, UnreadableNumbersAreZeroAndFieldsStayInRange) {
  using A = std::array<int, 4>;
  const std::pair<const char*, A> cases[] = {{"10.10.10.91", {10, 10, 10, 91}},
                                             {"10.20.x.5", {10, 20, 0, 0}},
                                             {"", {0, 0, 0, 0}},
                                             {"300.1.2.-4", {255, 1, 2, 0}}};
  for (const auto& [text, fields] : cases) EXPECT_EQ(ParseIpAddress(text), fields) << text;
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
  std::string SavedPort(bool aux = false) {
    ConfigData stored;
    stored.Load();
    return aux ? stored.GetAuxCOMPort() : stored.GetCOMPort();
  }
  test::FrameOnPty f_;
  std::vector<PortRole> roles_;
  bool primaryOpenDuringDialog_ = false;
};

// Setup > Port > Primary Port with the real dialog: a pty, which no scan
// lists, is typed in and the terminal runs on it (as on any port a setup
// opens).
TEST_F(SetupPort, ATypedPtyBecomesThePrimaryPort) {
  test::PtyPair other;
  test::AnswerNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<CPortSettings*>(w);
    ASSERT_NE(dialog, nullptr);
    QLineEdit* field = dialog->PortList()->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, QString::fromStdString(other.SlavePath()));
    QTest::keyClick(field, Qt::Key_Return);
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_EQ(f_.frame->Link().PrimaryPortName(), other.SlavePath());
  EXPECT_EQ(SavedPort(), other.SlavePath());
  other.Send("typed port\n\r");
  auto* edit = f_.frame->TerminalView()->Edit();
  EXPECT_TRUE(test::PumpUntil([&] { return edit->toPlainText() == "typed port\n"; }));
}

TEST_F(SetupPort, PrimaryCancelKeepsOkOpensAndSavesAFailureIsReportedUnsaved) {
  auto& link = f_.frame->Link();
  UseDialog([](ConfigData&) { return false; });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_TRUE(link.PrimaryPort()->IsOpen());
  EXPECT_TRUE(f_.op.messages.empty());

  test::PtyPair other;
  UseDialog([&](ConfigData& s) {
    s.SetCOMPort(other.SlavePath());
    s.SetBaudRate(38400);
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_EQ(roles_, (std::vector<PortRole>{PortRole::Primary, PortRole::Primary}));
  EXPECT_TRUE(primaryOpenDuringDialog_);
  EXPECT_TRUE(link.PrimaryPort()->IsOpen());
  EXPECT_EQ(link.PrimaryPortName(), other.SlavePath());
  EXPECT_EQ(link.PrimaryBaudRate(), 38400u);
  EXPECT_EQ(SavedPort(), other.SlavePath());
  EXPECT_TRUE(f_.op.messages.empty());

  UseDialog([](ConfigData& s) {
    s.SetCOMPort("/nonexistent/ttyZ");
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupPrimaryPort);
  EXPECT_EQ(f_.op.MessageTexts(), std::vector<std::string>{"Unable to open port: /nonexistent/ttyZ"});
  EXPECT_FALSE(link.PrimaryPort()->IsOpen());
  EXPECT_EQ(SavedPort(), other.SlavePath());
}

TEST_F(SetupPort, ProgrammerSetupClosesThePrimaryPortUntilItIsDone) {
  test::PtyPair box;
  UseDialog([&](ConfigData& s) {
    s.SetAuxCOMPort(box.SlavePath());
    return true;
  });
  f_.frame->RunCommand(cmd::kSetupProgrammerPort);
  EXPECT_EQ(roles_, std::vector<PortRole>{PortRole::Programmer});
  EXPECT_FALSE(primaryOpenDuringDialog_);
  EXPECT_EQ(f_.frame->Link().ProgrammerPortName(), box.SlavePath());
  // Target 1 again: the controller link is back, the box's port closed.
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
  EXPECT_FALSE(f_.frame->Link().ProgrammerPort()->IsOpen());
  EXPECT_EQ(box.Receive(1, 50), "");  // target 1 tells the box nothing
  EXPECT_EQ(SavedPort(true), box.SlavePath());

  UseDialog([](ConfigData&) { return false; });
  f_.frame->RunCommand(cmd::kSetupProgrammerPort);
  EXPECT_FALSE(primaryOpenDuringDialog_);
  EXPECT_TRUE(f_.frame->Link().PrimaryPort()->IsOpen());
}

}  // namespace
}  // namespace tarnvale::gui
