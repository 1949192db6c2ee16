// The CPU board test dialog and its pin lists, offscreen, against the
// simulated box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <chrono>

#include "GuiSupport.h"
#include "core/programmer/BoxWorkflows.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CommandIds.h"
#include "gui/programmer/CPinStateDialog.h"
#include "gui/programmer/TestCPUDialog.h"
#include "gui/ui/CXListBox.h"
#include "support/SimBox.h"

namespace tarnvale::gui {
namespace {

bool ListHas(QListWidget* list, const QString& text) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->item(i)->text().contains(text)) return true;
  }
  return false;
}

sim::BoxOptions Box(char revision, std::uint32_t ramMs = 200) {
  sim::BoxOptions o;
  o.cpuRevision = revision;
  o.ramMs = ramMs;
  return o;
}

TEST(TestCPUDialogGui, ReadsFlashIdEnablesButtonsAndRunsTheCpuTest) {
  test::SimBox box(Box('D'));
  test::RecordingOperator op;
  TestCPUDialog dialog(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()));
  std::vector<std::string> pinTitles;
  dialog.SetPinDialogRunner([&](const PinImage&, const PinImage&, const std::string& t) {
    pinTitles.push_back(t);
  });
  EXPECT_EQ(dialog.windowTitle(), "Test");
  EXPECT_FALSE(dialog.Button(TestButton::ProgramBoot)->isEnabled());
  dialog.show();
  ASSERT_TRUE(test::PumpUntil([&] { return ListHas(dialog.List(), "S29JL064H Spansion"); }));
  for (TestButton b : {TestButton::BlankTest, TestButton::EraseFlash, TestButton::VerifyFlash,
                       TestButton::ReadBoot, TestButton::ProgramBoot, TestButton::LoadRam,
                       TestButton::TestRam, TestButton::TestCpu}) {
    EXPECT_TRUE(dialog.Button(b)->isEnabled()) << ButtonCaption(b);
  }
  EXPECT_EQ(dialog.Bank()->maximum(), 5);
  EXPECT_EQ(dialog.Field(BoardField::CpuSerial)->text(), "CPU0001");
  EXPECT_EQ(dialog.Field(BoardField::CpuRevision)->text(), "D");

  dialog.Button(TestButton::TestCpu)->click();
  EXPECT_EQ(pinTitles.size(), 6u);
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{"Success"});
  QListWidget* list = dialog.List();
  EXPECT_EQ(list->item(list->count() - 1)->text(), "Turn off CPU test");
  // The newest line is in view.
  EXPECT_TRUE(list->visualItemRect(list->item(list->count() - 1)).intersects(list->viewport()->rect()));

  // A revision that does not fit the board's chip: boot and RAM buttons off.
  dialog.Field(BoardField::CpuRevision)->setText("B");
  dialog.Button(TestButton::ReadFlashId)->click();
  EXPECT_TRUE(ListHas(list, " -> Unknown"));
  EXPECT_FALSE(dialog.Button(TestButton::EraseFlash)->isEnabled());
  EXPECT_FALSE(dialog.Button(TestButton::TestRam)->isEnabled());
  EXPECT_EQ(dialog.Bank()->maximum(), 1);
  dialog.reject();
}

// Answers the next `count` "Pin States" windows: records each title and its
// red rows, then closes it.
void AnswerPinDialogs(std::vector<std::pair<std::string, std::vector<std::string>>>& seen,
                      std::size_t count) {
  test::AnswerNextModal([&seen, count](QWidget* w) {
    auto* pins = qobject_cast<CPinStateDialog*>(w);
    if (pins == nullptr) return;
    std::vector<std::string> red;
    for (int i = 0; i < pins->List()->count(); ++i) {
      const QByteArray stored = pins->List()->item(i)->data(CXListBox::kStoredRole).toByteArray();
      if (stored.at(1) == CXListBox::Red + 1) red.push_back(pins->List()->item(i)->text().simplified().toStdString());
    }
    seen.emplace_back(pins->windowTitle().toStdString(), red);
    pins->accept();
    if (seen.size() < count) AnswerPinDialogs(seen, count);
  });
}

TEST(TestCPUDialogGui, TestCpuOnAFaultyBoardShowsEachStageInPinStates) {
  sim::BoxOptions o = Box('C');
  o.stuck.emplace_back(PinByName("A7"), false);
  test::SimBox box(o);
  test::RecordingOperator op;
  TestCPUDialog dialog(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()));
  dialog.show();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog.Button(TestButton::TestCpu)->isEnabled() && dialog.List()->count() > 0; }));
  std::vector<std::pair<std::string, std::vector<std::string>>> seen;
  AnswerPinDialogs(seen, 7);
  dialog.Button(TestButton::TestCpu)->click();
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0].first, "Set All Pins Low and Test");
  EXPECT_TRUE(seen[0].second.empty());
  EXPECT_EQ(seen[1].first, "Set All Pins High and Test");
  EXPECT_EQ(seen[1].second, std::vector<std::string>{"A7 1 0"});
  EXPECT_EQ(seen[6].first, "Test walking 0's on Data Lines");
  EXPECT_EQ(seen[6].second, std::vector<std::string>{"A7 1 0"});
  // A mismatch is told by the pin lists, not by a message.
  EXPECT_TRUE(op.MessageTexts().empty());
  EXPECT_TRUE(dialog.Button(TestButton::TestCpu)->isEnabled());
  dialog.reject();
}

TEST(TestCPUDialogGui, ClosingDuringARamTestNeitherHangsNorWritesLate) {
  test::SimBox box(Box('C', 700));
  test::RecordingOperator op;
  auto dialog = std::make_unique<TestCPUDialog>(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()));
  dialog->show();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog->Button(TestButton::TestRam)->isEnabled(); }));
  dialog->Bank()->setValue(2);
  dialog->Button(TestButton::TestRam)->click();
  EXPECT_TRUE(ListHas(dialog->List(), "Testing RAM Bank 2"));
  ASSERT_TRUE(test::PumpUntil([&] { return dialog->Progress()->value() > 0; }));
  EXPECT_FALSE(dialog->Button(TestButton::TestCpu)->isEnabled());
  const auto t0 = std::chrono::steady_clock::now();
  dialog->reject();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30)) << "a close that hangs";
  dialog.reset();
  test::Pump(100);
  EXPECT_TRUE(op.MessageTexts().empty());
  EXPECT_EQ(box.Device().LineTest(), 0);
}

TEST(TestCPUDialogGui, RamTestFailureIsShownWithItsAddress) {
  sim::BoxOptions o = Box('C', 100);
  o.ramFailAddress = 0x80;
  o.ramFailData1 = 0xAA;
  o.ramFailData2 = 0xAB;
  test::SimBox box(o);
  test::RecordingOperator op;
  TestCPUDialog dialog(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()));
  dialog.show();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog.Button(TestButton::TestRam)->isEnabled(); }));
  dialog.Button(TestButton::TestRam)->click();
  ASSERT_TRUE(test::PumpUntil([&] { return !op.MessageTexts().empty(); }));
  EXPECT_EQ(op.MessageTexts(),
            std::vector<std::string>{"Failed at address = 0x80, Data1 = 0xAA, Data2 = 0xAB "});
  EXPECT_EQ(dialog.Progress()->value(), 0);
  EXPECT_TRUE(dialog.Button(TestButton::TestRam)->isEnabled());
  dialog.reject();
}

TEST(PinStateDialogGui, RowsColouredByAgreementWithoutUnusedPins) {
  PinImage expected = PinImage::Initial();
  PinImage read = expected;
  read.SetLevel(PinByName("D3"), !expected.Level(PinByName("D3")));
  CPinStateDialog dialog(expected, read, "Test walking 1's on Data Lines");
  EXPECT_EQ(dialog.windowTitle(), "Test walking 1's on Data Lines");
  CXListBox* list = dialog.List();
  ASSERT_EQ(list->count(), 101);
  for (int i = 0; i < list->count(); ++i) {
    const QByteArray stored = list->item(i)->data(CXListBox::kStoredRole).toByteArray();
    const bool d3 = list->item(i)->text().trimmed().startsWith("D3 ");
    EXPECT_FALSE(list->item(i)->text().contains("Unused"));
    EXPECT_EQ(stored.at(0), 1) << i;  // black text
    EXPECT_EQ(stored.at(1), (d3 ? CXListBox::Red : CXListBox::Lime) + 1) << list->item(i)->text().toStdString();
  }
}

TEST(ProgrammerMenuGui, TestCommandOpensTheDialogOnTheProgrammerPort) {
  test::SimBox box(Box('C'), false);
  test::FrameOnPty f;
  f.settings.SetAuxCOMPort(box.Path());
  bool sawDialog = false, ramOnAtClose = false;
  test::AnswerNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<TestCPUDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    sawDialog = true;
    QObject::connect(dialog, &QDialog::finished,
                     [&, dialog] { ramOnAtClose = dialog->Button(TestButton::TestRam)->isEnabled(); });
    // Opening reads the flash ID (1.5 s of the box's settling time) off the
    // GUI thread; a close meanwhile waits for it, and the buttons it turned
    // on are on when the dialog goes.
    test::PumpUntil([&] { return ListHas(dialog->List(), "M29F016D"); });
    dialog->reject();
  });
  EXPECT_TRUE(f.frame->RunCommand(cmd::kJtagTest7193));
  EXPECT_TRUE(sawDialog);
  EXPECT_TRUE(ramOnAtClose);
  EXPECT_EQ(box.Device().Target(), 4);
  EXPECT_TRUE(f.op.MessageTexts().empty());
  EXPECT_FALSE(f.frame->Link().ProgrammerPort()->IsOpen());
}

}  // namespace
}  // namespace tarnvale::gui
