#include <iostream>

#include "cli/Commands.h"
#include "core/settings/ConfigData.h"

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
    // A raw reply shorter than its fixed length (the box's JTAG ID and board
    // info): nothing, or not all of it, came back.
    case rc::kTooFewBytes:
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

std::string CliResultText(ResultCode code) {
  switch (code) {
    case rc::kLanesInvalid:
      return "The image's byte lanes must be 1, 2 or 4";
    case rc::kImageTooLarge:
      return "The image range is empty, ends below its start or is larger than 8 MB";
    case rc::kFileNotOpen:
      return "The image file was not open";
    case rc::kCloseFailed:
      return "The image file could not be closed";
    case rc::kBootIoSerialInvalid:
      return "The board record's I/O board serial number is empty or longer than 15 characters";
    case rc::kBootCpuSerialInvalid:
      return "The board record's CPU board serial number is empty or longer than 15 characters";
    case rc::kBootControllerSerialInvalid:
      return "The board record's controller serial number is empty or longer than 15 characters";
    case rc::kBootIoRevisionInvalid:
      return "The board record's I/O board revision is not a letter A to Z";
    case rc::kBootCpuRevisionInvalid:
      return "The board record's CPU board revision is not a letter A to Z";
    case rc::kStoppedByOperator:
      return "Declined";
    default:
      return ReplyResultText(code);
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
  return FileFailureText(path, CliResultText(code), failure);
}

void LoadSettings(ConfigData& settings) {
  settings.Load();
  for (const std::string& note : settings.LoadNotes()) std::cerr << "warning: settings: " << note << std::endl;
}

void Fail(const std::string& text, int exitCode) {
  std::cerr << text << std::endl;
  throw CLI::RuntimeError(exitCode);
}

}  // namespace tarnvale::cli
