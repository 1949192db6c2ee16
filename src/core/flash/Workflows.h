#pragma once
// The controller commands "Flash RQ700 Series", "Load" and "Dump RQ700
// Series Memory". They talk to the person through an Operator and hand the
// long run to a JobRunner, which the GUI implements with its dialogs
// (CLoadMemoryDialog, CMemoryReadDialog over LoadMemoryModel and
// MemoryReadModel) and the CLI with a progress display.
//
// Each command runs between BeginCommand and EndCommand on every path.
// The result is '0' only when the job ran to success; otherwise the code that
// stopped it, or kStoppedByOperator for a cancelled choice or a "No".

#include <optional>
#include <string>

#include "core/flash/MemoryDump.h"
#include "core/flash/ProgrammingEngine.h"
#include "core/protocol/Controller.h"

namespace tarnvale {

class LinkState;
class Operator;

// kept under its old spelling for the callers written against it
inline constexpr ResultCode kStoppedByOperator = rc::kStoppedByOperator;

namespace flash_text {
inline constexpr const char* kNoCommunication =
    "Unable to communicate with the controller. Please ensure that the following conditions are "
    "met:\n\n1) The controller is powered up. \n2) The RQ is in Flash Program Mode(Controllers "
    "below V4 require Dip switch 10 to be in the ON position).\n3) The communication cable is "
    "properly connected.\n\nWhile holding the Program Key, Turn the controller OFF then ON, and "
    "try again.\n\nUsing key strokes in Tarnvale, V4 controllers can also be put in Flash Program "
    "mode by repeating the follwing steps until 'RQ700 Program Flash Memory' is displayed:\n\n1) "
    "Simultaniuosly Press the Ctrl and D Keys and then release.\n2) Press and release the P key "
    "and then press the Enter key.";
// Something answered the identity query, but not with a controller's reply
// (a web server, a terminal, a controller outside flash program mode).
inline constexpr const char* kNotAController =
    "The device on this port answered, but not as an RQ700 controller in flash program mode does: "
    "its reply to the identity query is not a controller's. Check that the port leads to the "
    "controller and that the controller is in Flash Program Mode.";
inline constexpr const char* kFilterFmf = "Flash Memory File (*.FMF)|*.FMF|";
inline constexpr const char* kFilterDownload = "Download File (*.HEX)|*.HEX|";
inline constexpr const char* kInvalidFile = "Invalid File";
inline constexpr const char* kReadingRomStart = "Reading ROM start address";
inline constexpr const char* kReady = "Ready";
inline constexpr const char* kInternalHexError = "Internal Hex File Error";
inline constexpr const char* kSixteenBit = "16 bit files aren't supported by this application";
inline constexpr const char* kUnsupportedFormat = "Un-supported hex record format";
inline constexpr const char* kUnsupportedGeneration =
    "This application only supports Version 1 or higher software";
inline constexpr const char* kCpuIncompatible =
    "The CPU version is not compatible with this version of Tarnvale";
inline constexpr const char* kReadingHeader = "Reading application header information";
inline constexpr const char* kHeaderCommError =
    "Communication error while attempting to read application header from RQ700";
inline constexpr const char* kNoApplication = "No Application in Memory";
inline constexpr const char* kCantOpenFmf = "Unable to open FMF file.";
inline constexpr const char* kNoAppStart = "Unable to Find Application Starting Address.";
inline constexpr const char* kCantAllocate = "Unable to Create Array for FMF File.";
inline constexpr const char* kCantLoad = "Unable to Read FMF File into Memory.";
inline constexpr const char* kMacCaption = "MAC Address Concerns";
}  // namespace flash_text

// The front end that runs the long jobs. Each call returns when the run is
// over (the GUI: when its modal dialog closes) with the run's result.
class JobRunner {
 public:
  virtual ~JobRunner() = default;
  virtual ResultCode RunProgramming(const ProgrammingRequest& request) = 0;
  virtual ResultCode RunMemoryRead(const MemoryReadRequest& request) = 0;
};

// The MAC address question for a file's model and version and the
// controller's serial number, or nothing when the software is not affected.
std::optional<std::string> MacAddressQuestion(const std::string& fileModel,
                                              const std::string& fileVersion,
                                              const std::string& controllerSerial);

// Options of the commands that front ends or tests may set.
struct WorkflowOptions {
  EngineTimings timings;  // handed to the engines
  bool verify = false;    // flashing reads back and compares what it wrote
};

// `clock` times the commands' own exchanges with the controller (the
// identity and header queries, the range query); the runs take theirs.
ResultCode FlashRQ700Series(LinkState& link, Operator& op, JobRunner& runner,
                            const WorkflowOptions& options = {}, const Clock& clock = SystemClock());
ResultCode LoadMemoryImage(LinkState& link, Operator& op, JobRunner& runner,
                           const WorkflowOptions& options = {}, const Clock& clock = SystemClock());
ResultCode DumpRQ700SeriesMemory(LinkState& link, Operator& op, JobRunner& runner,
                                 const WorkflowOptions& options = {},
                                 const Clock& clock = SystemClock());

}  // namespace tarnvale
