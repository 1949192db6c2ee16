#include "core/operator/ShowResult.h"

namespace tarnvale {

ResultMessage MakeResultMessage(ResultCode code, const std::string& successText) {
  if (code == rc::kSuccess) {
    return {successText.empty() ? ResultText(code) : successText, MessageIcon::Information};
  }
  return {ReplyResultText(code), MessageIcon::Exclamation};
}

void ShowResult(Operator& op, ResultCode code, const std::string& successText) {
  const ResultMessage m = MakeResultMessage(code, successText);
  op.ShowMessage(m.text, m.icon);
}

}  // namespace tarnvale
