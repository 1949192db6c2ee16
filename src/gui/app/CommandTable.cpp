#include "gui/app/CommandTable.h"

#include <array>

#include "gui/app/CommandIds.h"

namespace tarnvale::gui {
namespace {

constexpr CommandRow kRows[] = {
    {"File", "Flash RQ700 Series", cmd::kFlashRQ700,
     "Loads an Application Image into an RQ700 Series Controller's flash memory"},
    {"File", "Dump RQ700 Series Memory", cmd::kDumpRQ700Memory,
     "Reads the contents of an RQ700 Series Controller's memory to a file"},
    {"File", "Flash TN835", cmd::kFlashTN835, "Used to program an TN835 controller."},
    {"File>7193 JTAG", "Flash 7193 Boot", cmd::kFlash7193Boot,
     "Program's an RQ700 Series Boot Image via its JTAG port. (A Universal Programming Box is "
     "required)."},
    {"File>7193 JTAG", "7193  JTAG Test", cmd::kJtagTest7193,
     "Miscellaneous tools which can be used on RQ700 Series Controllers via its JTAG port (A "
     "Universal Programming Box is required)."},
    {"File>7193 JTAG", "Read Flash Boot Image", cmd::kReadFlashBootImage,
     "Reads an RQ700 Series Controller's Boot Image via its JTAG port (A Universal Programming "
     "Box is required)."},
    {"File>7193 JTAG", "Read JTAG ID", cmd::kReadJtagId,
     "Reads an RQ700 Series Controller's ID via its JTAG port (A Universal Programming Box is "
     "required)."},
    {"File", "Load", cmd::kLoad,
     "Load a new Application Image into RQ700 Series RAM memory for debugging"},
    {"File>PIC18F252", "Flash PIC18F252", cmd::kPic18Flash, ""},
    {"File>PIC18F252", "Read EEPROM", cmd::kPic18ReadEeprom, ""},
    {"File>PIC18F252", "Blank Check", cmd::kPic18BlankCheck, ""},
    {"File>PIC18F252", "Erase Flash", cmd::kPic18EraseFlash, ""},
    {"File>PIC18F252", "Load EEPROM Data", cmd::kPic18LoadEepromData, ""},
    {"File>PIC18F252", "Test EEPROM", cmd::kPic18TestEeprom, ""},
    {"File>PIC18F252", "Read CPU ID", cmd::kPic18ReadCpuId, ""},
    {"File>PIC30FXXXX", "Flash dsPIC30F", cmd::kPic30Flash,
     "Loads an Application Image into a dsPIC30FXXXX flash memory"},
    {"File>PIC30FXXXX", "Read EEPROM", cmd::kPic30ReadEeprom, ""},
    {"File>PIC30FXXXX", "Blank Check", cmd::kPic30BlankCheck, ""},
    {"File>PIC30FXXXX", "Erase Flash", cmd::kPic30EraseFlash, ""},
    {"File>PIC30FXXXX", "Read CPU ID", cmd::kPic30ReadCpuId, ""},
    {"File>TN835 Production Programming", "Version 4", cmd::kTN835ProductionV4, ""},
    {"File>TN835 Production Programming", "Version 5", cmd::kTN835ProductionV5, ""},
    {"File>TN835 Tools>Boot", "Read CPU ID", cmd::kTN835ReadCpuId,
     "Reads an TN820's Controller's ID via its JTAG port (A Universal Programming Bix is "
     "required)."},
    {"File>TN835 Tools>Boot", "Erase Program Flash", cmd::kTN835EraseProgramFlash,
     "Erases the program memory on an TN820 Controller via its serial port. This requires the "
     "controller to be in PROGRAM mode."},
    {"File>TN835 Tools>Boot", "Erase Data Flash", cmd::kTN835EraseDataFlash,
     "Erases the data memory on an TN820 Controller via its serial port. This requires the "
     "controller to be in PROGRAM mode."},
    {"File", "Data Backup", cmd::kDataBackup, "Allows backup or restore of an RQ750's part library."},
    {"File", "Serial Tester", cmd::kSerialTester, "Sends and recieves data from any serial port"},
    {"File", "E&xit", cmd::kExit, "Quit the application"},
    {"View", "Stay On Top", cmd::kStayOnTop,
     "Prevents the Tarnvale main window from being covered by other windows when checked."},
    {"View", "Clear View", cmd::kClearView, "Clears any text from the Tarnvale main window."},
    {"Setup>Port", "Primary Port", cmd::kSetupPrimaryPort, "Sets the Primary Port parameters."},
    {"Setup>Port", "Universal Programmer Port", cmd::kSetupProgrammerPort,
     "Sets the Port Parameters used to communicate with the Universal Programmer Box."},
    {"Setup>Colors", "Back Ground", cmd::kBackGroundColor, "Sets the window background color"},
    {"Setup>Colors", "Fore Ground", cmd::kForeGroundColor, "Sets the window text color"},
    {"&Help", "About", cmd::kAbout, "Displays the Tarnvale version number"},
    {"&Help", "Universal Programmer Version", cmd::kProgrammerVersion,
     "Displays the Universal Programming Box's version number (you must be connected to a "
     "Unversal Programming Box)."},
};

constexpr AcceleratorRow kAccelerators[] = {
    {"Ctrl+C", cmd::kEditCopy},       {"Ctrl+Ins", cmd::kEditCopy},
    {"Ctrl+V", cmd::kEditPaste},      {"Shift+Ins", cmd::kEditPaste},
    {"Ctrl+X", cmd::kEditCut},        {"Shift+Del", cmd::kEditCut},
    {"Ctrl+Z", cmd::kEditUndo},       {"Alt+Backspace", cmd::kEditUndo},
    {"F6", cmd::kNextPane},           {"Shift+F6", cmd::kPrevPane},
};

}  // namespace

std::span<const CommandRow> CommandTable() { return kRows; }
std::span<const AcceleratorRow> AcceleratorTable128() { return kAccelerators; }

}  // namespace tarnvale::gui
