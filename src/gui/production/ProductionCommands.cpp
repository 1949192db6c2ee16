#include "gui/production/ProductionCommands.h"

#include <memory>

#include "core/production/NavNumber.h"
#include "core/roles/PortRoles.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/flash/QtJobRunner.h"
#include "gui/production/CNAVNum.h"
#include "gui/production/CTN820ProductionDialog.h"

namespace tarnvale::gui {
namespace {

void RunProductionDialog(CMainFrame& frame, QtJobRunner& runner, int generation,
                         const std::string& nav) {
  CTN820ProductionDialog dialog(frame.Settings(), &frame, generation, frame.Link(), frame.Op(),
                                runner, nav);
  dialog.exec();
}

// The generation commands ask for the unit's part number first.
void RunGeneration(CMainFrame& frame, QtJobRunner& runner, int generation) {
  frame.Link().BeginCommand();
  CNAVNum nav(&frame);
  if (nav.exec() == QDialog::Accepted) {
    std::string number;
    if (AcceptNavNumber(generation, nav.Text(), number)) {
      RunProductionDialog(frame, runner, generation, number);
    } else {
      frame.Op().ShowMessage(NavRejectionText(generation, nav.Text()));
    }
  }
  frame.Link().EndCommand();
}

}  // namespace

void InstallProductionCommands(CMainFrame& frame) {
  auto runner = std::make_shared<QtJobRunner>(&frame, frame.Op());
  frame.SetCommandHandler(cmd::kFlashTN835, [&frame, runner] {
    frame.Link().BeginCommand();
    RunProductionDialog(frame, *runner, 5, {});
    frame.Link().EndCommand();
  });
  frame.SetCommandHandler(cmd::kTN835ProductionV4, [&frame, runner] { RunGeneration(frame, *runner, 4); });
  frame.SetCommandHandler(cmd::kTN835ProductionV5, [&frame, runner] { RunGeneration(frame, *runner, 5); });
}

}  // namespace tarnvale::gui
