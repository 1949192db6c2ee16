#pragma once
// A result code in words, as a message box the operator sees.

#include <string>

#include "core/operator/Operator.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

// The message ShowResult shows: the code's text (or successText for '0' when
// given), information icon for '0', exclamation otherwise.
struct ResultMessage {
  std::string text;
  MessageIcon icon;
};
ResultMessage MakeResultMessage(ResultCode code, const std::string& successText = {});
void ShowResult(Operator& op, ResultCode code, const std::string& successText = {});

}  // namespace tarnvale
