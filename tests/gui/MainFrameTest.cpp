// The main window: menu table, status bar, start-up and the shell commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <tuple>

#include "GuiSupport.h"
#include "gui/ui/CCoolEdit.h"
#include "gui/ui/CTerminalDialog.h"

namespace tarnvale::gui {
namespace {

using test::FrameOnPty;

// Menu path, text, command id, status-bar prompt, enabled.
using MenuItem = std::tuple<std::string, std::string, int, std::string, bool>;

void Collect(QMenu* menu, const std::string& path, std::vector<MenuItem>& out) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    if (a->menu() != nullptr) {
      Collect(a->menu(), path + ">" + a->text().toStdString(), out);
    } else {
      out.emplace_back(path, a->text().toStdString(), a->data().toInt(), a->statusTip().toStdString(),
                       a->isEnabled());
    }
  }
}

std::vector<MenuItem> MenuOf(CMainFrame& frame) {
  std::vector<MenuItem> items;
  // Top menus by their table path; their texts carry the mnemonics.
  for (QAction* top : frame.menuBar()->actions()) Collect(top->menu(), top->menu()->objectName().toStdString(), items);
  return items;
}

// The whole menu in order. Items of features not built yet are disabled.
const std::vector<MenuItem> kExpectedMenu = {
    {"File", "Flash RQ700 Series", 32780, "Loads an Application Image into an RQ700 Series Controller's flash memory", true},
    {"File", "Dump RQ700 Series Memory", 32843, "Reads the contents of an RQ700 Series Controller's memory to a file", true},
    {"File", "Flash TN835", 32833, "Used to program an TN835 controller.", true},
    {"File>7193 JTAG", "Flash 7193 Boot", 32809, "Program's an RQ700 Series Boot Image via its JTAG port. (A Universal Programming Box is required).", true},
    {"File>7193 JTAG", "7193  JTAG Test", 32810, "Miscellaneous tools which can be used on RQ700 Series Controllers via its JTAG port (A Universal Programming Box is required).", true},
    {"File>7193 JTAG", "Read Flash Boot Image", 32811, "Reads an RQ700 Series Controller's Boot Image via its JTAG port (A Universal Programming Box is required).", true},
    {"File>7193 JTAG", "Read JTAG ID", 32813, "Reads an RQ700 Series Controller's ID via its JTAG port (A Universal Programming Box is required).", true},
    {"File", "Load", 32781, "Load a new Application Image into RQ700 Series RAM memory for debugging", true},
    {"File>PIC18F252", "Flash PIC18F252", 32794, "", true},
    {"File>PIC18F252", "Read EEPROM", 32796, "", true},
    {"File>PIC18F252", "Blank Check", 32797, "", true},
    {"File>PIC18F252", "Erase Flash", 32798, "", true},
    {"File>PIC18F252", "Load EEPROM Data", 32805, "", true},
    {"File>PIC18F252", "Test EEPROM", 32806, "", true},
    {"File>PIC18F252", "Read CPU ID", 32807, "", true},
    {"File>PIC30FXXXX", "Flash dsPIC30F", 32801, "Loads an Application Image into a dsPIC30FXXXX flash memory", true},
    {"File>PIC30FXXXX", "Read EEPROM", 32802, "", true},
    {"File>PIC30FXXXX", "Blank Check", 32804, "", true},
    {"File>PIC30FXXXX", "Erase Flash", 32800, "", true},
    {"File>PIC30FXXXX", "Read CPU ID", 32803, "", true},
    {"File>TN835 Production Programming", "Version 4", 32851, "", true},
    {"File>TN835 Production Programming", "Version 5", 32852, "", true},
    {"File>TN835 Tools>Boot", "Read CPU ID", 32839, "Reads an TN820's Controller's ID via its JTAG port (A Universal Programming Bix is required).", true},
    {"File>TN835 Tools>Boot", "Erase Program Flash", 32838, "Erases the program memory on an TN820 Controller via its serial port. This requires the controller to be in PROGRAM mode.", true},
    {"File>TN835 Tools>Boot", "Erase Data Flash", 32840, "Erases the data memory on an TN820 Controller via its serial port. This requires the controller to be in PROGRAM mode.", true},
    {"File", "Data Backup", 32842, "Allows backup or restore of an RQ750's part library.", true},
    {"File", "Serial Tester", 32848, "Sends and recieves data from any serial port", true},
    {"File", "E&xit", 57665, "Quit the application", true},
    {"View", "Stay On Top", 32786, "Prevents the Tarnvale main window from being covered by other windows when checked.", true},
    {"View", "Clear View", 32792, "Clears any text from the Tarnvale main window.", true},
    {"Setup>Port", "Primary Port", 32818, "Sets the Primary Port parameters.", true},
    {"Setup>Port", "Universal Programmer Port", 32819, "Sets the Port Parameters used to communicate with the Universal Programmer Box.", true},
    {"Setup>Colors", "Back Ground", 32789, "Sets the window background color", true},
    {"Setup>Colors", "Fore Ground", 32790, "Sets the window text color", true},
    {"&Help", "About", 32784, "Displays the Tarnvale version number", true},
    {"&Help", "Universal Programmer Version", 32834, "Displays the Universal Programming Box's version number (you must be connected to a Unversal Programming Box).", true},
};

// Start-up: title, the open primary port, the status panes and the whole
// menu. (The terminal's copy and paste keys are tried in TerminalViewTest.)
TEST(MainFrame, StartsWithItsWindowPortStatusBarMenuAndAccelerators) {
  FrameOnPty f;
  EXPECT_EQ(f.frame->windowTitle(), "Tarnvale");
  EXPECT_TRUE(f.op.messages.empty());
  ASSERT_NE(f.frame->Link().PrimaryPort(), nullptr);
  EXPECT_TRUE(f.frame->Link().PrimaryPort()->IsOpen());
  EXPECT_EQ(f.frame->Link().PrimaryPortName(), f.pty.SlavePath());
  EXPECT_EQ(f.frame->StatusPane(0)->text(), "Ready");
  const std::string capture = std::string(std::getenv("HOME")) + "/TarnvaleOutput.txt";
  EXPECT_EQ(f.frame->StatusPane(1)->text().toStdString(), "Log File: " + capture);

  // The whole menu in order. Items of features not built yet are disabled.
  const std::vector<MenuItem> menu = MenuOf(*f.frame);
  ASSERT_EQ(menu.size(), kExpectedMenu.size());
  for (std::size_t i = 0; i < menu.size(); ++i) EXPECT_EQ(menu[i], kExpectedMenu[i]) << "row " << i;
}

TEST(MainFrame, UnavailablePortIsReportedAndTheWindowStillOpens) {
  ConfigData settings;
  test::SaveFreshSettings(settings, "/nonexistent/ttyQ9");
  test::RecordingOperator op;
  CMainFrame frame(settings, &op);
  // The port and the system's reason.
  ASSERT_EQ(op.MessageTexts(),
            std::vector<std::string>{"Error in Opening Port: /nonexistent/ttyQ9: No such file or directory"});
  EXPECT_FALSE(frame.Link().PrimaryPort()->IsOpen());
  EXPECT_TRUE(frame.CommandAction(cmd::kSetupPrimaryPort)->isEnabled());
}

TEST(MainFrame, StoredTcpIpMeansTheIpAddressAtStartUp) {
  test::LoopbackServer server;
  ConfigData settings;
  test::SaveFreshSettings(settings, "TCP/IP");
  settings.SetIPAddress(server.Address());
  test::RecordingOperator op;
  CMainFrame frame(settings, &op);
  EXPECT_TRUE(op.messages.empty());
  ASSERT_TRUE(server.Accept());
  EXPECT_TRUE(frame.Link().PrimaryPort()->IsTcp());
  server.Send("over tcp\n\r");
  auto* edit = frame.TerminalView()->Edit();
  EXPECT_TRUE(test::PumpUntil([&] { return edit->toPlainText() == "over tcp\n"; }));
}

TEST(MainFrame, ColoursAreShownAndSaved) {
  FrameOnPty f;
  std::optional<std::uint32_t> answer = 0x00332211;  // red 0x11, green 0x22, blue 0x33
  std::uint32_t offered = 0xDEAD;
  f.frame->SetDialogs({{}, [&](std::uint32_t current, QWidget*) {
                         offered = current;
                         return answer;
                       }, {}});
  f.frame->RunCommand(cmd::kBackGroundColor);
  EXPECT_EQ(offered, 0xFFFFFFu);  // the stored white was offered
  auto* edit = f.frame->TerminalView()->Edit();
  EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(0x11, 0x22, 0x33));
  answer = 0x000000FF;
  f.frame->RunCommand(cmd::kForeGroundColor);
  EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(0xFF, 0, 0));
  answer.reset();  // cancelled: nothing changes
  f.frame->RunCommand(cmd::kForeGroundColor);

  ConfigData reloaded;
  reloaded.Load();
  EXPECT_EQ(reloaded.GetBackGroundTextColor(), 0x00332211u);
  EXPECT_EQ(reloaded.GetForeGroundTextColor(), 0x000000FFu);
}

// A command holds the terminal off the port until it ends.
TEST(MainFrame, CommandBracketsSwitchPolling) {
  FrameOnPty f;
  f.frame->Link().BeginCommand();
  EXPECT_FALSE(f.frame->TerminalView()->IsPolling());
  f.pty.Send("held\n\r");
  test::Pump(100);
  auto* edit = f.frame->TerminalView()->Edit();
  EXPECT_EQ(edit->toPlainText(), "");
  f.frame->Link().EndCommand();
  EXPECT_TRUE(f.frame->TerminalView()->IsPolling());
  EXPECT_EQ(f.frame->StatusPane(0)->text(), "Ready");
  EXPECT_EQ(f.frame->StatusPane(1)->text(), "Test Pane");
  f.pty.Send("after\n\r");
  EXPECT_TRUE(test::PumpUntil([&] { return edit->toPlainText().contains("after\n"); }));
}

}  // namespace
}  // namespace tarnvale::gui
