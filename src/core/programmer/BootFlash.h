#pragma once
// The 80386EX CPU board's boot flash through the box: reading it back (and
// the PIC EEPROMs, which come the same way), programming it with the board's
// identification, verifying it against a file, blank check and erase.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/flash/Workflows.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/jobs/JobThread.h"
#include "core/programmer/BoardIdentity.h"
#include "core/programmer/BoxCommands.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {

inline constexpr std::uint32_t kBootFlashStart = Boot386IntelHexFile::kImageBase;
inline constexpr std::uint32_t kBootFlashLength = Boot386IntelHexFile::kImageSize;
inline constexpr std::uint32_t kBootFlashEnd = kBootFlashStart + kBootFlashLength - 1;
inline constexpr std::uint32_t kBootReadSettleMs = 1300;

namespace boot_text {
inline constexpr const char* kInvalidRevision = "Invalid CPU Revision";
inline constexpr const char* kReadFailed = "Failed to read entire boot image from the controller";
inline constexpr const char* kNeedFile = "A valid file is required for the Verify to complete";
inline constexpr const char* kInvalidBuffer = "Invalid File Buffer";
inline constexpr const char* kCheckFields = "Please check the following fields for missing or incorrect data\r\n\r\n";
inline constexpr const char* kFormTitle = "Enter Serial / Revision Numbers";
inline constexpr const char* kRevisionTitle = "CPU Revision";
inline constexpr const char* kRevisionPrompt = "Enter CPU Revision:";
}  // namespace boot_text

// ---- read-back -------------------------------------------------------------------------

// One read-back: memory type 2, 3 or 4, the range, and where the lines go.
struct BootReadParams {
  CommPort* port = nullptr;
  Target memoryType = Target::CpuBoard386;
  std::uint32_t start = kBootFlashStart;
  std::uint32_t length = kBootFlashLength;
  bool toFile = true;
  std::string path;                        // the text file (recreated in every run)
  std::uint32_t settleMs = kBootReadSettleMs;  // after the request, boot flash only
  std::uint32_t silenceMs = kFramedReplyTimeoutMs;
};

// The default text file of a target's read-back: "386 Boot Flash Data.txt", ...
std::string_view ReadBackFileName(Target target);
// Where a read-back goes when the person chose no file: its default name in
// the user temp folder (the one the operator keeps the error log in), never
// whatever folder the program was started from. Only the name when the
// operator has no folder.
std::string DefaultReadBackPath(const Operator& op, Target target);
// Progress step of a read of `length` bytes.
std::uint32_t ReadBackStep(std::uint32_t length);

// The read-back worker. Events (on the calling thread): OnProgress(percent,
// address) as the records come; OnLine(text) for each line of sixteen bytes
// (to-file runs); for the boot flash OnComputedChecksum and OnImageChecksum
// when the record at the top of the flash came; OnDone(code, next) last:
// '0' when the records ended exactly at start + length, else the code that
// stopped it ('@' for a box that went silent). With `buffer` and no to-file
// flag the bytes are kept there (length bytes; surplus dropped). A stop ends
// it with rc::kStoppedByProgram and no OnDone, what was read kept as after
// a failure.
ResultCode ReadBootImage(const BootReadParams& params, MemoryReadEvents& events,
                         const StopToken& stop, std::vector<std::uint8_t>* buffer = nullptr,
                         const Clock& clock = SystemClock());

// The reader a MemoryReadRequest of target 2, 3 or 4 runs.
std::function<void(const MemoryReadRequest&, MemoryReadEvents&, const std::atomic<bool>&)>
BootImageReader(std::uint32_t settleMs = kBootReadSettleMs,
                std::uint32_t silenceMs = kFramedReplyTimeoutMs);

// A verify read-back on a JobThread: the bytes go into a buffer, the events
// to `events` on that thread. Stop() (and the destructor) ends it early and
// joins it, so nothing uses the port or the events afterwards.
class BootVerifyReader {
 public:
  BootVerifyReader() = default;
  ~BootVerifyReader() { Stop(); }
  BootVerifyReader(const BootVerifyReader&) = delete;
  BootVerifyReader& operator=(const BootVerifyReader&) = delete;

  void Start(const BootReadParams& params, MemoryReadEvents& events);
  void Stop();
  // From the run's own thread (its last event) it returns at once.
  void Join() { job_.Join(); }
  bool Running() const { return job_.Running(); }
  // Read only after the run has ended (its OnDone has come, or Join).
  const std::vector<std::uint8_t>& Buffer() const { return buffer_; }

 private:
  std::vector<std::uint8_t> buffer_;
  JobThread job_;  // last: joined before the buffer goes
};

// ---- the serial / revision form -------------------------------------------------------

enum class SerialField { ControllerSerial, CpuRevision, CpuSerial, IoRevision, IoSerial };

// "Enter Serial / Revision Numbers" without its widgets. Open() fills the
// fields from the box; RevisionTyped() is called when a revision field
// changes (once per form, it reads the flash ID again with the new letter);
// Accept() writes the fields into the record.
class SerialRevisionInput {
 public:
  SerialRevisionInput(BoxLink& box, const BoardInfoRecord& record) : box_(box), record_(record) {}

  void Open();
  void RevisionTyped(bool cpu, const std::string& text);
  void Accept();

  std::string& Field(SerialField f) { return fields_[static_cast<std::size_t>(f)]; }
  const std::string& Field(SerialField f) const { return fields_[static_cast<std::size_t>(f)]; }
  static std::size_t MaxLength(SerialField f);
  const BoardInfoRecord& Record() const { return record_; }
  bool FlashIdConfirmed() const { return flashIdConfirmed_; }

 private:
  BoxLink& box_;
  BoardInfoRecord record_;
  std::string fields_[5];
  bool flashIdConfirmed_ = false;
};

// The front end that shows the form. True for OK (fields as typed).
class SerialRevisionForm {
 public:
  virtual ~SerialRevisionForm() = default;
  virtual bool Show(SerialRevisionInput& input) = 0;
};

// The numbered list of what is missing, or empty when the record is complete.
std::string IncompleteFieldsText(const BoardInfoRecord& record);

// ---- commands ------------------------------------------------------------------------

struct BootOptions {
  BoxTimings box;
  EngineTimings engine;
  std::uint32_t statusWaitMs = 5000;
  std::uint32_t readSettleMs = kBootReadSettleMs;
  std::string outputPath;  // read: empty = "386 Boot Flash Data.txt" in the user temp folder
  // The caller has just confirmed the board's JTAG ID on this selection
  // (ConfirmCpu386), so a read-back need not ask the chain again.
  bool boardConfirmed = false;
};

struct BootProgramOutcome {
  BoardInfoRecord record;
  ResultCode code = kStoppedByOperator;
};

// Identification check, the form, then the programming run (memory type 4)
// with the record. The link must already be on target 4 (`select` does it
// and returns the selection's result).
BootProgramOutcome ProgramBootFlashWith(BoxLink& box, const std::function<ResultCode()>& select,
                                        Operator& op, JobRunner& runner, SerialRevisionForm& form,
                                        std::uint8_t cpu, std::uint8_t io, const BootOptions& o = {});
// "Flash 7193 Boot": the above on the programmer port between the brackets.
BootProgramOutcome ProgramBootFlash(LinkState& link, Operator& op, JobRunner& runner,
                                    SerialRevisionForm& form, std::uint8_t cpu = 0,
                                    std::uint8_t io = 0, const BootOptions& o = {});

// Asks the CPU revision ("CPU Revision"); nothing for Cancel.
using RevisionQuestion = std::function<std::optional<std::string>()>;
// "Read Flash Boot Image" (with a question) and "Read Boot": the boot flash
// into its text file through the read-back dialog.
ResultCode ReadBootFlashWith(CommPort& port, const std::function<ResultCode()>& select, Operator& op,
                             JobRunner& runner, std::uint8_t cpu, const RevisionQuestion& ask,
                             const BootOptions& o = {});
ResultCode ReadBootFlash(LinkState& link, Operator& op, JobRunner& runner, std::uint8_t cpu,
                         const RevisionQuestion& ask, const BootOptions& o = {});

// Compares a read-back with the image `path` makes for `record`: '0', or
// the first difference shown as "Failed at address = ...". Messages go to
// the operator. `firstDifference` gets the address of a difference.
ResultCode CompareBootImage(const std::vector<std::uint8_t>& readBack, const std::string& path,
                            const BoardInfoRecord& record, Operator& op,
                            std::uint32_t* firstDifference = nullptr);
// The rest of "Verify Flash" once the read-back has ended with `code`.
ResultCode FinishBootVerify(ResultCode code, const std::vector<std::uint8_t>& readBack,
                            const BoardInfoRecord& record, Operator& op);

// Blank check (0x17) or erase (0x06) on the selected target with a status
// byte wait; the outcome is shown ("Flash Memory is Blank" / "Success").
ResultCode BlankCheckOrErase(CommPort& port, Operator& op, bool erase, std::uint32_t waitMs);

// Sends the select-target packet on an open programmer port and waits for
// its status byte (the test dialog's link is already open).
ResultCode SelectOnPort(CommPort& port, Target target, std::uint32_t waitMs = kSelectTargetTimeoutMs);

}  // namespace tarnvale
