#include "gui/programmer/ProgrammerCommands.h"

#include <memory>

#include "core/programmer/BootFlash.h"
#include "core/programmer/BoxWorkflows.h"
#include "core/programmer/PicCommands.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/flash/QtJobRunner.h"
#include "gui/programmer/CSerialRevisionInput.h"
#include "gui/programmer/TestCPUDialog.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {

void InstallProgrammerCommands(CMainFrame& frame) {
  frame.SetCommandHandler(cmd::kProgrammerVersion,
                          [&frame] { ShowProgrammerVersion(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kReadJtagId,
                          [&frame] { ShowCpu386JtagId(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kTN835ReadCpuId,
                          [&frame] { ShowTn835CpuId(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kJtagTest7193, [&frame] {
    RunCpuBoardTest(frame.Link(), frame.Op(), [&frame](CommPort& port) {
      OnGuiThread(&frame, [&] {
        TestCPUDialog dialog(port, frame.Op(), &frame);
        dialog.exec();
      });
    });
  });

  // PIC18F252 and dsPIC30F: each command brackets itself and has shown its
  // outcome when it returns.
  auto runner = std::make_shared<QtJobRunner>(&frame, frame.Op());
  frame.SetCommandHandler(cmd::kPic18Flash, [&frame, runner] { FlashPic18F252(frame.Link(), frame.Op(), *runner); });
  frame.SetCommandHandler(cmd::kPic30Flash, [&frame, runner] { FlashDsPic30F(frame.Link(), frame.Op(), *runner); });
  // Each chip's own menu items; a further chip is one more line.
  struct PicMenu {
    Target target;
    int readEeprom, blankCheck, eraseFlash, readCpuId;
  };
  for (const PicMenu& m : {PicMenu{Target::Pic18F252, cmd::kPic18ReadEeprom, cmd::kPic18BlankCheck,
                                   cmd::kPic18EraseFlash, cmd::kPic18ReadCpuId},
                           PicMenu{Target::DsPic30F, cmd::kPic30ReadEeprom, cmd::kPic30BlankCheck,
                                   cmd::kPic30EraseFlash, cmd::kPic30ReadCpuId}}) {
    const Target target = m.target;
    frame.SetCommandHandler(m.readEeprom,
                            [&frame, runner, target] { ReadPicEeprom(frame.Link(), frame.Op(), *runner, target); });
    frame.SetCommandHandler(m.blankCheck, [&frame, target] { PicBlankCheck(frame.Link(), frame.Op(), target); });
    frame.SetCommandHandler(m.eraseFlash, [&frame, target] { PicEraseFlash(frame.Link(), frame.Op(), target); });
    frame.SetCommandHandler(m.readCpuId, [&frame, target] { ReadCpuId(frame.Link(), frame.Op(), target); });
  }
  frame.SetCommandHandler(cmd::kPic18LoadEepromData, [&frame] { LoadPic18EepromData(frame.Link(), frame.Op()); });
  frame.SetCommandHandler(cmd::kPic18TestEeprom, [&frame] { TestPic18Eeprom(frame.Link(), frame.Op()); });

  // The boot flash of the CPU board.
  frame.SetCommandHandler(cmd::kFlash7193Boot, [&frame, runner] {
    QtSerialRevisionForm form(&frame);
    ProgramBootFlash(frame.Link(), frame.Op(), *runner, form);
  });
  frame.SetCommandHandler(cmd::kReadFlashBootImage, [&frame, runner] {
    ReadBootFlash(frame.Link(), frame.Op(), *runner, 0, [&frame] {
      return OnGuiThread<std::optional<std::string>>(&frame, [&] { return AskCpuRevision(&frame); });
    });
  });

  // Every command here talks to the box, whose JTAG reads take seconds:
  // each runs on a worker thread and opens its dialogs on the GUI thread.
  for (const int id : {cmd::kProgrammerVersion, cmd::kReadJtagId, cmd::kTN835ReadCpuId, cmd::kJtagTest7193,
                       cmd::kPic18Flash, cmd::kPic30Flash, cmd::kPic18ReadEeprom, cmd::kPic30ReadEeprom,
                       cmd::kPic18BlankCheck, cmd::kPic30BlankCheck, cmd::kPic18EraseFlash, cmd::kPic30EraseFlash,
                       cmd::kPic18ReadCpuId, cmd::kPic30ReadCpuId, cmd::kPic18LoadEepromData, cmd::kPic18TestEeprom,
                       cmd::kFlash7193Boot, cmd::kReadFlashBootImage}) {
    frame.MakeDeviceCommand(id);
  }
}

}  // namespace tarnvale::gui
