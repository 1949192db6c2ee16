// The small controls and the message boxes of the desktop application.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <thread>

#include "GuiSupport.h"
#include "gui/ui/CLabel.h"
#include "gui/ui/CXListBox.h"
#include "core/operator/ErrorLog.h"
#include "gui/ui/QtOperator.h"

namespace tarnvale::gui {
namespace {

QByteArray Stored(const CXListBox& list, int row) {
  return list.item(row)->data(CXListBox::kStoredRole).toByteArray();
}

TEST(CXListBox, AddLineKeepsTheColourBytesAndFlattensLineEnds) {
  CXListBox list;
  list.AddLine(CXListBox::Black, CXListBox::Red, "pin\r\n12");
  list.AddLine(20, CXListBox::Lime, "odd colour");
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(Stored(list, 0), QByteArray("\x01\x0B" "pin  12"));
  EXPECT_EQ(Stored(list, 1), QByteArray("\x01\x0C" "odd colour"));  // 20 draws black
}

TEST(CXListBox, FullListDropsItsOldestLines) {
  CXListBox list;
  list.SetCapacity(30);
  for (int i = 0; i < 30; ++i) list.AddLine(0, 1, "line " + std::to_string(i));
  list.AddLine(0, 1, "newest");
  ASSERT_EQ(list.count(), 11);  // 20 oldest dropped, then the new one added
  std::string first, last;
  list.GetLineText(0, first);
  list.GetLineText(10, last);
  EXPECT_EQ(first + "|" + last, "line 20|newest");
  EXPECT_TRUE(list.selectedItems().isEmpty());
}

TEST(QtOperator, FiltersBecomeQtFiltersOfBothCases) {
  EXPECT_EQ(QtOperator::ToQtFilter("Flash Memory File (*.FMF)|*.FMF|"),
            "Flash Memory File (*.FMF *.fmf)");
  EXPECT_EQ(QtOperator::ToQtFilter("Hex Files (*.hex)|*.hex;*.a90|All Files (*.*)|*.*||"),
            "Hex Files (*.hex *.HEX *.a90 *.A90);;All Files (*.*)");
  EXPECT_EQ(QtOperator::ToQtFilter("Backup|*.xml|"), "Backup (*.xml *.XML)");
}

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool onGuiThread = false;
};

// The next message box is recorded into `seen` and closed with `button`.
void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton button, std::atomic<bool>* answered = nullptr) {
  test::AnswerNextModal([&seen, button, answered](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    seen = {box->windowTitle(), box->text(), box->icon(),
            QThread::currentThread() == QApplication::instance()->thread()};
    box->button(button)->click();
    if (answered != nullptr) *answered = true;
  });
}

TEST(QtOperator, WorkerThreadMessagesAreShownOnTheGuiThreadAndWait) {
  QWidget owner;
  QtOperator op(&owner);
  SeenBox seen;
  std::atomic<bool> answered{false}, returned{false};
  AnswerNextBox(seen, QMessageBox::Ok, &answered);
  std::thread worker([&] {
    op.ShowMessage("Erase failed", MessageIcon::Exclamation);
    returned = answered.load();  // the call came back only after the box closed
  });
  test::PumpUntil([&] { return answered.load(); });
  test::PumpUntil([&] { return returned.load(); });
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(seen.onGuiThread);
  EXPECT_EQ(seen.title, "");
  EXPECT_EQ(seen.text, "Erase failed");
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
}

TEST(QtOperator, LoggedErrorsUseTheirBox) {
  QWidget owner;
  QtOperator op(&owner);
  SeenBox seen;
  AnswerNextBox(seen, QMessageBox::Ok);
  LogError(3, "Util", "Get_RQ700_APP_Header", 765, &op);
  EXPECT_EQ(seen.title, "Error Code Logged");
  EXPECT_EQ(seen.text.toStdString(), FormatErrorLogMessage(3, "Util", "Get_RQ700_APP_Header", 765));
}

}  // namespace
}  // namespace tarnvale::gui
