#include "gui/app/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>

#include "gui/app/AppIcon.h"
#include "gui/app/CAboutDlg.h"
#include "gui/app/CommandIds.h"
#include "gui/app/CommandTable.h"
#include "core/operator/ShowResult.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "gui/settings/CPortSettings.h"
#include "core/settings/ConfigData.h"
#include "gui/ui/CTerminalDialog.h"
#include "gui/ui/Colors.h"
#include "gui/ui/QtOperator.h"
#include "gui/ui/WorkerWait.h"

namespace tarnvale::gui {
namespace {

constexpr const char* kReady = "Ready";
constexpr int kPaneFrame = QFrame::Panel | QFrame::Sunken;
// What the status bar takes beside pane 0's text: the pane's frame, the
// bar's margins and its size grip.
constexpr int kStatusBarAllowance = 48;

CMainFrame::ShellDialogs DefaultDialogs() {
  CMainFrame::ShellDialogs d;
  d.portSettings = [](ConfigData& settings, PortRole role, QWidget* parent) {
    CPortSettings dialog(settings, role, parent);
    return dialog.exec() == QDialog::Accepted;
  };
  d.colour = [](std::uint32_t current, QWidget* parent) -> std::optional<std::uint32_t> {
    const QColor c = QColorDialog::getColor(FromColorRef(current), parent);
    if (!c.isValid()) return std::nullopt;
    return ToColorRef(c);
  };
  d.about = [](QWidget* parent) {
    CAboutDlg dialog(parent);
    dialog.exec();
  };
  return d;
}

}  // namespace

CMainFrame::CMainFrame(ConfigData& settings, Operator* op, QWidget* parent)
    : QMainWindow(parent), settings_(settings), op_(op), dialogs_(DefaultDialogs()) {
  setWindowTitle(QStringLiteral("Tarnvale"));
  setWindowIcon(AppIcon());
  if (op_ == nullptr) {
    ownOperator_ = std::make_unique<QtOperator>(
        this, [this](const std::string& text) { pane0_->setText(QString::fromStdString(text)); });
    op_ = ownOperator_.get();
  }
  // The error log lives in the user temp folder of the settings.
  op_->SetErrorLogFolder(settings_.GetUserTempPath());
  BuildStatusBar();
  BuildMenus();
  BuildAccelerators();

  link_ = std::make_unique<LinkState>(settings_, op_, this);
  if (!link_->OpenPrimaryAtStartup()) {
    op_->ShowMessage("Error in Opening Port: " + link_->OpenFailure(PortRole::Primary));
  }

  terminal_ = new CTerminalDialog(*link_, settings_, *op_, this);
  setCentralWidget(terminal_);
  if (!terminal_->CapturePath().empty()) {
    pane1_->setText("Log File: " + QString::fromStdString(terminal_->CapturePath()));
  }

  InstallShellCommands();
  InstallFeatureCommands(*this);
  // Wide enough for the longest menu prompt to show whole in pane 0, beside
  // the bar's margins and size grip.
  int promptWidth = 0;
  for (const CommandRow& row : CommandTable()) {
    promptWidth = std::max(promptWidth, pane0_->fontMetrics().horizontalAdvance(QString::fromLatin1(row.prompt)));
  }
  resize(std::max(800, promptWidth + kStatusBarAllowance), 560);
  terminal_->setFocus();
}

CMainFrame::~CMainFrame() {
  // The view (and its capture file) goes first, then both ports.
  delete terminal_;
  terminal_ = nullptr;
  link_.reset();
}

void CMainFrame::BuildStatusBar() {
  pane0_ = new QLabel(QString::fromLatin1(kReady), this);
  pane1_ = new QLabel(this);
  for (QLabel* pane : {pane0_, pane1_}) {
    pane->setFrameStyle(kPaneFrame);
    pane->setMinimumWidth(1);
    pane->setTextFormat(Qt::PlainText);
  }
  pane0_->setObjectName(QStringLiteral("statusPane0"));
  pane1_->setObjectName(QStringLiteral("statusPane1"));
  // Pane 1 fills what pane 0 leaves; its own text never pushes pane 0 back.
  pane1_->setSizePolicy(QSizePolicy::Ignored, pane1_->sizePolicy().verticalPolicy());
  statusBar()->addWidget(pane0_);
  statusBar()->addWidget(pane1_, 1);
  pleaseWait_ = new QLabel(QString::fromUtf8(kPleaseWait), this);
  pleaseWait_->setObjectName(QStringLiteral("pleaseWait"));
  pleaseWait_->setFrameStyle(kPaneFrame);
  pleaseWait_->setTextFormat(Qt::PlainText);
  pleaseWait_->hide();
  statusBar()->addPermanentWidget(pleaseWait_);
  FitStatusPanes();
}

void CMainFrame::FitStatusPanes() {
  // Pane 0 keeps at least half the bar and takes more when its text (a long
  // menu prompt) needs it; pane 1 gives way meanwhile.
  if (pane0_ != nullptr) pane0_->setMinimumWidth(std::max(1, statusBar()->width() / 2));
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  FitStatusPanes();
}

void CMainFrame::BuildMenus() {
  QHash<QString, QMenu*> menus;
  for (const CommandRow& row : CommandTable()) {
    const QStringList path = QString::fromLatin1(row.menuPath).split('>');
    QMenu* menu = nullptr;
    QString key;
    for (const QString& title : path) {
      key += (key.isEmpty() ? "" : ">") + title;
      QMenu*& m = menus[key];
      if (m == nullptr) {
        // Alt and the first letter open a top menu ("&Help" has its own).
        m = menu == nullptr ? menuBar()->addMenu(title.contains('&') ? title : '&' + title)
                            : menu->addMenu(title);
        m->setObjectName(key);
        // Submenus show no prompt of their own.
        m->menuAction()->setStatusTip(QString());
        // Hovering an item without a prompt empties pane 0; once the menu
        // is gone the idle text comes back.
        connect(m, &QMenu::aboutToHide, this, [this] {
          QTimer::singleShot(0, this, [this] {
            if (QApplication::activePopupWidget() == nullptr && pane0_->text().isEmpty()) {
              pane0_->setText(QString::fromLatin1(kReady));
            }
          });
        });
      }
      menu = m;
    }
    auto* action = menu->addAction(QString::fromLatin1(row.text));
    action->setData(row.id);
    action->setObjectName(QStringLiteral("cmd%1").arg(row.id));
    action->setStatusTip(QString::fromLatin1(row.prompt));
    action->setEnabled(false);
    const int id = row.id;
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    actions_.insert(id, action);
  }
  actions_.value(cmd::kStayOnTop)->setCheckable(true);
}

void CMainFrame::BuildAccelerators() {
  QHash<int, QList<QKeySequence>> keys;
  QList<int> order;
  for (const AcceleratorRow& row : AcceleratorTable128()) {
    if (!keys.contains(row.id)) order << row.id;
    keys[row.id] << QKeySequence(QString::fromLatin1(row.keys));
  }
  for (int id : order) {
    auto* action = new QAction(this);
    action->setData(id);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    action->setShortcuts(keys[id]);
    action->setShortcutContext(Qt::WindowShortcut);
    // Enabled even without a handler: the keys are the window's and are
    // swallowed rather than typed to the controller.
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    addAction(action);
    actions_.insert(id, action);
  }
}

QAction* CMainFrame::CommandAction(int commandId) const { return actions_.value(commandId); }

QMenu* CMainFrame::TopMenu(const QString& title) const {
  for (QAction* a : menuBar()->actions()) {
    if (a->text() == title || QString(a->text()).remove('&') == title) return a->menu();
  }
  return nullptr;
}

QLabel* CMainFrame::StatusPane(int index) const { return index == 0 ? pane0_ : pane1_; }

void CMainFrame::SetCommandHandler(int commandId, CommandHandler handler) {
  if (handler) {
    handlers_.insert(commandId, std::move(handler));
  } else {
    handlers_.remove(commandId);
  }
  if (QAction* a = actions_.value(commandId)) a->setEnabled(handlers_.contains(commandId));
}

void CMainFrame::SetDeviceCommandHandler(int commandId, CommandHandler handler) {
  if (!handler) {
    SetCommandHandler(commandId, {});
    return;
  }
  SetCommandHandler(commandId, [this, handler = std::move(handler)] { RunDeviceCommand(handler); });
}

void CMainFrame::MakeDeviceCommand(int commandId) {
  if (const auto it = handlers_.constFind(commandId); it != handlers_.constEnd()) {
    SetDeviceCommandHandler(commandId, it.value());
  }
}

void CMainFrame::RunDeviceCommand(const std::function<void()>& work) {
  if (busy_) return;
  busy_ = true;
  // Menus and typing wait for the command; the keys of the window's
  // accelerators are refused by RunCommand meanwhile.
  menuBar()->setEnabled(false);
  terminal_->setEnabled(false);
  // The window's loop keeps running: the terminal must not take the reply
  // bytes the command waits for, even for a command without the brackets.
  terminal_->StopWatching();
  pleaseWait_->show();
  RunOnWorker(work);
  pleaseWait_->hide();
  terminal_->WatchPort();
  terminal_->setEnabled(true);
  menuBar()->setEnabled(true);
  busy_ = false;
  FocusTerminal();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  // The command's thread uses the window's ports: it ends first.
  if (busy_) {
    e->ignore();
    return;
  }
  QMainWindow::closeEvent(e);
}

bool CMainFrame::RunCommand(int commandId) {
  const auto it = handlers_.constFind(commandId);
  if (it == handlers_.constEnd() || busy_) return false;
  const CommandHandler handler = it.value();  // a handler may replace itself
  handler();
  return true;
}

void CMainFrame::InstallShellCommands() {
  SetCommandHandler(cmd::kExit, [this] { close(); });
  SetCommandHandler(cmd::kStayOnTop, [this] { OnStayOnTop(); });
  SetCommandHandler(cmd::kClearView, [this] { OnClearView(); });
  SetCommandHandler(cmd::kSetupPrimaryPort, [this] { SetupPort(PortRole::Primary); });
  SetCommandHandler(cmd::kSetupProgrammerPort, [this] { SetupPort(PortRole::Programmer); });
  SetCommandHandler(cmd::kBackGroundColor,
                    [this] { OnColour(CTerminalDialog::kBackgroundColour); });
  SetCommandHandler(cmd::kForeGroundColor, [this] { OnColour(CTerminalDialog::kTextColour); });
  SetDeviceCommandHandler(cmd::kTN835EraseProgramFlash, [this] { OnEraseTn835Flash(kProgramFlash); });
  SetDeviceCommandHandler(cmd::kTN835EraseDataFlash, [this] { OnEraseTn835Flash(kDataFlash); });
  SetCommandHandler(cmd::kAbout, [this] { OnAbout(); });
  SetCommandHandler(cmd::kEditCopy, [this] { terminal_->Copy(); });
  SetCommandHandler(cmd::kEditPaste, [this] { terminal_->Paste(); });
}

bool CMainFrame::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    // Menu prompts go to pane 0. While a menu is open an item without a
    // prompt shows an empty pane; outside a menu the idle text comes back.
    const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
    const bool menuOpen = QApplication::activePopupWidget() != nullptr;
    pane0_->setText(tip.isEmpty() && !menuOpen ? QString::fromLatin1(kReady) : tip);
    return true;
  }
  return QMainWindow::event(e);
}

void CMainFrame::focusInEvent(QFocusEvent* e) {
  QMainWindow::focusInEvent(e);
  FocusTerminal();
}

void CMainFrame::SetPolling(bool on) {
  OnGuiThread(this, [&] {
    if (terminal_ != nullptr) terminal_->SetPolling(on);
  });
}

void CMainFrame::SetStatusPanes(const std::string& pane0, const std::string& pane1) {
  OnGuiThread(this, [&] {
    pane0_->setText(QString::fromStdString(pane0));
    pane1_->setText(QString::fromStdString(pane1));
  });
}

void CMainFrame::FocusTerminal() {
  OnGuiThread(this, [&] {
    if (terminal_ != nullptr) terminal_->setFocus();
  });
}

void CMainFrame::SetupPort(PortRole role) {
  const bool primary = role == PortRole::Primary;
  // The terminal lets go of the descriptor before any port is closed.
  terminal_->StopWatching();
  CommPort* primaryPort = link_->PrimaryPort();
  if (primary) {
    if (CommPort* prog = link_->ProgrammerPort(); prog && prog->IsOpen()) prog->Close();
    if (primaryPort == nullptr) {
      terminal_->WatchPort();
      return;
    }
  } else {
    if (primaryPort != nullptr && primaryPort->IsOpen()) primaryPort->Close();
    link_->EnsureProgrammerPort();
  }

  if (dialogs_.portSettings(settings_, role, this)) {
    CommPort& port = primary ? link_->EnsurePrimaryPort() : link_->EnsureProgrammerPort();
    if (port.IsOpen()) port.Close();
    const PortParams p = primary ? settings_.PrimaryPortParams() : settings_.ProgrammerPortParams();
    if (!primary && primaryPort != nullptr &&
        p.name.substr(0, 100) == primaryPort->PortName().substr(0, 100) && primaryPort->IsOpen()) {
      primaryPort->Close();
    }
    if (OpenWith(port, p)) {
      primary ? link_->SetPrimaryOpened(p.name, p.baudRate)
              : link_->SetProgrammerOpened(p.name, p.baudRate);
      settings_.Save();
    } else {
      op_->ShowMessage("Unable to open port: " + p.name);
    }
  }
  FocusTerminal();
  // The programmer port is only opened to try the settings; the controller
  // link comes back at once.
  if (!primary) link_->SelectTarget(Target::Controller);
  terminal_->WatchPort();
}

void CMainFrame::OnStayOnTop() {
  const bool top = !(windowFlags() & Qt::WindowStaysOnTopHint);
  const QByteArray geometry = saveGeometry();
  setWindowFlag(Qt::WindowStaysOnTopHint, top);
  restoreGeometry(geometry);
  show();
  actions_.value(cmd::kStayOnTop)->setChecked(top);
}

void CMainFrame::OnColour(int selector) {
  const bool background = selector == CTerminalDialog::kBackgroundColour;
  const std::uint32_t current =
      background ? settings_.GetBackGroundTextColor() : settings_.GetForeGroundTextColor();
  const auto chosen = dialogs_.colour(current, this);
  if (!chosen) return;
  background ? settings_.SetBackGroundTextColor(*chosen) : settings_.SetForeGroundTextColor(*chosen);
  settings_.Save();
  terminal_->SetColour(selector, *chosen);
}

void CMainFrame::OnClearView() { terminal_->ClearView(); }

void CMainFrame::OnEraseTn835Flash(std::uint8_t area) {
  CommPort* port = link_->PrimaryPort();
  if (port == nullptr) return;
  const std::uint8_t areaByte[1] = {area};
  port->Write(BuildPacket(1, 0, packet_type::kErase, areaByte));
  // Runs on the command's worker: the window shows "Please wait…" meanwhile.
  const ResultCode code = WaitStatusByte(*port, kEraseStatusTimeoutMs);
  ShowStatusResult(*op_, code, port);
}

void CMainFrame::OnAbout() { dialogs_.about(this); }

}  // namespace tarnvale::gui
