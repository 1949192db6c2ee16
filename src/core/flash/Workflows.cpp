#include "core/flash/Workflows.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/formats/FlashMemoryFile.h"
#include "core/formats/IntelHexFile.h"
#include "core/platform/FileAccess.h"
#include "core/roles/PortRoles.h"
#include "core/protocol/Util.h"
#include "core/operator/Operator.h"

namespace tarnvale {
namespace {

ResultCode Stop(Operator& op, const char* text, ResultCode code) {
  op.ShowMessage(text);
  return code;
}

// The identity query failed: silence gets the flash program mode advice; an
// answer of the wrong shape says the peer is no controller (its first reply
// byte would otherwise pass for a status such as "Erase Error").
ResultCode StopOnIdentity(Operator& op, ResultCode code) {
  const bool silent = code == rc::kTimeout || code == rc::kLinkLost;
  return Stop(op, silent ? flash_text::kNoCommunication : flash_text::kNotAController,
              silent ? code : rc::kUnrecognizedResponse);
}

// A file that cannot be scanned: a missing file or a folder is named as such
// with its path; any other fault keeps the general text with the reason.
ResultCode StopOnScan(Operator& op, const std::string& path, ResultCode code, const HexScan& scan) {
  if (code == rc::kCantOpenInput) {
    op.ShowMessage(ResultText(code) + ": " + path +
                   (scan.failure.reason.empty() ? "" : " (" + scan.failure.reason + ")"));
    return code;
  }
  std::string text = std::string(flash_text::kInternalHexError) + " - " + path;
  if (scan.failure.line != 0) text += ":" + std::to_string(scan.failure.line);
  text += ": " + ResultText(code);
  if (!scan.failure.reason.empty()) text += " (" + scan.failure.reason + ")";
  op.ShowMessage(text);
  return code;
}

// The bytes of an image file, read from disk once. The scan that measures
// the file and the load that builds the image both read these, so what was
// measured is what gets programmed, even if the file changes meanwhile.
class FileBytes {
 public:
  // 0; 4 when the path cannot be opened as a file (missing, a folder, a
  // FIFO or device, over the size limit); 9 when reading it failed. The
  // reason goes into `failure` either way.
  ResultCode Read(const std::string& path, FileFailure& failure) {
    // Only a regular file within the image limit: a FIFO or a device never ends.
    if (const std::string why = platform::InputFileProblem(path, platform::kImageFileLimit); !why.empty()) {
      failure = {0, why};
      return rc::kCantOpenInput;
    }
    std::string why;
    if (!platform::ReadInputFile(path, platform::kImageFileLimit, &bytes_, &why)) {
      failure = {0, why};
      return rc::kErrorInHexFile;
    }
    return rc::kFileOk;
  }
  // A new read-only stream over the bytes (null when none can be made); it
  // must be closed before this object goes.
  std::FILE* Open() { return platform::OpenMemoryStream(bytes_); }

 private:
  std::string bytes_;
};

// Reads the file and measures it, as ScanHexFile does for a path.
ResultCode ReadAndScan(const std::string& path, FileBytes& bytes, HexScan& scan) {
  if (const ResultCode c = bytes.Read(path, scan.failure); c != rc::kFileOk) return c;
  std::FILE* stream = bytes.Open();
  const ResultCode c = ScanHexStream(stream, scan);
  if (stream != nullptr) std::fclose(stream);
  return c;
}

// Reads the file side of the comparison from the flash memory file. The
// loaded image is the one the engine then programs, so the file is parsed
// once for both.
ResultCode ReadFileLandmarks(Operator& op, FileBytes& bytes, const std::string& path,
                             std::uint32_t base, int generation, ApplicationHeader& header,
                             BootInfo& boot, std::shared_ptr<IntelHexFile>& loaded) {
  auto image = std::make_shared<IntelHexFile>(path, base, fmf::kTopAddress, 1, fmf::kLanes);
  IntelHexFile& file = *image;
  if (file.OpenStream(bytes.Open()) != rc::kFileOk) {
    return Stop(op, FileFailureText(path, flash_text::kCantOpenFmf, {}).c_str(), rc::kCantOpenInput);
  }
  std::uint32_t appStart = 0;
  if (const ResultCode c = FindApplicationStart(file, generation, appStart); c != rc::kFileOk) {
    return Stop(op, flash_text::kNoAppStart, c);
  }
  if (const ResultCode c = file.AllocateImage(); c != rc::kFileOk) {
    return Stop(op, flash_text::kCantAllocate, c);
  }
  if (const ResultCode c = file.LoadFile(); c != rc::kFileOk) {
    return Stop(op, flash_text::kCantLoad, c);
  }
  SetFieldText(header.fileVersion, ReadHeaderVersion(file, appStart, fmf::kTextMaximum));
  ReadBootBlock(file, boot.fileBootBlock.data());
  std::uint8_t letter = 0;
  ReadRevisionLetter(file, &letter);
  boot.fileRevision = static_cast<char>(letter);
  const std::vector<std::uint8_t> identity = ReadHeaderIdentity(file, appStart);
  header.fileIdentity.fill(0);
  std::copy_n(identity.begin(), std::min<std::size_t>(identity.size(), header.fileIdentity.size()),
              header.fileIdentity.begin());
  SetFieldText(header.fileModel, ReadHeaderModel(file, appStart, fmf::kTextMaximum));
  file.CloseFile();
  loaded = std::move(image);
  return rc::kFileOk;
}

}  // namespace

std::optional<std::string> MacAddressQuestion(const std::string& fileModel,
                                              const std::string& fileVersion,
                                              const std::string& controllerSerial) {
  if (fileModel.find("RQ750") != std::string::npos) return std::nullopt;
  const bool rq720 = fileModel.find("RQ720") != std::string::npos;
  const char* limitText = rq720 ? "4.13.00" : "4.57.05";
  if (fileVersion.rfind("4.", 0) != 0) return std::nullopt;
  // "4.57.05" reads as the decimal number 57.05; the limit is read the same way.
  const double version = std::strtod(fileVersion.c_str() + 2, nullptr);
  const double limit = std::strtod(limitText + 2, nullptr);
  if (version > limit) return std::nullopt;
  return std::string("Software for this Model is unable to generate a MAC Address in versions ") +
         limitText + " and older for controller Serial # " + controllerSerial +
         ". Knowing that the controller will not communicate with Corvid if using the Ethernet "
         "port and this software version, do you wish to continue programming the controller?";
}

ResultCode FlashRQ700Series(LinkState& link, Operator& op, JobRunner& runner,
                            const WorkflowOptions& options, const Clock& clock) {
  CommandBracket bracket(link);
  CommPort& port = link.EnsurePrimaryPort();

  char revision = 0;
  if (const ResultCode c = ReadHardwareRevision(port, revision, clock); c != rc::kSuccess) {
    return StopOnIdentity(op, c);
  }

  const auto chosen = op.ChooseOpenFile(flash_text::kFilterFmf);
  if (!chosen || chosen->empty()) return Stop(op, flash_text::kInvalidFile, kStoppedByOperator);
  const std::string path = *chosen;

  op.SetStatus(flash_text::kReadingRomStart);
  FileBytes bytes;
  HexScan scan;
  if (const ResultCode c = ReadAndScan(path, bytes, scan); c != rc::kFileOk) {
    return StopOnScan(op, path, c, scan);
  }
  if (scan.mode == 1) return Stop(op, flash_text::kSixteenBit, rc::kInvalidHexFile);
  if (scan.mode == 0) return Stop(op, flash_text::kUnsupportedFormat, rc::kInvalidHexFile);
  const int generation = SoftwareGeneration(scan.lowest);
  if (generation == 0) return Stop(op, flash_text::kUnsupportedGeneration, rc::kInvalidHexFile);
  op.SetStatus(flash_text::kReady);

  if (revision < 'A' || revision > 'Z') {
    return Stop(op, flash_text::kCpuIncompatible, rc::kInvalidRevision);
  }

  const LoadRange range = PlaceImage(Target::Controller, scan.lowest, scan.highest, false);
  ApplicationHeader header{};
  BootInfo boot{};

  op.SetStatus(flash_text::kReadingHeader);
  const ResultCode headerCode = Get_RQ700_APP_Header(port, header, boot, &op, clock);
  op.SetStatus(flash_text::kReady);
  if (headerCode == rc::kSuccess) {
    header.applicationPresent = 1;
  } else if (headerCode == rc::kNoApplication) {
    op.ShowMessage(flash_text::kNoApplication);
  } else {
    return Stop(op, flash_text::kHeaderCommError, headerCode);
  }

  std::shared_ptr<IntelHexFile> image;
  if (const ResultCode c = ReadFileLandmarks(op, bytes, path, range.base, generation, header, boot, image);
      c != rc::kFileOk) {
    return c;
  }

  if (const auto question = MacAddressQuestion(FieldText(header.fileModel),
                                               FieldText(header.fileVersion),
                                               BootBlockSerialNumber(boot.controllerBootBlock))) {
    if (!op.AskYesNo(*question, flash_text::kMacCaption)) return kStoppedByOperator;
  }

  ProgrammingRequest request;
  request.port = &port;
  request.mode = kModeProgramFlash;
  request.range = range;
  request.target = Target::Controller;
  request.path = path;
  request.image = std::move(image);
  request.layoutMode = 2;
  request.timings = options.timings;
  request.verify = options.verify;
  return runner.RunProgramming(request);
}

ResultCode LoadMemoryImage(LinkState& link, Operator& op, JobRunner& runner,
                           const WorkflowOptions& options, const Clock& clock) {
  CommandBracket bracket(link);
  // As before flashing: a peer that is not a controller answering its
  // identity query gets no image (it might acknowledge anything).
  char revision = 0;
  if (const ResultCode c = ReadHardwareRevision(link.EnsurePrimaryPort(), revision, clock); c != rc::kSuccess) {
    return StopOnIdentity(op, c);
  }
  const auto chosen = op.ChooseOpenFile(flash_text::kFilterDownload);
  if (!chosen || chosen->empty()) return Stop(op, flash_text::kInvalidFile, kStoppedByOperator);
  FileBytes bytes;
  HexScan scan;
  if (const ResultCode c = ReadAndScan(*chosen, bytes, scan); c != rc::kFileOk) {
    return StopOnScan(op, *chosen, c, scan);
  }
  const LoadRange range = PlaceImage(Target::Controller, scan.lowest, scan.highest, true);
  if (range.end < range.base) return Stop(op, flash_text::kInternalHexError, rc::kDataNotFound);

  ProgrammingRequest request;
  request.port = &link.EnsurePrimaryPort();
  request.mode = kModeLoad;
  request.range = range;
  request.target = Target::Controller;
  request.path = *chosen;
  request.layoutMode = 2;
  request.timings = options.timings;
  // The image is built from the bytes just scanned and handed on. Should that
  // fail (a range too large to hold), the run loads the file itself and
  // reports the fault as it reports any other.
  request.image = LoadImage(request, bytes.Open()).file;
  return runner.RunProgramming(request);
}

ResultCode DumpRQ700SeriesMemory(LinkState& link, Operator& op, JobRunner& runner,
                                 const WorkflowOptions& options, const Clock& clock) {
  CommandBracket bracket(link);
  CommPort& port = link.EnsurePrimaryPort();
  port.Write(BuildPacket(0, 0, packet_type::kMemoryInfo));
  HexReply reply;
  const ResultCode code = ReadHexReply(port, 1000, reply, clock);
  MemoryRange range;
  if (code != rc::kSuccess || !ParseRangeReply(reply.line, range)) {
    return Stop(op, dump_text::kCommError, code != rc::kSuccess ? code : rc::kDataMismatch);
  }
  // A range past the 26-bit address space (a damaged reply, or 0:FFFFFFFF)
  // would write gigabytes: read what the controller can hold, and say so.
  if (range.start > kControllerTopAddress || range.end < range.start) {
    return Stop(op, dump_text::kCommError, rc::kAddressOutOfRange);
  }
  std::string clipped = ClipDumpRange(range.start, range.end);
  const auto chosen = op.ChooseSaveFile(dump_text::kFilterBin);
  if (!chosen || chosen->empty()) return Stop(op, flash_text::kInvalidFile, kStoppedByOperator);

  MemoryReadRequest request;
  request.port = &port;
  request.settings = &link.Settings();
  request.target = Target::Controller;
  request.start = range.start;
  request.end = range.end;
  request.flag = 1;
  request.path = *chosen;
  request.visible = true;
  request.timings = options.timings;
  request.warning = std::move(clipped);
  return runner.RunMemoryRead(request);
}

}  // namespace tarnvale
