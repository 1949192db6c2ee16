// The TN835 production commands offscreen: the part-number check in front of
// each generation, and "Program Application" through the programming dialog
// against the simulated TN835.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPointer>
#include <regex>

#include "GuiSupport.h"
#include "core/production/NavNumber.h"
#include "core/production/SharePath.h"
#include "core/roles/PortRoles.h"
#include "gui/flash/CLoadMemoryDialog.h"
#include "gui/production/CNAVNum.h"
#include "gui/production/CTN820ProductionDialog.h"
#include "support/ImageGen.h"

namespace tarnvale::gui {
namespace {

QString Field(QWidget& d, const char* name) {
  auto* e = d.findChild<QLineEdit*>(QString::fromLatin1(name));
  return e ? e->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

void Click(QWidget& d, const char* name) {
  auto* b = test::Child<QPushButton>(d, name);
  ASSERT_NE(b, nullptr) << name;
  QTimer::singleShot(0, b, &QPushButton::click);  // from the event loop, not from inside the script
}

class ShareRoot {
 public:
  ShareRoot() : dir_(test::MakeTempDir("share")) { ::setenv(kShareRootVariable, dir_.c_str(), 1); }
  ~ShareRoot() { ::unsetenv(kShareRootVariable); }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

TEST(ProductionDialogs, PartNumberGuardsEachGeneration) {
  test::FrameOnPty f;
  ShareRoot share;
  struct Case {
    int command;
    const char* entered;
    bool opens;
    const char* version;
    const char* refusal;  // what a refused number is answered with
  };
  const char* const v4 = "The Entered NAV Number Does Not Match a Valid Version 4 Number!\n";
  const char* const v5 = "The Entered NAV Number Does Not Match a Valid Version 5 Number!\n";
  const Case cases[] = {
      {cmd::kTN835ProductionV4, " 314061\t", true, "4", ""},  // a scanner's blanks do not count
      {cmd::kTN835ProductionV4, " 528301 ", false, "4", "Entered: \"528301\""},
      {cmd::kTN835ProductionV5, "314061", false, "5", "Entered: \"314061\""},
      {cmd::kTN835ProductionV5, "528303", true, "5", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entered);
    f.op.messages.clear();
    bool opened = false;
    QString applicationPath;
    test::DialogScript<CNAVNum> nav([&](CNAVNum& d) {
      d.findChild<QLineEdit*>("nav")->setText(QString::fromLatin1(c.entered));
      d.accept();
      return true;
    });
    test::DialogScript<CTN820ProductionDialog> production([&](CTN820ProductionDialog& d) {
      opened = true;
      EXPECT_EQ(Field(d, "productionVersion"), c.version);
      applicationPath = Field(d, "applicationPath");
      d.findChild<QPushButton*>("exit")->click();
      return true;
    });
    ASSERT_TRUE(f.frame->RunCommand(c.command));
    EXPECT_FALSE(nav.TimedOut());
    EXPECT_EQ(opened, c.opens);
    if (c.opens) {
      EXPECT_TRUE(f.op.messages.empty());
      EXPECT_TRUE(applicationPath.startsWith(QString::fromStdString(share.Dir().string()) +
                                             "/QUORPROD/quor_data/Production/TN835/Application/"))
          << applicationPath.toStdString();
    } else {
      ASSERT_EQ(f.op.messages.size(), 1u);
      EXPECT_EQ(f.op.messages[0].text,
                std::string(c.command == cmd::kTN835ProductionV4 ? v4 : v5) + c.refusal);
    }
  }
}

constexpr const char* kApplicationSource =
    "QUORPROD/quor_data/Production/TN835/Application/Current/Ver_5/TN835 Appl.elf.S";

// A generation-5 application image of version "G5.1" where the share keeps
// it.
void WriteApplicationSource(ShareRoot& share) {
  const auto source = share.Dir() / kApplicationSource;
  std::filesystem::create_directories(source.parent_path());
  test::SRecText s;
  std::vector<std::uint8_t> bytes = test::PseudoRandomBytes(0x1000, 4);
  bytes[0x210] = 4;
  std::copy_n("G5.1", 4, bytes.begin() + 0x211);
  test::AppendSRecWords(s, 0, bytes);
  s.Record(7, 0);
  s.WriteTo(source);
}

// The simulated TN835 behind the main window, with the application image
// where the share keeps it.
struct Tn835Frame : ShareRoot, test::FrameOnSim {
  explicit Tn835Frame(const char* eraseMs)
      : FrameOnSim({"--erase-ms", eraseMs}, "tn835") {
    WriteApplicationSource(*this);
  }
};

// One run of model 3 to "Success". The unit's fields follow the run: the
// version is shown while the programming dialog is still open. Station mode
// asks the operator's name, numbers the unit from the pattern, holds the
// model and counts the run. (What a failed run clears and logs, and the
// run list, are the production model's business.)
TEST(ProductionDialogs, UnitFieldsFollowTheRunAndStationModeCountsIt) {
  Tn835Frame f("100");
  f.op.texts = {"Ann Lee"};
  bool ran = false, modelsHeld = false;
  QString versionDuringRun, path, serial, counters;
  QPointer<CTN820ProductionDialog> owner;
  test::DialogScript<CTN820ProductionDialog> production([&](CTN820ProductionDialog& d) {
    if (d.Running()) return false;
    if (!ran) {
      owner = &d;
      d.findChild<QComboBox*>("models")->setCurrentIndex(3);
      d.findChild<QCheckBox*>("stationMode")->setChecked(true);
      serial = Field(d, "serial");
      modelsHeld = !d.findChild<QComboBox*>("models")->isEnabled();
      ran = true;
      Click(d, "programApplication");
      return false;
    }
    if (d.Model().LastRecord().result != rc::kSuccess) return false;
    path = Field(d, "applicationPath");
    counters = d.findChild<QLabel*>("stationCounters")->text();
    d.findChild<QPushButton*>("exit")->click();
    return true;
  }, 30000);
  test::DialogScript<CLoadMemoryDialog> programming([&](CLoadMemoryDialog& d) {
    if (owner != nullptr && versionDuringRun.isEmpty()) versionDuringRun = Field(*owner, "applicationVersion");
    if (d.RunInProgress()) return false;
    d.findChild<QPushButton*>("exit")->click();
    return true;
  }, 30000);
  ASSERT_TRUE(f.frame->RunCommand(cmd::kFlashTN835));
  EXPECT_FALSE(production.TimedOut());
  EXPECT_FALSE(programming.TimedOut());
  EXPECT_EQ(versionDuringRun, "G5.1");
  EXPECT_EQ(path.toStdString(), (f.Dir() / kApplicationSource).string());
  EXPECT_TRUE(std::regex_match(serial.toStdString(), std::regex(R"(TN835-\d\d-00001)"))) << serial.toStdString();
  EXPECT_TRUE(modelsHeld);
  EXPECT_EQ(counters, "Passed: 1  Failed: 0");
  EXPECT_EQ(f.op.questions.size(), 1u);  // the name
  EXPECT_EQ(f.op.MessageTexts(), std::vector<std::string>{"Success"});
}

// The same run stopped during its erase: "Stop" in the programming dialog
// ends it stopped by the program, and the production dialog, whose button
// ran the image off the GUI thread with "Please wait…" shown, takes clicks
// again.
TEST(ProductionDialogs, StopInTheProgrammingDialogEndsAnApplicationRun) {
  Tn835Frame f("60000");
  int stage = 0;
  bool waitShown = false, idleAfter = false;
  ResultCode result = 0;
  QPointer<CTN820ProductionDialog> owner;
  test::DialogScript<CTN820ProductionDialog> production([&](CTN820ProductionDialog& d) {
    if (stage == 0) {
      stage = 1;
      owner = &d;
      Click(d, "programApplication");
      return false;
    }
    if (stage < 2 || d.Running()) return false;
    idleAfter = d.findChild<QPushButton*>("programApplication")->isEnabled() &&
                !d.findChild<QLabel*>("pleaseWait")->isVisible();
    result = d.Model().LastRecord().result;
    d.findChild<QPushButton*>("exit")->click();
    return true;
  }, 30000);
  test::DialogScript<CLoadMemoryDialog> programming([&](CLoadMemoryDialog& d) {
    if (!d.RunInProgress() || !test::Text(d, "status").startsWith("Erasing")) return false;
    waitShown = owner != nullptr && owner->findChild<QLabel*>("pleaseWait")->isVisible() &&
                !owner->findChild<QPushButton*>("exit")->isEnabled();
    d.findChild<QPushButton*>("stop")->click();
    stage = 2;
    return true;
  }, 30000);
  ASSERT_TRUE(f.frame->RunCommand(cmd::kFlashTN835));
  EXPECT_FALSE(production.TimedOut());
  EXPECT_FALSE(programming.TimedOut());
  EXPECT_EQ(stage, 2);
  EXPECT_TRUE(waitShown);
  EXPECT_TRUE(idleAfter);
  EXPECT_EQ(result, rc::kStoppedByProgram);
}

}  // namespace
}  // namespace tarnvale::gui
