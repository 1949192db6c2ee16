// The terminal on the primary port: what arrives, what is typed and pasted,
// and the commands that talk to the port directly.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <thread>

#include "GuiSupport.h"
#include "app/CMainFrame.h"
#include "app/CommandIds.h"
#include "protocol/Util.h"
#include "support/TestEnv.h"
#include "tools/TerminalScreen.h"
#include "ui/CCoolEdit.h"
#include "ui/CTerminalDialog.h"

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

TEST_F(Terminal, ReceivedLinesAreShownAndCapturedInTheirArrivingForm) {
  f_->pty.Send("AB");
  ASSERT_TRUE(WaitText("AB"));
  f_->pty.Send("C\n\r");
  ASSERT_TRUE(WaitText("ABC\n"));
  f_->pty.Send("crlf line\r\nwrap");
  ASSERT_TRUE(WaitText("ABC\ncrlf line\nwrap"));
  EXPECT_EQ(Capture(), "ABC\r\ncrlf line\r\n");
  // The last line is where new text goes, and it is in view.
  EXPECT_EQ(edit_->textCursor().position(), Text().size());
}

TEST_F(Terminal, TheQtScreenKeepsTheSameTextAsTheReferenceScreen) {
  TextScreen reference;
  auto both = [&](auto&& op) {
    op(static_cast<TerminalScreen&>(reference));
    op(static_cast<TerminalScreen&>(*view_));
  };
  for (int i = 0; i < 30; ++i) {
    both([&](TerminalScreen& s) { s.ReplaceLastLine("line " + std::to_string(i), true); });
  }
  both([](TerminalScreen& s) { s.ReplaceLastLine("partial", false); });
  EXPECT_EQ(view_->TextLength(), reference.TextLength());
  both([](TerminalScreen& s) { s.DeleteLeadingLines(25); });
  EXPECT_EQ(Text().toStdString(), reference.Text());
  both([](TerminalScreen& s) { s.ReplaceLastLine("", true); });
  both([](TerminalScreen& s) { s.DeleteLeadingLines(25); });
  EXPECT_EQ(Text().toStdString(), reference.Text());
  EXPECT_EQ(Text(), "");
}

TEST_F(Terminal, TypedKeysGoOutOneByOneAndMonitorCommandsAreRecalled) {
  QTest::keyClicks(edit_, "go");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(ReceivePumping(f_->pty, 3), "go\r");
  EXPECT_EQ(Text(), "");  // nothing echoed locally

  QTest::keyClicks(edit_, "xyz");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(ReceivePumping(f_->pty, 4), "xyz\r");
  ASSERT_EQ(view_->Keyboard().History().Entries(), std::vector<std::string>{"go"});

  QTest::keyClick(edit_, Qt::Key_Up);
  EXPECT_EQ(Text(), ":go");
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");
  QTest::keyClick(edit_, Qt::Key_Return);
  EXPECT_EQ(ReceivePumping(f_->pty, 3), "go\r");
}

TEST_F(Terminal, BackspaceAfterUpAndControlKeys) {
  QTest::keyClicks(edit_, "d 100");
  QTest::keyClick(edit_, Qt::Key_Return);
  ReceivePumping(f_->pty, 6);
  QTest::keyClick(edit_, Qt::Key_Up);
  QTest::keyClick(edit_, Qt::Key_Backspace);
  EXPECT_EQ(ReceivePumping(f_->pty, 4), "d 10");
  EXPECT_EQ(view_->Keyboard().TypedLine(), "d 10");

  QTest::keyClick(edit_, Qt::Key_Up, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_Down, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_Left);  // acts on the text only
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");

  QTest::keyClick(edit_, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_Backspace);
  QTest::keyClick(edit_, Qt::Key_Escape);
  EXPECT_EQ(ReceivePumping(f_->pty, 3), std::string("\x01\x08\x1b"));
}

TEST_F(Terminal, PasteSendsTheClipboardToThePortAndShowsNothing) {
  QApplication::clipboard()->setText("AB\nC");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReceivePumping(f_->pty, 5), "AB\r\nC");
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(view_->Keyboard().TypedLine(), "");

  QApplication::clipboard()->setText("ZZ");
  QTest::keyClick(edit_, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(ReceivePumping(f_->pty, 2), "ZZ");

  // While a command holds the port the accelerator does nothing.
  f_->frame->Link().BeginCommand();
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");
  f_->frame->Link().EndCommand();
}

TEST_F(Terminal, LongPasteIsPacedWithoutFreezingTheWindow) {
  const QString text(400, 'p');
  QApplication::clipboard()->setText(text);
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  // The shortcut returned long before 400 ms of pacing could have passed.
  EXPECT_GT(view_->PendingOutput(), 100u);
  EXPECT_EQ(ReceivePumping(f_->pty, 400, 5000), std::string(400, 'p'));
}

TEST_F(Terminal, CopyAcceleratorCopiesTheSelection) {
  f_->pty.Send("copy me\n\r");
  ASSERT_TRUE(WaitText("copy me\n"));
  QApplication::clipboard()->clear();
  edit_->selectAll();
  QTest::keyClick(edit_, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "copy me\n");
  EXPECT_EQ(ReceivePumping(f_->pty, 1, 100), "");  // not typed to the controller
}

TEST_F(Terminal, DoubleClickSelectsNothing) {
  f_->pty.Send("word another\n\r");
  ASSERT_TRUE(WaitText("word another\n"));
  const QRect r = edit_->cursorRect(QTextCursor(edit_->document()));
  QTest::mouseDClick(edit_->viewport(), Qt::LeftButton, {}, r.center() + QPoint(8, 0));
  EXPECT_FALSE(edit_->textCursor().hasSelection());
}

TEST_F(Terminal, ClearViewKeepsTheLineBeingReceived) {
  f_->pty.Send("old\n\rpart");
  ASSERT_TRUE(WaitText("old\npart"));
  f_->frame->RunCommand(cmd::kClearView);
  EXPECT_EQ(Text(), "");
  f_->pty.Send("ial");
  EXPECT_TRUE(WaitText("partial"));
}

TEST_F(Terminal, ReadsWhenDataArrivesAfterThePortIsSetUpAgain) {
  test::PtyPair other;
  f_->frame->SetDialogs({[&](ConfigData& s, PortRole, QWidget*) {
                           s.SetCOMPort(other.SlavePath());
                           return true;
                         },
                         {}, {}});
  f_->frame->RunCommand(cmd::kSetupPrimaryPort);
  other.Send("from the new port\n\r");
  EXPECT_TRUE(WaitText("from the new port\n"));
}

TEST_F(Terminal, EraseFlashSendsTypeSixPacketAndShowsTheStatus) {
  std::thread controller([&] {
    const std::string packet = f_->pty.Receive(7, 3000);
    EXPECT_EQ(packet, std::string("\x3A\x01\x00\x00\x06\x01\xF8", 7));
    f_->pty.Send("0");
  });
  f_->frame->RunCommand(cmd::kTN835EraseDataFlash);
  controller.join();
  const ResultMessage ok = MakeResultMessage('0');
  ASSERT_EQ(f_->op.messages.size(), 1u);
  EXPECT_EQ(f_->op.messages[0].text, ok.text);
  EXPECT_EQ(f_->op.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(f_->op.messages[0].caption, "");

  std::thread controller2([&] {
    EXPECT_EQ(f_->pty.Receive(7, 3000), std::string("\x3A\x01\x00\x00\x06\x00\xF9", 7));
    f_->pty.Send("B");
  });
  f_->frame->RunCommand(cmd::kTN835EraseProgramFlash);
  controller2.join();
  ASSERT_EQ(f_->op.messages.size(), 2u);
  EXPECT_EQ(f_->op.messages[1].text, MakeResultMessage('B').text);
  EXPECT_EQ(f_->op.messages[1].icon, MessageIcon::Exclamation);
  // Neither bracket ran: the target and the terminal are as they were.
  EXPECT_EQ(f_->frame->Link().CurrentTarget(), 1);
  EXPECT_TRUE(view_->IsPolling());
}

TEST(TerminalCapture, WithoutHomeTheViewRunsWithoutCapture) {
  const std::string home = std::getenv("HOME");
  unsetenv("HOME");
  FrameOnPty f;
  setenv("HOME", home.c_str(), 1);
  EXPECT_FALSE(f.frame->TerminalView()->IsCapturing());
  EXPECT_EQ(f.frame->StatusPane(1)->text(), "");
  f.pty.Send("still shown\n\r");
  auto* edit = f.frame->TerminalView()->Edit();
  EXPECT_TRUE(PumpUntil([&] { return edit->toPlainText() == "still shown\n"; }));
}

TEST(TerminalCapture, UncreatableCaptureFileIsReportedAndThePathStillShown) {
  const std::string home = std::getenv("HOME");
  const std::string missing = home + "/no/such/folder";
  setenv("HOME", missing.c_str(), 1);
  FrameOnPty f;
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(f.op.MessageTexts(), std::vector<std::string>{"No such file or directory"});
  EXPECT_EQ(f.frame->StatusPane(1)->text().toStdString(),
            "Log File: " + missing + "/TarnvaleOutput.txt");
}

}  // namespace
}  // namespace tarnvale::gui
