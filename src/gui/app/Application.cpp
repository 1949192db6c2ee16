#include "gui/app/Application.h"

#include <QApplication>
#include <QThread>

#include "gui/app/CMainFrame.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::gui {

int RunApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tarnvale"));
  QApplication::setApplicationVersion(QStringLiteral(TARNVALE_VERSION));
  // The user-interface thread does the terminal's work; give it what the
  // system allows (an ordinary user usually gets no more than normal).
  QThread::currentThread()->setPriority(QThread::HighestPriority);

  ConfigData settings;
  settings.Load();

  CMainFrame frame(settings);
  frame.show();
  return QApplication::exec();
}

}  // namespace tarnvale::gui
