#include "core/roles/PortRoles.h"

#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/operator/Operator.h"

namespace tarnvale {

// Opens a port with a role's stored values (parity and stop bits as codes).
bool OpenWith(CommPort& port, const PortParams& p) {
  return port.Open(p.name, p.baudRate, ParityFromCode(p.parity), p.byteSize, StopBitsFromCode(p.stopBits));
}

Packet SelectTargetPacket(Target target) {
  return BuildPacket(0, Number(target), packet_type::kSelectTarget);
}

LinkState::LinkState(ConfigData& settings, Operator* op, TerminalHost* host)
    : settings_(settings), op_(op), host_(host) {}

void LinkState::SetOperator(Operator* op) {
  op_ = op;
  if (primary_) InstallShortWriteHandler(*primary_);
  if (programmer_) InstallShortWriteHandler(*programmer_);
}

void LinkState::SetOverride(PortRole role, PortOverride o) {
  (role == PortRole::Primary ? primaryOverride_ : programmerOverride_) = std::move(o);
}

PortParams LinkState::ParamsFor(PortRole role) const {
  const bool primary = role == PortRole::Primary;
  PortParams p = primary ? settings_.PrimaryPortParams() : settings_.ProgrammerPortParams();
  const PortOverride& o = primary ? primaryOverride_ : programmerOverride_;
  if (o.closed) p.name.clear();
  if (!o.name.empty()) p.name = o.name;
  if (o.baudRate != 0) p.baudRate = o.baudRate;
  return p;
}

void LinkState::InstallShortWriteHandler(CommPort& port) {
  Operator* op = op_;
  if (op == nullptr) {
    port.SetShortWriteHandler(nullptr);
    return;
  }
  port.SetShortWriteHandler([op](std::size_t requested, std::size_t written) {
    op->ShowMessage(CommPort::ShortWriteMessage(requested, written));
  });
}

CommPort& LinkState::EnsurePrimaryPort() {
  if (!primary_) {
    primary_ = std::make_unique<CommPort>();
    InstallShortWriteHandler(*primary_);
  }
  return *primary_;
}

CommPort& LinkState::EnsureProgrammerPort() {
  if (!programmer_) {
    programmer_ = std::make_unique<CommPort>();
    InstallShortWriteHandler(*programmer_);
  }
  return *programmer_;
}

bool LinkState::OpenPrimaryAtStartup() {
  CommPort& port = EnsurePrimaryPort();
  PortParams p = ParamsFor(PortRole::Primary);
  // A stored "TCP/IP" already maps to the address; the flag asks for it too
  // (a port given for this run wins).
  if (settings_.GetUseIPAddress() && primaryOverride_.name.empty() && !primaryOverride_.closed) p.name = settings_.GetIPAddress();
  primaryPortName_ = p.name;
  primaryBaudRate_ = p.baudRate;
  triedName_[0] = p.name;
  if (!OpenWith(port, p)) return false;
  port.Purge();
  return true;
}

std::string LinkState::OpenFailure(PortRole role) const {
  const bool primary = role == PortRole::Primary;
  const CommPort* port = primary ? primary_.get() : programmer_.get();
  const std::string& tried = triedName_[primary ? 0 : 1];
  const std::string shown = tried.empty() ? ParamsFor(role).name : tried;
  if (port == nullptr || port->LastError().empty()) return shown;
  // The platform's reason often names the device already ("/dev/x: ...").
  if (port->LastError().find(shown) != std::string::npos) return port->LastError();
  return shown + ": " + port->LastError();
}

bool LinkState::OpenLink(Target target) {
  if (Info(target).role == PortRole::Primary) {
    if (programmer_ && programmer_->IsOpen()) programmer_->Close();
    CommPort& port = EnsurePrimaryPort();
    if (port.IsOpen()) port.Close();
    const PortParams p = ParamsFor(PortRole::Primary);
    triedName_[0] = p.name;
    if (!OpenWith(port, p)) return false;
    primaryBaudRate_ = p.baudRate;
    primaryPortName_ = p.name;
    return true;
  }
  CommPort& port = EnsureProgrammerPort();
  if (primary_ && primary_->IsOpen()) primary_->Close();
  if (port.IsOpen()) port.Close();
  const PortParams p = ParamsFor(PortRole::Programmer);
  programmerPortName_ = p.name;
  triedName_[1] = p.name;
  if (!OpenWith(port, p)) {
    if (op_) op_->ShowMessage("Error in Opening Auxillary Port: " + OpenFailure(PortRole::Programmer));
    return false;
  }
  programmerBaudRate_ = p.baudRate;
  port.Purge();
  return true;
}

ResultCode LinkState::SelectTarget(Target target) {
  if (!OpenLink(target)) return rc::kPortOpenFailed;
  if (Info(target).selectPacket) {
    const Packet packet = SelectTargetPacket(target);
    programmer_->Write(packet);
    const ResultCode status = WaitStatusByte(*programmer_, selectWaitMs_);
    if (status != rc::kSuccess) return status;
  }
  if (Info(target).becomesCurrent) currentTarget_ = target;
  return rc::kSuccess;
}

void LinkState::BeginCommand() {
  if (host_) host_->SetPolling(false);
  if (primary_) primary_->Purge();
  if (programmer_) programmer_->Purge();
}

void LinkState::EndCommand() {
  SelectTarget(Target::Controller);  // a primary port that will not reopen just reads nothing
  if (host_) {
    host_->SetStatusPanes("Ready", "Test Pane");
    host_->SetPolling(true);
    host_->FocusTerminal();
  }
}

bool LinkState::ReopenPort(PortRole role) {
  if (role == PortRole::Primary) {
    CommPort& port = EnsurePrimaryPort();
    return port.Open(port.PortName(), primaryBaudRate_, ParityFromCode(settings_.GetParity()),
                     settings_.GetByteSize(), StopBitsFromCode(settings_.GetStopBits()));
  }
  CommPort& port = EnsureProgrammerPort();
  return port.Open(port.PortName(), programmerBaudRate_, ParityFromCode(settings_.GetAuxParity()),
                   settings_.GetAuxByteSize(), StopBitsFromCode(settings_.GetAuxStopBits()));
}

}  // namespace tarnvale
