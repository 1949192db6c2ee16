#pragma once
// Command ids of the main window's menu and accelerators.

namespace tarnvale::gui::cmd {

inline constexpr int kFlashRQ700 = 32780;
inline constexpr int kDumpRQ700Memory = 32843;
inline constexpr int kFlashTN835 = 32833;
inline constexpr int kFlash7193Boot = 32809;
inline constexpr int kJtagTest7193 = 32810;
inline constexpr int kReadFlashBootImage = 32811;
inline constexpr int kReadJtagId = 32813;
inline constexpr int kLoad = 32781;
inline constexpr int kPic18Flash = 32794;
inline constexpr int kPic18ReadEeprom = 32796;
inline constexpr int kPic18BlankCheck = 32797;
inline constexpr int kPic18EraseFlash = 32798;
inline constexpr int kPic18LoadEepromData = 32805;
inline constexpr int kPic18TestEeprom = 32806;
inline constexpr int kPic18ReadCpuId = 32807;
inline constexpr int kPic30Flash = 32801;
inline constexpr int kPic30ReadEeprom = 32802;
inline constexpr int kPic30BlankCheck = 32804;
inline constexpr int kPic30EraseFlash = 32800;
inline constexpr int kPic30ReadCpuId = 32803;
inline constexpr int kTN835ProductionV4 = 32851;
inline constexpr int kTN835ProductionV5 = 32852;
inline constexpr int kTN835ReadCpuId = 32839;
inline constexpr int kTN835EraseProgramFlash = 32838;
inline constexpr int kTN835EraseDataFlash = 32840;
inline constexpr int kDataBackup = 32842;
inline constexpr int kSerialTester = 32848;
inline constexpr int kExit = 57665;
inline constexpr int kStayOnTop = 32786;
inline constexpr int kClearView = 32792;
inline constexpr int kSetupPrimaryPort = 32818;
inline constexpr int kSetupProgrammerPort = 32819;
inline constexpr int kBackGroundColor = 32789;
inline constexpr int kForeGroundColor = 32790;
inline constexpr int kAbout = 32784;
inline constexpr int kProgrammerVersion = 32834;

// Accelerator table 128 of the main window.
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditUndo = 57643;
inline constexpr int kNextPane = 57680;
inline constexpr int kPrevPane = 57681;

// Accelerator table 138 of the terminal view (swallowed keys).
inline constexpr int kTerminalCtrlUp = 32793;
inline constexpr int kTerminalCtrlDown = 32847;

}  // namespace tarnvale::gui::cmd
