#include <iostream>

#include "cli/Commands.h"

namespace tarnvale::cli {

int ExitCodeFor(ResultCode code) {
  switch (code) {
    case rc::kSuccess:
      return kExitOk;
    case rc::kPortOpenFailed:
      return kExitPort;
    case rc::kTimeout:
    case rc::kProgrammingTimeout:
    case rc::kLinkLost:
      return kExitTimeout;
    case rc::kStoppedByOperator:
      return kExitDeclined;
    case rc::kStoppedByProgram:
      return kExitInterrupted;
    case rc::kLanesInvalid:
    case rc::kImageTooLarge:
    case rc::kCantOpenInput:
    case rc::kCantOpenOutput:
    case rc::kCantWriteOutput:
    case rc::kInvalidHexFile:
    case rc::kErrorInHexFile:
    case rc::kDataNotFound:
    case rc::kBlankLine:
    case rc::kFileNotOpen:
    case rc::kCloseFailed:
    case rc::kOutputIsInput:
    case rc::kBootIoSerialInvalid:
    case rc::kBootCpuSerialInvalid:
    case rc::kBootControllerSerialInvalid:
    case rc::kBootIoRevisionInvalid:
    case rc::kBootCpuRevisionInvalid:
      return kExitBadFile;
    default:
      return kExitFailure;
  }
}

std::string ExitCodeHelp() {
  return "Exit codes:\n"
         "  0    success\n"
         "  1    the device refused, or a check found a fault\n"
         "  2    usage error (bad arguments)\n"
         "  3    the port would not open\n"
         "  4    no answer in time, or the link was lost\n"
         "  5    an input file is missing or invalid, or an output cannot be written\n"
         "  6    declined (a question answered no)\n"
         "  130  interrupted (Ctrl-C)\n";
}

std::string FileErrorText(const std::string& path, ResultCode code, const FileFailure& failure) {
  std::string text = path + ":";
  if (failure.line != 0) text += std::to_string(failure.line) + ":";
  text += " " + ResultText(code);
  if (!failure.reason.empty()) text += " (" + failure.reason + ")";
  return text;
}

void Fail(const std::string& text, int exitCode) {
  std::cerr << text << std::endl;
  throw CLI::RuntimeError(exitCode);
}

}  // namespace tarnvale::cli
