#include "core/doctor/DeviceProbe.h"

#include "core/backup/BackupLink.h"
#include "core/link/CommPort.h"
#include "core/programmer/BoxCommands.h"
#include "core/protocol/Controller.h"

namespace tarnvale::doctor {
namespace {

// Printable text of a device's reply, for one line of output.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c >= 0x20 && c < 0x7F) out.push_back(c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

ProbeAnswer ProbeController(CommPort& port, const Clock& clock) {
  ProbeAnswer a;
  port.Purge();
  const std::uint32_t start = clock.TickMs();
  char revision = 0;
  a.code = ReadHardwareRevision(port, revision);
  a.replyMs = clock.TickMs() - start;
  a.answered = a.code == rc::kSuccess;
  if (a.answered) a.detail = std::string("board revision ") + Printable(std::string(1, revision));
  return a;
}

ProbeAnswer ProbeRq750(CommPort& port, const Clock& clock) {
  ProbeAnswer a;
  const std::uint32_t start = clock.TickMs();
  std::string reply;
  ExchangeError why = ExchangeError::None;
  const bool replied = ExchangeBackupCommand(port, "vX", reply, &why, clock);
  a.replyMs = clock.TickMs() - start;
  if (!replied) {
    a.code = rc::kTimeout;
    return a;
  }
  const std::string model = reply.substr(0, 5);
  a.answered = model == "RQ750";
  a.code = a.answered ? rc::kSuccess : rc::kUnrecognizedResponse;
  const auto fields = SplitBackupFields(reply);
  a.detail = Printable(BackupField(fields, 1));
  const std::string protocol = Printable(BackupField(fields, 3));
  if (!protocol.empty()) a.detail += ", protocol " + protocol;
  if (!a.answered) a.detail = "model \"" + Printable(model) + "\"";
  return a;
}

ProbeAnswer ProbeBox(CommPort& port, const Clock& clock) {
  ProbeAnswer a;
  port.Purge();
  BoxTimings timings;
  timings.recordSilenceMs = kBoxProbeSilenceMs;
  BoxLink box(port, timings, clock);
  const std::uint32_t start = clock.TickMs();
  std::string version;
  a.code = box.ReadVersion(version);
  a.replyMs = clock.TickMs() - start;
  a.answered = a.code == rc::kSuccess;
  if (a.answered) a.detail = "version " + Printable(version);
  return a;
}

}  // namespace tarnvale::doctor
