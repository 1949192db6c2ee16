#pragma once
// The main window: the menu of every command, a two-pane status bar and the
// terminal on the primary port. It owns the application's link state (the
// primary and programmer ports) and routes each command id to its handler.
//
// Features plug in through SetCommandHandler: the menu item of the id is
// enabled from then on and runs the handler. Items without a handler stay
// disabled.

#include <QHash>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

#include "core/roles/PortRoles.h"

class QAction;
class QLabel;
class QMenu;

namespace tarnvale {
class ConfigData;
class Operator;
}  // namespace tarnvale

namespace tarnvale::gui {

class CTerminalDialog;

class CMainFrame : public QMainWindow, public TerminalHost {
  Q_OBJECT
 public:
  using CommandHandler = std::function<void()>;

  // The dialogs the shell commands open; replaceable so that the commands
  // can be exercised without a person at the screen.
  struct ShellDialogs {
    // Runs the port settings of a role modally; true on OK.
    std::function<bool(ConfigData&, PortRole, QWidget*)> portSettings;
    // Runs the colour dialog; the chosen colour as 0x00BBGGRR, or none.
    std::function<std::optional<std::uint32_t>(std::uint32_t current, QWidget*)> colour;
    std::function<void(QWidget*)> about;
  };

  // Opens the primary port with the stored settings; when it will not open,
  // says so and runs on with the port closed. `op` replaces the message boxes
  // (null: the window's own).
  explicit CMainFrame(ConfigData& settings, Operator* op = nullptr, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Command routing.
  void SetCommandHandler(int commandId, CommandHandler handler);
  // A command that talks to a device: its handler runs on a worker thread
  // (RunDeviceCommand) so the window never waits on the device.
  void SetDeviceCommandHandler(int commandId, CommandHandler handler);
  // The same for a handler already set.
  void MakeDeviceCommand(int commandId);
  // false when the id has no handler, or while a device command runs (the
  // window takes no other command meanwhile).
  bool RunCommand(int commandId);
  QAction* CommandAction(int commandId) const;
  QMenu* TopMenu(const QString& title) const;

  // What feature handlers work with.
  LinkState& Link() { return *link_; }
  ConfigData& Settings() { return settings_; }
  Operator& Op() { return *op_; }
  CTerminalDialog* TerminalView() const { return terminal_; }

  QLabel* StatusPane(int index) const;

  // Runs `work` on a worker thread and returns when it has ended. Meanwhile
  // the window repaints, its menu and terminal are off, the status bar says
  // "Please wait…", and the work's messages, questions and dialogs appear
  // over the window as usual.
  void RunDeviceCommand(const std::function<void()>& work);
  bool Busy() const { return busy_; }
  static constexpr const char* kPleaseWait = "Please wait\u2026";
  void SetDialogs(ShellDialogs dialogs) { dialogs_ = std::move(dialogs); }

  // TerminalHost: what the command brackets do to the window. A command
  // running on a worker thread has them done on the GUI thread.
  void SetPolling(bool on) override;
  void SetStatusPanes(const std::string& pane0, const std::string& pane1) override;
  void FocusTerminal() override;

  // Shell commands.
  void SetupPort(PortRole role);
  void OnStayOnTop();
  void OnColour(int selector);
  void OnClearView();
  void OnEraseTn835Flash(std::uint8_t area);
  void OnAbout();

  // The erase packet's data byte.
  static constexpr std::uint8_t kProgramFlash = 0;
  static constexpr std::uint8_t kDataFlash = 1;
  static constexpr std::uint32_t kEraseStatusTimeoutMs = 5000;

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;

 private:
  void BuildMenus();
  void BuildAccelerators();
  void BuildStatusBar();
  void InstallShellCommands();
  void FitStatusPanes();

  ConfigData& settings_;
  std::unique_ptr<Operator> ownOperator_;
  Operator* op_;
  std::unique_ptr<LinkState> link_;
  CTerminalDialog* terminal_ = nullptr;
  QLabel* pane0_ = nullptr;
  QLabel* pane1_ = nullptr;
  QLabel* pleaseWait_ = nullptr;
  bool busy_ = false;
  QHash<int, QAction*> actions_;
  QHash<int, CommandHandler> handlers_;
  ShellDialogs dialogs_;
};

// Every feature's commands are installed here, after the window is built.
void InstallFeatureCommands(CMainFrame& frame);

}  // namespace tarnvale::gui
