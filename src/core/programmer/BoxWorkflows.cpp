#include "core/programmer/BoxWorkflows.h"

#include "core/operator/ShowResult.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {
ResultCode ShowProgrammerVersion(LinkState& link, Operator& op, const BoxTimings& timings) {
  CommandBracket bracket(link);
  if (!link.OpenLink(Target::Box)) {
    op.ShowMessage(kPortErrorText, MessageIcon::Exclamation);
    return rc::kPortOpenFailed;
  }
  BoxLink box(*link.ProgrammerPort(), timings);
  std::string version;
  const ResultCode r = box.ReadVersion(version);
  if (r != rc::kSuccess) {
    ShowResult(op, r);
  } else {
    op.ShowMessage(VersionLine(version), MessageIcon::Information);
  }
  return r;
}

ResultCode ShowCpu386JtagId(LinkState& link, Operator& op, const BoxTimings& timings) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(Target::CpuBoard386);
  if (selected != rc::kSuccess) {
    ShowStatusResult(op, selected, link.ProgrammerPort());
    return selected;
  }
  BoxLink box(*link.ProgrammerPort(), timings);
  std::uint32_t id = 0;
  const ResultCode r = box.CheckCpu386Id(id);
  const std::string text = r == rc::kSuccess      ? JtagIdLine(id)
                           : r == rc::kTooFewBytes ? box.NoJtagIdText(box_text::kJtagCableAdvice)
                                                   : InvalidJtagIdText(id);
  op.ShowMessage(text, r == rc::kSuccess ? MessageIcon::Information : MessageIcon::Exclamation);
  return r;
}

ResultCode ShowTn835CpuId(LinkState& link, Operator& op, const BoxTimings& timings) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(Target::Tn835Jtag);
  if (selected != rc::kSuccess) {
    ShowStatusResult(op, selected, link.ProgrammerPort());
    return selected;
  }
  BoxLink box(*link.ProgrammerPort(), timings);
  std::uint32_t id = 0;
  const ResultCode r = box.CheckTn835Id(id);
  if (r == rc::kTooFewBytes) {
    op.ShowMessage(box.NoJtagIdText(), MessageIcon::Exclamation);
  } else {
    op.ShowMessage(JtagIdLine(id), MessageIcon::Information);
  }
  return r;
}

ResultCode RunCpuBoardTest(LinkState& link, Operator& op, const std::function<void(CommPort&)>& dialog) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(Target::CpuBoard386);
  if (selected != rc::kSuccess) {
    ShowStatusResult(op, selected, link.ProgrammerPort());
    return selected;
  }
  dialog(*link.ProgrammerPort());
  return rc::kSuccess;
}

}  // namespace tarnvale
