// What a person used to desktop programs expects: titles that are not cut,
// Alt and a letter for every button (the menus' letters are in the menu
// table), Enter for the default button and Escape for Cancel.
#include <gtest/gtest.h>

#include <QKeySequence>
#include <QLayout>
#include <set>

#include "GuiSupport.h"
#include "core/backup/DataBackupModel.h"
#include "core/flash/Workflows.h"
#include "core/programmer/PinImage.h"
#include "core/roles/PortRoles.h"
#include "core/tools/SerialTest.h"
#include "gui/app/CAboutDlg.h"
#include "gui/backup/CDataBackup.h"
#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/flash/CMemoryReadDialog.h"
#include "gui/production/CNAVNum.h"
#include "gui/production/CTN820ProductionDialog.h"
#include "gui/programmer/CPinStateDialog.h"
#include "gui/programmer/CSerialRevisionInput.h"
#include "gui/programmer/TestCPUDialog.h"
#include "gui/settings/CPortSettings.h"
#include "gui/tools/CSerialTest.h"
#include "gui/ui/TitleFit.h"

namespace tarnvale::gui {
namespace {

using Factory = std::function<std::unique_ptr<QDialog>()>;

// What the dialogs below are made of; nothing here talks to a device.
struct Parts {
  Parts() : link(settings), box(port), revision(box, record) {
    test::ForgetSettings();
    settings.Load();
  }
  ConfigData settings;
  LinkState link;
  CommPort port;  // never opened
  test::RecordingOperator op;
  BoxLink box;
  BoardInfoRecord record{};
  SerialRevisionInput revision;
  backup::DataBackupModel backup{link, op};
  struct Runner : JobRunner {
    ResultCode RunProgramming(const ProgrammingRequest&) override { return rc::kSuccess; }
    ResultCode RunMemoryRead(const MemoryReadRequest&) override { return rc::kSuccess; }
  } runner;
};

struct DialogCase {
  const char* title;
  Factory make;
  bool shown;  // safe to show: opening it starts no run
};

std::vector<DialogCase> EveryDialog(Parts& p) {
  auto ports = [] { return std::vector<PortInfo>{{"/dev/ttyUSB0", "FT232R USB UART"}}; };
  return {
      {"NAV Number Check", [] { return std::make_unique<CNAVNum>(); }, true},
      {"Enter Serial / Revision Numbers",
       [&p] { return std::make_unique<CSerialRevisionInput>(p.revision); }, true},
      {"Primary Port",
       [&p, ports] { return std::make_unique<CPortSettings>(p.settings, PortRole::Primary, nullptr, ports); },
       true},
      {"Universal Programmer Port",
       [&p, ports] { return std::make_unique<CPortSettings>(p.settings, PortRole::Programmer, nullptr, ports); },
       true},
      {"About Tarnvale", [] { return std::make_unique<CAboutDlg>(); }, true},
      {"Test walking 1's on Data Lines",
       [] {
         return std::make_unique<CPinStateDialog>(PinImage::Initial(), PinImage::Initial(),
                                                  "Test walking 1's on Data Lines");
       },
       true},
      {"Serial Tester",
       [&p] {
         return std::make_unique<CSerialTest>([&p](Operator& dialogOperator) {
           return std::make_unique<SerialTestModel>(p.port, [](const std::string&) {}, dialogOperator);
         });
       },
       true},
      {"Data Backup", [&p] { return std::make_unique<CDataBackup>(p.backup); }, false},
      {"TN835 Production Programming",
       [&p] {
         return std::make_unique<CTN820ProductionDialog>(p.settings, nullptr, 5, p.link, p.op, p.runner);
       },
       false},
      {"Test", [&p] { return std::make_unique<TestCPUDialog>(p.port, p.op); }, false},
      {"Load Memory", [&p] { return std::make_unique<CLoadMemoryDialog>(ProgrammingRequest{}, p.op); }, false},
      {"Read Memory", [&p] { return std::make_unique<CMemoryReadDialog>(MemoryReadRequest{}, p.op); }, false},
  };
}

// The width a dialog opens with: the size it was given, else what its
// layout asks for (the dialogs that start a run when shown stay hidden).
int DefaultWidth(QDialog& d) {
  d.ensurePolished();
  if (d.layout() != nullptr) d.layout()->activate();
  if (d.testAttribute(Qt::WA_Resized)) return d.width();
  return std::max(d.sizeHint().width(), d.minimumWidth());
}

// Every dialog is as wide as its title at its default size, and every
// button of it has a mnemonic of its own.
TEST(DesktopHabits, EveryDialogIsAsWideAsItsTitleAndItsButtonsHaveMnemonics) {
  Parts parts;
  for (const DialogCase& c : EveryDialog(parts)) {
    auto d = c.make();
    SCOPED_TRACE(d->windowTitle().toStdString());
    EXPECT_EQ(d->windowTitle(), c.title);
    std::set<int> keys;
    const auto buttons = d->findChildren<QPushButton*>();
    ASSERT_FALSE(buttons.isEmpty());
    for (QPushButton* b : buttons) {
      const QKeySequence key = QKeySequence::mnemonic(b->text());
      EXPECT_FALSE(key.isEmpty()) << b->text().toStdString();
      if (!key.isEmpty()) {
        EXPECT_TRUE(keys.insert(key[0].toCombined()).second) << b->text().toStdString();
      }
    }
    if (c.shown) {
      d->show();
      ASSERT_TRUE(test::PumpUntil([&] { return d->isVisible(); }));
      EXPECT_GE(d->width(), TitleWidth(d->windowTitle()));
    } else {
      EXPECT_GE(DefaultWidth(*d), TitleWidth(d->windowTitle()));
    }
  }
}

// Enter presses the default button (OK, or the only one) and Escape cancels,
// also from the field that has the focus.
TEST(DesktopHabits, EnterAcceptsAndEscapeCancels) {
  Parts parts;
  for (const DialogCase& c : EveryDialog(parts)) {
    if (!c.shown || QString(c.title) == "Serial Tester") continue;
    for (const auto& [key, result] : {std::pair{Qt::Key_Return, QDialog::Accepted},
                                      std::pair{Qt::Key_Escape, QDialog::Rejected}}) {
      SCOPED_TRACE(std::string(c.title) + (key == Qt::Key_Return ? " Enter" : " Escape"));
      auto d = c.make();
      test::AnswerNextModal([k = key](QWidget* w) {
        QWidget* focus = w->focusWidget() != nullptr ? w->focusWidget() : w;
        QTest::keyClick(focus, k);
      });
      EXPECT_EQ(d->exec(), result);
    }
  }
}

}  // namespace
}  // namespace tarnvale::gui
