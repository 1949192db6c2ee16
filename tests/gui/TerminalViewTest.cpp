// The terminal on the primary port: what arrives, what is typed and pasted,
// and the commands that talk to the port directly.
#include <gtest/gtest.h>

#include <QClipboard>
#include <thread>

#include "GuiSupport.h"
#include "core/operator/ShowResult.h"
#include "core/protocol/Util.h"
#include "gui/ui/CCoolEdit.h"
#include "gui/ui/CTerminalDialog.h"

namespace tarnvale::gui {
namespace {

using test::FrameOnPty;
using test::PumpUntil;
using test::ReceivePumping;

class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = std::make_unique<FrameOnPty>();
    view_ = f_->frame->TerminalView();
    edit_ = view_->Edit();
    f_->frame->show();
    f_->frame->activateWindow();
    edit_->setFocus();
    // The window's accelerators work only in the active window.
    ASSERT_TRUE(PumpUntil([&] { return f_->frame->isActiveWindow(); }));
  }
  QString Text() const { return edit_->toPlainText(); }
  bool WaitText(const QString& want) {
    return PumpUntil([&] { return Text() == want; });
  }
  std::string Capture() const {
    return test::ReadFileBytes(std::string(std::getenv("HOME")) + "/TarnvaleOutput.txt");
  }

  std::unique_ptr<FrameOnPty> f_;
  CTerminalDialog* view_ = nullptr;
  CCoolEdit* edit_ = nullptr;
};

// What arrives is folded as the core folds it (shown and captured), the last
// line is in view, Clear View keeps the line being received.
TEST_F(Terminal, ReceivedLinesAreShownCapturedAndClearedWithTheViewCommand) {
  f_->pty.Send("AB");
  ASSERT_TRUE(WaitText("AB"));
  f_->pty.Send("C\n\r");
  ASSERT_TRUE(WaitText("ABC\n"));
  f_->pty.Send("crlf line\r\nwrap");
  ASSERT_TRUE(WaitText("ABC\ncrlf line\nwrap"));
  EXPECT_EQ(Capture(), "ABC\r\ncrlf line\r\n");
  EXPECT_EQ(edit_->textCursor().position(), Text().size());

  f_->frame->RunCommand(cmd::kClearView);
  EXPECT_EQ(Text(), "");
  f_->pty.Send("ped");
  EXPECT_TRUE(WaitText("wrapped"));
}

// Keys reach the keyboard rules (whose every case the core's tests hold):
// typed bytes go out one by one and are not echoed, a monitor command is
// recalled after ":", cursor keys send nothing, control characters go out
// as they are.
TEST_F(Terminal, TypedKeysGoOutOneByOneAndMonitorCommandsAreRecalled) {
  QTest::keyClicks(edit_, "go");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(ReceivePumping(f_->pty, 3), "go\r");
  QTest::keyClicks(edit_, "xyz");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(ReceivePumping(f_->pty, 4), "xyz\r");
  EXPECT_EQ(Text(), "");
  ASSERT_EQ(view_->Keyboard().History().Entries(), std::vector<std::string>{"go"});

  QTest::keyClick(edit_, Qt::Key_Up);
  EXPECT_EQ(Text(), ":go");
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");
  QTest::keyClick(edit_, Qt::Key_Backspace);
  EXPECT_EQ(ReceivePumping(f_->pty, 1), "g");
  QTest::keyClick(edit_, Qt::Key_Left);  // acts on the text only
  QTest::keyClick(edit_, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_Backspace);
  QTest::keyClick(edit_, Qt::Key_Escape);
  EXPECT_EQ(ReceivePumping(f_->pty, 3), std::string("\x01\x08\x1b"));
}

// Paste sends the clipboard to the port (paced, without freezing the window,
// and not while a command holds the port); Copy copies the selection.
TEST_F(Terminal, PasteAndCopyAccelerators) {
  QApplication::clipboard()->setText("AB\nC");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReceivePumping(f_->pty, 5), "AB\r\nC");
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(view_->Keyboard().TypedLine(), "");
  f_->frame->Link().BeginCommand();
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");
  f_->frame->Link().EndCommand();

  QApplication::clipboard()->setText(QString(400, 'p'));
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_GT(view_->PendingOutput(), 100u);  // returned long before 400 ms of pacing
  EXPECT_EQ(ReceivePumping(f_->pty, 400, 5000), std::string(400, 'p'));

  f_->pty.Send("copy me\n\r");
  ASSERT_TRUE(WaitText("copy me\n"));
  QApplication::clipboard()->clear();
  edit_->selectAll();
  QTest::keyClick(edit_, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "copy me\n");
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");  // not typed to the controller
}

// Type 6 packets with the flash selector; the status as a result message.
// Neither bracket runs: the target and the terminal are as they were.
TEST_F(Terminal, EraseFlashSendsTypeSixPacketAndShowsTheStatus) {
  const struct {
    int command;
    std::string packet;
    const char* reply;
    MessageIcon icon;
  } cases[] = {{cmd::kTN835EraseDataFlash, {"\x3A\x01\x00\x00\x06\x01\xF8", 7}, "0", MessageIcon::Information},
               {cmd::kTN835EraseProgramFlash, {"\x3A\x01\x00\x00\x06\x00\xF9", 7}, "B", MessageIcon::Exclamation}};
  for (const auto& c : cases) {
    f_->op.messages.clear();
    std::thread controller([&] {
      EXPECT_EQ(f_->pty.Receive(7, 3000), c.packet);
      f_->pty.Send(c.reply);
    });
    f_->frame->RunCommand(c.command);
    controller.join();
    ASSERT_EQ(f_->op.messages.size(), 1u);
    EXPECT_EQ(f_->op.messages[0].text, MakeResultMessage(c.reply[0]).text);
    EXPECT_EQ(f_->op.messages[0].icon, c.icon);
    EXPECT_EQ(f_->frame->Link().CurrentTarget(), Target::Controller);
    EXPECT_TRUE(view_->IsPolling());
  }
}

// The controller's end closes: the status bar says the link is lost; when
// the port's name leads to a device again it is opened and said to be back,
// and what arrives shows again.
TEST(TerminalLink, LostAndBackAreShownInTheStatusBar) {
  auto first = std::make_unique<test::PtyPair>();
  test::PtyPair second;
  const auto dir = test::MakeTempDir("relink");
  const std::string name = (dir / "ttyRelink").string();
  std::filesystem::create_symlink(first->SlavePath(), name);
  ConfigData settings;
  test::SaveFreshSettings(settings, name);
  test::RecordingOperator op;
  CMainFrame frame(settings, &op);
  ASSERT_TRUE(frame.Link().PrimaryPort()->IsOpen());
  const auto said = [&](const std::string& start) {
    for (const auto& s : op.statuses) {
      if (s.rfind(start, 0) == 0) return true;
    }
    return false;
  };
  first->CloseMaster();
  ASSERT_TRUE(PumpUntil([&] { return frame.TerminalView()->LinkLost(); }, 10000));
  EXPECT_TRUE(said("Link lost: " + name + " was closed by the other end")) << ::testing::PrintToString(op.statuses);
  std::filesystem::remove(name);
  std::filesystem::create_symlink(second.SlavePath(), name);
  ASSERT_TRUE(PumpUntil([&] { return !frame.TerminalView()->LinkLost(); }, 10000));
  EXPECT_EQ(op.statuses.back(), "Link back: " + name);
  second.Send("again");
  EXPECT_TRUE(PumpUntil([&] { return frame.TerminalView()->Edit()->toPlainText() == "again"; }, 5000));
}

}  // namespace
}  // namespace tarnvale::gui
