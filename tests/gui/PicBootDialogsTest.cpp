// The PIC and boot flash commands in the desktop application, offscreen,
// against the simulated box: a PIC18F252 flash started from the menu, and the
// test dialog's "Verify Flash" with every button off while it reads.
#include <gtest/gtest.h>

#include "GuiSupport.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/programmer/BootFlash.h"
#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/programmer/TestCPUDialog.h"
#include "support/ImageGen.h"
#include "support/SimBox.h"

namespace tarnvale::gui {
namespace {

// The menu command runs the programming dialog on the box's port: the box
// acknowledges records shown in the dialog, and "Stop" ends the run without
// a message. (The chip holding the image is the programmer tests' business.)
TEST(PicBootGui, FlashPic18F252FromTheMenuStreamsToTheBox) {
  test::SimBox box({}, false);
  test::RecordingOperator op;
  ConfigData settings;
  test::SaveFreshSettings(settings, "/nonexistent/controller");
  settings.SetAuxCOMPort(box.Path());
  CMainFrame frame(settings, &op);
  frame.Link().SetSelectWaitMs(test::kSimulatorSelectWaitMs);
  const auto dir = test::MakeTempDir("guipic");
  test::WriteHexImage(dir / "P.HEX", 0, test::PseudoRandomBytes(0x1000, 77));
  op.openFile = (dir / "P.HEX").string();
  QString title, status;
  test::DialogScript<CLoadMemoryDialog> stopper([&](CLoadMemoryDialog& d) {
    status = test::Text(d, "status");
    if (!d.RunInProgress() || !status.startsWith("Records ") || status.startsWith("Records 0 ")) return false;
    title = d.windowTitle();
    test::Child<QPushButton>(d, "stop")->click();
    return true;
  }, 60000);
  op.messages.clear();  // the controller's port, which this bench leaves out
  EXPECT_TRUE(frame.RunCommand(cmd::kPic18Flash));
  EXPECT_FALSE(stopper.TimedOut()) << status.toStdString();
  EXPECT_EQ(title.toStdString(), "Program Flash Memory");
  EXPECT_EQ(op.filters, std::vector<std::string>{"Hex File (*.HEX)|*.HEX|"});
  EXPECT_EQ(op.MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(PicBootGui, VerifyFlashKeepsButtonsOffUntilTheReadBackEndsAndNamesTheDifference) {
  const auto dir = test::MakeTempDir("guiverify");
  sim::BoxOptions options;
  sim::BoxDevice probe(options);
  const BoardInfoRecord record = probe.BoardInfo('C');
  std::vector<std::uint8_t> code = test::PseudoRandomBytes(16384, 8);
  const auto fmf = dir / "B.FMF";
  test::WriteHexImage(fmf, 0x3FFC000, code);
  Boot386IntelHexFile file(fmf, record);
  ASSERT_EQ(file.OpenFile() | file.AllocateImage() | file.LoadFile(), 0);
  options.bootImage = file.ImageBytes();
  options.bootImage[0x2000] ^= 0x01;
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');  // as the menu command does before the dialog
  test::RecordingOperator op;
  op.openFile = fmf.string();
  TestCPUDialog dialog(box.Port(), op, nullptr, test::FastBoxTimings(box.Settle()));
  dialog.SetBootReadSettleMs(300);
  dialog.show();
  ASSERT_TRUE(test::PumpUntil([&] { return dialog.Button(TestButton::VerifyFlash)->isEnabled(); }));
  dialog.Button(TestButton::VerifyFlash)->click();
  // The read-back has the port: nothing else may be pressed meanwhile.
  for (std::size_t i = 0; i < kTestButtonCount; ++i) {
    EXPECT_FALSE(dialog.Button(static_cast<TestButton>(i))->isEnabled()) << ButtonCaption(static_cast<TestButton>(i));
  }
  ASSERT_TRUE(test::PumpUntil([&] { return !dialog.Model().Verifying(); }));
  ASSERT_FALSE(op.MessageTexts().empty());
  EXPECT_EQ(op.MessageTexts().back().rfind("Failed at address = 0x3FFE000,", 0), 0u) << op.MessageTexts().back();
  EXPECT_TRUE(dialog.Button(TestButton::VerifyFlash)->isEnabled());
  EXPECT_TRUE(dialog.Button(TestButton::ReadFlashId)->isEnabled());
  dialog.done(QDialog::Accepted);
}

TEST(PicBootGui, ClosingDuringAVerifyStopsAndJoinsTheReader) {
  sim::BoxOptions options;
  options.readStopAfter = 10;  // the box goes silent: the reader would wait a minute
  test::SimBox box(options);
  ASSERT_EQ(SelectOnPort(box.Port(), Target::CpuBoard386, test::kSimulatorSelectWaitMs), '0');
  test::RecordingOperator op;
  BoxTimings timings = test::FastBoxTimings(box.Settle());
  timings.recordSilenceMs = 60000;
  QElapsedTimer clock;
  {
    TestCPUDialog dialog(box.Port(), op, nullptr, timings);
    dialog.SetBootReadSettleMs(0);
    dialog.show();
    ASSERT_TRUE(test::PumpUntil([&] { return dialog.Button(TestButton::VerifyFlash)->isEnabled(); }));
    dialog.Button(TestButton::VerifyFlash)->click();
    test::Pump(50);
    ASSERT_TRUE(dialog.Model().Verifying());
    clock.start();
    dialog.done(QDialog::Rejected);
  }
  EXPECT_LT(clock.elapsed(), 30000) << "the reader was stopped, not waited out";
  test::Pump(50);
  for (const auto& text : op.MessageTexts()) EXPECT_EQ(text.find("Failed"), std::string::npos) << text;
}

}  // namespace
}  // namespace tarnvale::gui
