// The CPU board test dialog and its pin lists, offscreen, against the
// simulated box.
#include <gtest/gtest.h>

#include <QSpinBox>
#include <atomic>
#include <chrono>
#include <thread>

#include "GuiSupport.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BoxWorkflows.h"
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

// The test dialog, shown, on a simulated box whose clock its waits run by.
struct OnBox {
  explicit OnBox(const sim::BoxOptions& o)
      : box(o),
        dialog(std::make_unique<TestCPUDialog>(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()))) {
    dialog->show();
  }
  // Once the flash ID read that opening starts has turned `button` on.
  bool Ready(TestButton button) {
    return test::PumpUntil([&] { return dialog->Button(button)->isEnabled() && dialog->List()->count(); });
  }
  test::SimBox box;
  test::RecordingOperator op;
  std::unique_ptr<TestCPUDialog> dialog;
};

TEST(TestCPUDialogGui, ReadsFlashIdEnablesButtonsAndRunsTheCpuTest) {
  OnBox on(Box('D'));
  TestCPUDialog& dialog = *on.dialog;
  std::vector<std::string> pinTitles;
  dialog.SetPinDialogRunner([&](const PinTestReport& report) {
    for (const auto& stage : report.stages) pinTitles.push_back(stage.title);
  });
  EXPECT_FALSE(dialog.Button(TestButton::ProgramBoot)->isEnabled());
  // Which buttons the flash ID turns on is the model's; the dialog follows.
  ASSERT_TRUE(test::PumpUntil([&] { return ListHas(dialog.List(), "S29JL064H Spansion"); }));
  EXPECT_TRUE(dialog.Button(TestButton::ProgramBoot)->isEnabled());
  EXPECT_EQ(dialog.Field(BoardField::CpuSerial)->text(), "CPU0001");
  EXPECT_EQ(dialog.Field(BoardField::CpuRevision)->text(), "D");

  dialog.Button(TestButton::TestCpu)->click();
  EXPECT_EQ(pinTitles.size(), 6u);
  EXPECT_EQ(on.op.MessageTexts(), std::vector<std::string>{"Success"});
  QListWidget* list = dialog.List();
  EXPECT_EQ(list->item(list->count() - 1)->text(), "Turn off CPU test");
}

// What the one "Pin States" window of a run showed.
struct PinWindow {
  std::string title;
  std::string verdict;
  std::vector<std::string> summaryRed;             // the failing rows of the summary, in order
  std::vector<std::vector<std::string>> stageRed;  // each stage's failing rows
};

std::vector<std::string> RedRows(CXListBox* list) {
  std::vector<std::string> red;
  for (int i = 0; i < list->count(); ++i) {
    const QByteArray stored = list->item(i)->data(CXListBox::kStoredRole).toByteArray();
    if (stored.at(1) == CXListBox::Red + 1) red.push_back(list->item(i)->text().simplified().toStdString());
  }
  return red;
}

void AnswerPinWindow(PinWindow& seen) {
  test::AnswerNextModal([&seen](QWidget* w) {
    auto* pins = qobject_cast<CPinStateDialog*>(w);
    if (pins == nullptr) return;
    seen.title = pins->windowTitle().toStdString();
    seen.verdict = pins->Verdict()->text().toStdString();
    seen.summaryRed = RedRows(pins->Summary());
    for (int i = 0; i < pins->StageCount(); ++i) seen.stageRed.push_back(RedRows(pins->StageList(i)));
    pins->accept();
  });
}

TEST(TestCPUDialogGui, TestCpuOnAFaultyBoardShowsTheSummaryAboveTheStages) {
  sim::BoxOptions o = Box('C');
  o.stuck.emplace_back(PinByName("A7"), false);
  o.shorts.emplace_back(PinByName("D3"), PinByName("D4"));
  OnBox on(o);
  ASSERT_TRUE(on.Ready(TestButton::TestCpu));
  PinWindow seen;
  AnswerPinWindow(seen);
  on.dialog->Button(TestButton::TestCpu)->click();
  EXPECT_EQ(seen.title, "Pin States");
  EXPECT_EQ(seen.verdict, "CPU pin test failed: 3 failing pins");
  // Failing rows, each with its diagnosis (worded by the core).
  ASSERT_EQ(seen.summaryRed.size(), 3u);
  EXPECT_EQ(seen.summaryRed[0].rfind("A7 A7 stuck at 0 ", 0), 0u) << seen.summaryRed[0];
  ASSERT_EQ(seen.stageRed.size(), 7u);
  EXPECT_EQ(seen.stageRed[1], std::vector<std::string>{"A7 1 0"});
  // Walking 1's on the data lines: both steps' failures kept, failing rows first.
  EXPECT_EQ(seen.stageRed[5], (std::vector<std::string>{"D3 1 0", "D4 1 0"}));
  EXPECT_EQ(on.op.MessageTexts(), std::vector<std::string>{"CPU pin test failed: 3 failing pins"});
  EXPECT_TRUE(ListHas(on.dialog->List(), "A7 stuck at 0"));
  EXPECT_TRUE(on.dialog->Button(TestButton::TestCpu)->isEnabled());
}

// A running line test says on its button how to stop it, keeping its
// letter; the bank is fixed while a RAM run uses it.
TEST(TestCPUDialogGui, RunningTestsShowTheirTrueState) {
  OnBox on(Box('C', 700));
  TestCPUDialog& dialog = *on.dialog;
  ASSERT_TRUE(on.Ready(TestButton::TestRam));

  QPushButton* data = dialog.Button(TestButton::TestData);
  const QString idle = data->text();
  data->click();
  EXPECT_EQ(data->text().toStdString(), "Turn off &Data Line Test");
  EXPECT_FALSE(dialog.Bank()->isEnabled());
  data->click();
  EXPECT_EQ(data->text(), idle);

  EXPECT_TRUE(dialog.Bank()->isEnabled());
  dialog.Button(TestButton::TestRam)->click();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog.Progress()->value() > 0; }));
  EXPECT_FALSE(dialog.Bank()->isEnabled());
  ASSERT_TRUE(test::PumpUntil([&] { return !on.op.MessageTexts().empty(); }));
  EXPECT_TRUE(dialog.Bank()->isEnabled());
}

// Closing the dialog while the CPU pin test runs: the box holds its answer
// to the tenth sample until the close was asked for, so the test has most
// of its steps to go; it ends at the next one, with no verdict and no pin
// window for a dialog that is going.
TEST(TestCPUDialogGui, ClosingDuringACpuPinTestStopsItAndShowsNothing) {
  std::unique_ptr<TestCPUDialog> dialog;
  std::atomic<bool> closeAsked{false};
  std::atomic<int> samples{0};
  test::SimBox box(Box('C'), true, [&](const std::string& packet) {
    if (packet.find("type 0x22") == std::string::npos || ++samples != 10) return;
    QMetaObject::invokeMethod(dialog.get(), [&] { dialog->reject(); closeAsked = true; }, Qt::QueuedConnection);
    for (int i = 0; i < 20000 && !closeAsked; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  test::RecordingOperator op;
  dialog = std::make_unique<TestCPUDialog>(box.Port(), op, nullptr, test::FastBoxTimings());
  bool pinWindow = false;
  dialog->SetPinDialogRunner([&](const PinTestReport&) { pinWindow = true; });
  dialog->show();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog->Button(TestButton::TestCpu)->isEnabled(); }));
  dialog->Button(TestButton::TestCpu)->click();
  ASSERT_TRUE(test::PumpUntil([&] { return !dialog->isVisible(); }));
  EXPECT_TRUE(closeAsked);
  EXPECT_LT(samples.load(), 20) << "the run went on after the close";
  EXPECT_FALSE(pinWindow);
  EXPECT_TRUE(op.MessageTexts().empty());
  dialog.reset();
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
