#include "GuiSupport.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <algorithm>
#include <cstdlib>

#include "core/platform/SettingsFile.h"

namespace tarnvale::test {
namespace {

// The suite's QApplication, made after the test main has isolated the
// environment and before the first test.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Never a window on the developer's screen, however the suite is run.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tarnvale_tests_gui";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop for up to `ms`: events are handled as they come and
// the thread sleeps in between. (processEvents returns at once when nothing
// is queued, so a loop of it spins a core that other tests need.)
void WaitInEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return pred();
    // A condition another thread or process sets is seen within 2 ms.
    WaitInEventLoop(2);
    QApplication::sendPostedEvents();
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  for (qint64 left = ms; left > 0; left = ms - t.elapsed()) WaitInEventLoop(static_cast<int>(std::min<qint64>(left, 5)));
}

std::string ReceivePumping(PtyPair& pty, std::size_t count, int timeoutMs) {
  std::string got;
  QElapsedTimer t;
  t.start();
  while (got.size() < count && t.elapsed() < timeoutMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 2);
    got += pty.Receive(0, 2);
  }
  return got;
}

void AnswerNextModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      answer(w);
    }
  });
  timer->start();
}

void ForgetSettings() {
  std::error_code ec;
  std::filesystem::remove(platform::SettingsDirectory() / platform::kSettingsFileName, ec);
}

void SaveFreshSettings(ConfigData& settings, const std::string& port) {
  ForgetSettings();
  settings.Load();
  settings.SetCOMPort(port);
  settings.Save();
}

FrameOnPty::FrameOnPty() {
  SaveFreshSettings(settings, pty.SlavePath());
  frame = std::make_unique<gui::CMainFrame>(settings, &op);
}

namespace {

std::vector<std::string> SimArgs(const std::filesystem::path& dir, const std::string& device,
                                 std::vector<std::string> args) {
  std::vector<std::string> files{"--pty"};
  if (device != "tn835") files.insert(files.end(), {"--log", (dir / "sim.log").string()});
  args.insert(args.begin(), files.begin(), files.end());
  return args;
}

}  // namespace

FrameOnSim::FrameOnSim(const std::vector<std::string>& args, const std::string& device)
    : dir(MakeTempDir("gui" + device)), log(dir / "sim.log"),
      sim(SimArgs(dir, device, args), dir, device) {
  SaveFreshSettings(settings, sim.Port());
  frame = std::make_unique<gui::CMainFrame>(settings, &op);
}

std::string OtherControllersBackup(const std::filesystem::path& dir) {
  const std::string file = (dir / "other.xml").string();
  SimProcess other({"--pty", "--seed", "5"}, dir, "rq750");
  const auto r = RunCommand({TARNVALE_CLI_PATH, "backup", "save", file, "--port", other.Port()}, dir);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return file;
}

QString Text(QWidget& w, const char* label) {
  auto* l = Child<QLabel>(w, label);
  return l != nullptr ? l->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(label));
}

QPushButton* Button(QWidget& w, const QString& text) {
  for (auto* b : w.findChildren<QPushButton*>()) {
    if (QString(b->text()).remove('&') == text) return b;
  }
  return nullptr;
}

QStringList ListTexts(QWidget& w) {
  QStringList out;
  auto* list = Child<QListWidget>(w, "messages");
  for (int i = 0; list != nullptr && i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

QString Bar(QWidget& w) {
  auto* bar = Child<QProgressBar>(w, "progress");
  return QString("%1/%2").arg(bar->value()).arg(bar->maximum());
}

}  // namespace tarnvale::test
