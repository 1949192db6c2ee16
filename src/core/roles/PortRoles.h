#pragma once
// The two port roles and the brackets around every device command.
//
// The PC reaches the controller on the primary port and the Universal
// Programmer box on the programmer port; only one of them is open at a time.
// A device command runs between BeginCommand (terminal polling off, both
// ports purged) and EndCommand (back to the controller link and the terminal).

#include <cstdint>
#include <memory>
#include <string>

#include "core/device/Target.h"
#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"
#include "core/result/ResultCode.h"
#include "core/settings/ConfigData.h"

namespace tarnvale {

class Operator;

// What the brackets do to the shell around them (the terminal view and the
// status bar). The GUI implements it; the CLI and tests may leave it out.
class TerminalHost {
 public:
  virtual ~TerminalHost() = default;
  virtual void SetPolling(bool on) = 0;
  virtual void SetStatusPanes(const std::string& pane0, const std::string& pane1) = 0;
  virtual void FocusTerminal() = 0;
};

inline constexpr std::uint32_t kSelectTargetTimeoutMs = 100;

// Opens `port` with stored port values (parity and stop bits as codes).
bool OpenWith(CommPort& port, const PortParams& params);

// The select-target request ':' 00 00 T 19 C.
Packet SelectTargetPacket(Target target);

// A port name and baud rate given for one run (the CLI's --port and --baud)
// in place of the stored ones; empty name or 0: the stored value.
struct PortOverride {
  std::string name;
  std::uint32_t baudRate = 0;
  // The role's port stays closed this run (opening it fails quietly): a
  // command line run on the box has no terminal to hand the controller
  // port back to.
  bool closed = false;
};

// The application-wide link state and the routines that switch it.
class LinkState {
 public:
  LinkState(ConfigData& settings, Operator* op = nullptr, TerminalHost* host = nullptr);

  void SetTerminalHost(TerminalHost* host) { host_ = host; }
  void SetOperator(Operator* op);
  // Opens a role's port with these values instead of the stored ones; the
  // settings record is left alone.
  void SetOverride(PortRole role, PortOverride o);
  // What the role's port would be opened with: the settings record's values
  // with the override applied.
  PortParams ParamsFor(PortRole role) const;

  // Creates the primary port (when missing) and opens it by the start-up rule:
  // the IP address when "UseIPAddress" is set or "COMPort" is "TCP/IP", else
  // "COMPort". Purges it on success. False (no message) when it will not open.
  bool OpenPrimaryAtStartup();

  // Opens the port of a target, closing the other one first.
  bool OpenLink(Target target);
  // Opens the link and tells the box which device to address.
  ResultCode SelectTarget(Target target);
  // How long the box may take to confirm a selection: kSelectTargetTimeoutMs
  // for a real box; a simulator on a busy machine may be given longer.
  void SetSelectWaitMs(std::uint32_t ms) { selectWaitMs_ = ms; }
  void BeginCommand();
  void EndCommand();
  // Opens the role's port again with its remembered name and baud rate.
  bool ReopenPort(PortRole role);
  // "NAME: reason" for the last open of the role's port that failed (only
  // the name when the system gave no reason), for the messages that say a
  // port would not open.
  std::string OpenFailure(PortRole role) const;

  CommPort* PrimaryPort() { return primary_.get(); }
  CommPort* ProgrammerPort() { return programmer_.get(); }
  CommPort& EnsurePrimaryPort();
  CommPort& EnsureProgrammerPort();

  const std::string& PrimaryPortName() const { return primaryPortName_; }
  std::uint32_t PrimaryBaudRate() const { return primaryBaudRate_; }
  const std::string& ProgrammerPortName() const { return programmerPortName_; }
  std::uint32_t ProgrammerBaudRate() const { return programmerBaudRate_; }
  void SetPrimaryOpened(const std::string& name, std::uint32_t baud) {
    primaryPortName_ = name;
    primaryBaudRate_ = baud;
  }
  void SetProgrammerOpened(const std::string& name, std::uint32_t baud) {
    programmerPortName_ = name;
    programmerBaudRate_ = baud;
  }
  Target CurrentTarget() const { return currentTarget_; }
  ConfigData& Settings() { return settings_; }

 private:
  std::uint32_t selectWaitMs_ = kSelectTargetTimeoutMs;
  void InstallShortWriteHandler(CommPort& port);

  ConfigData& settings_;
  Operator* op_;
  TerminalHost* host_;
  PortOverride primaryOverride_;
  PortOverride programmerOverride_;
  std::unique_ptr<CommPort> primary_;
  std::unique_ptr<CommPort> programmer_;
  std::string primaryPortName_;
  std::string triedName_[2];  // the name of each role's last open, by role
  std::uint32_t primaryBaudRate_ = 0;
  std::string programmerPortName_;
  std::uint32_t programmerBaudRate_ = 0;
  Target currentTarget_ = Target::Controller;
};

// Brackets one device command: BeginCommand now, EndCommand however the
// workflow leaves.
class CommandBracket {
 public:
  explicit CommandBracket(LinkState& link) : link_(link) { link_.BeginCommand(); }
  ~CommandBracket() { link_.EndCommand(); }
  CommandBracket(const CommandBracket&) = delete;
  CommandBracket& operator=(const CommandBracket&) = delete;

 private:
  LinkState& link_;
};

}  // namespace tarnvale
