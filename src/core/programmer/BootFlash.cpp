#include "core/programmer/BootFlash.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>


#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/link/CommPort.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/FileAccess.h"
#include "core/operator/ShowResult.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/roles/PortRoles.h"

namespace tarnvale {
namespace {

bool IsLetter(std::uint8_t c) { return c >= 'A' && c <= 'Z'; }

std::string AddressText(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X  ", address);
  return buf;
}

}  // namespace

std::string_view ReadBackFileName(Target target) { return Info(target).readBack.fileName; }

std::string DefaultReadBackPath(const Operator& op, Target target) {
  const std::string name(ReadBackFileName(target));
  if (op.ErrorLogFolder().empty()) return name;
  return (std::filesystem::path(op.ErrorLogFolder()) / name).string();
}

std::uint32_t ReadBackStep(std::uint32_t length) {
  const std::uint32_t step = length <= 3200 ? length / 100 : (length / 100) / 32 * 32;
  return std::max<std::uint32_t>(step, 1);
}

ResultCode ReadBootImage(const BootReadParams& p, MemoryReadEvents& events, const StopToken& stop,
                         std::vector<std::uint8_t>* buffer, const Clock& clock) {
  CommPort& port = *p.port;
  const std::uint64_t end = std::uint64_t{p.start} + p.length;
  std::uint64_t next = p.start;
  // The lines appear under the file's name only once the whole range came
  // in: a run that fails or is stopped keeps what it read under the partial
  // name (PartialDumpPath) and leaves an earlier read-back as it was.
  std::optional<platform::AtomicFile> file;
  if (p.toFile) file.emplace(p.path);
  auto settle = [&](ResultCode code) {
    if (!file) return code;
    const bool complete = code == rc::kSuccess;
    if (!file->Commit(complete ? p.path : PartialDumpPath(p.path))) {
      if (complete) code = rc::kCantWriteOutput;
    } else if (complete) {
      platform::RemoveFile(PartialDumpPath(p.path));
    }
    file.reset();
    return code;
  };
  auto done = [&](ResultCode code) {
    code = settle(code);
    if (!stop.StopRequested()) {
      if (code == rc::kSuccess) events.OnProgress(100, static_cast<std::uint32_t>(next));
      events.OnDone(code, static_cast<std::uint32_t>(next));
    }
    return code;
  };
  if (file && !file->IsOpen()) {
    file.reset();
    return done(rc::kCantOpenOutput);
  }
  const std::uint32_t step = ReadBackStep(p.length);
  if (buffer != nullptr && !p.toFile) buffer->assign(p.length, 0);

  const ReadBackForm& form = Info(p.memoryType).readBack;
  if (port.Write(BuildPacket(0, form.firstPacket, box_type::kReadMemory)) == 0) return done(rc::kTooFewBytes);
  if (form.settles) {
    // The box needs this long to reach the boot flash over JTAG; a stop
    // request still ends the wait early.
    stop.SleepFor(clock, p.settleMs);
  }
  const std::uint32_t base = form.recordBase.value_or(p.start & 0xFFFF0000u);
  std::uint32_t sum = 0;
  std::size_t offset = 0;
  std::string line;
  for (;;) {
    if (stop.StopRequested()) return settle(rc::kStoppedByProgram);
    // Wait for the next record in short steps, so a stop request (a dialog
    // closing) is seen at once rather than after the box's silence time.
    const std::uint32_t waitStart = clock.TickMs();
    while (port.GetInQueue() == 0 && clock.TickMs() - waitStart < p.silenceMs) {
      if (stop.StopRequested()) return settle(rc::kStoppedByProgram);
      // A hung-up line is told at once, not after the box's silence.
      if (port.LinkLost()) return done(rc::kLinkLost);
      port.WaitReadable(std::min<std::uint32_t>(50, p.silenceMs - (clock.TickMs() - waitStart) + 1));
    }
    if (port.GetInQueue() == 0) return done(rc::kTimeout);
    MemoryRecord record;
    if (const ResultCode c = ReadFramedReply(port, record, p.silenceMs, clock); c != rc::kSuccess) {
      return done(c);
    }
    const std::uint32_t address = base + record.address;
    // The records come in address order without gaps: one that does not
    // start where the last ended means a record was lost on the way, and
    // the read-back would otherwise pass with a hole in it.
    if (address != next) return done(rc::kAddressOutOfRange);
    if (address >= p.start && (address - p.start) % step == 0 && !stop.StopRequested()) {
      events.OnProgress(std::min<std::uint32_t>((address - p.start) / step, 100), address);
    }
    const std::size_t count = record.data.size();
    if (p.toFile) {
      // A line per sixteen bytes, however long the records are; a record
      // that ends inside a line still gets its bytes listed.
      for (std::size_t i = 0; i < count; ++i) {
        if (i % 16 == 0) line = AddressText(address + static_cast<std::uint32_t>(i));
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", record.data[i]);
        line += hex;
        if (i % 2 == 0) {
          sum += record.data[i] + 256u * (i + 1 < count ? record.data[i + 1] : 0u);
        }
        if (i % 16 == 15 || i + 1 == count) {
          if (!stop.StopRequested()) events.OnLine(line);
          line += "\r\n";
          if (!file->Write(line.data(), line.size())) {
            return done(rc::kCantWriteOutput);
          }
          line.clear();
        }
      }
      // The last record of the boot flash carries the image's checksum in
      // its last four bytes; the sum of the rest is compared with it.
      if (form.checksumAtTop && count >= 4 && std::uint64_t{address} + count == std::uint64_t{form.end} + 1) {
        const std::uint8_t* c = record.data.data() + count - 4;
        const std::uint32_t stored = c[0] | c[1] << 8 | static_cast<std::uint32_t>(c[2]) << 16 |
                                     static_cast<std::uint32_t>(c[3]) << 24;
        const std::uint32_t computed = sum - (c[0] + 256u * c[1]) - (c[2] + 256u * c[3]);
        if (!stop.StopRequested()) {
          events.OnComputedChecksum(computed);
          events.OnImageChecksum(stored);
        }
        next = std::uint64_t{address} + count;
        break;
      }
    } else if (buffer != nullptr) {
      for (std::size_t i = 0; i < count && offset < buffer->size(); ++i) (*buffer)[offset++] = record.data[i];
    }
    next = std::uint64_t{address} + count;
    if (next >= end) break;
  }
  return done(next == end ? rc::kSuccess : rc::kTimeout);
}

std::function<void(const MemoryReadRequest&, MemoryReadEvents&, const std::atomic<bool>&)>
BootImageReader(std::uint32_t settleMs, std::uint32_t silenceMs) {
  return [settleMs, silenceMs](const MemoryReadRequest& r, MemoryReadEvents& events,
                               const std::atomic<bool>& stop) {
    BootReadParams p;
    p.port = r.port;
    p.memoryType = r.target;
    p.start = r.start;
    p.length = r.end - r.start + 1;
    p.toFile = true;
    p.path = r.path;
    p.settleMs = settleMs;
    p.silenceMs = silenceMs;
    ReadBootImage(p, events, stop);
  };
}

void BootVerifyReader::Start(const BootReadParams& params, MemoryReadEvents& events) {
  Stop();
  job_.Rearm();
  job_.Start([this, params, &events](const StopToken& stop) {
    BootReadParams p = params;
    p.toFile = false;
    ReadBootImage(p, events, stop, &buffer_);
  });
}

void BootVerifyReader::Stop() {
  job_.RequestStop();
  Join();
}

// ---- the serial / revision form -------------------------------------------------------

std::size_t SerialRevisionInput::MaxLength(SerialField f) {
  return f == SerialField::CpuRevision || f == SerialField::IoRevision ? 1 : BoardInfoRecord::kSerialMax;
}

void SerialRevisionInput::Open() {
  const std::string& cpu = Field(SerialField::CpuRevision);
  const std::string& io = Field(SerialField::IoRevision);
  if (!cpu.empty()) record_.SetCpuRevision(cpu[0]);
  if (!io.empty()) record_.SetIoRevision(io[0]);
  BoardInfoRecord read = record_;
  if (box_.ExchangeBoardInfo(read) != rc::kSuccess) return;
  record_ = read;
  auto serial = [&](std::size_t at, SerialField f) {
    Field(f) = record_.bytes[at] < 16 ? record_.Serial(at) : std::string();
  };
  serial(BoardInfoRecord::kControllerSerial, SerialField::ControllerSerial);
  serial(BoardInfoRecord::kCpuSerial, SerialField::CpuSerial);
  serial(BoardInfoRecord::kIoSerial, SerialField::IoSerial);
  if (IsLetter(record_.CpuRevision())) Field(SerialField::CpuRevision) = std::string(1, static_cast<char>(record_.CpuRevision()));
  if (IsLetter(record_.IoRevision())) Field(SerialField::IoRevision) = std::string(1, static_cast<char>(record_.IoRevision()));
}

void SerialRevisionInput::RevisionTyped(bool cpu, const std::string& text) {
  Field(cpu ? SerialField::CpuRevision : SerialField::IoRevision) = text;
  if (flashIdConfirmed_ || text.empty()) return;
  if (cpu) record_.SetCpuRevision(text[0]);
  else record_.SetIoRevision(text[0]);
  // The flash ID is read again with the algorithm of the letter just typed;
  // the serial numbers in the fields stay as they are.
  BoardInfoRecord read = record_;
  if (box_.ExchangeBoardInfo(read) == rc::kSuccess) {
    for (std::size_t i = 0; i < BoardInfoRecord::kFlashIdWords; ++i) record_.SetFlashIdWord(i, read.FlashIdWord(i));
  }
  if (IsFlashIdValid(record_)) flashIdConfirmed_ = true;
}

void SerialRevisionInput::Accept() {
  auto put = [&](std::size_t at, SerialField f) {
    std::string text = Field(f);
    if (text.size() > BoardInfoRecord::kSerialMax) text.resize(BoardInfoRecord::kSerialMax);
    record_.SetSerial(at, text);
  };
  put(BoardInfoRecord::kControllerSerial, SerialField::ControllerSerial);
  put(BoardInfoRecord::kCpuSerial, SerialField::CpuSerial);
  put(BoardInfoRecord::kIoSerial, SerialField::IoSerial);
  if (!Field(SerialField::CpuRevision).empty()) record_.SetCpuRevision(Field(SerialField::CpuRevision)[0]);
  if (!Field(SerialField::IoRevision).empty()) record_.SetIoRevision(Field(SerialField::IoRevision)[0]);
}

std::string IncompleteFieldsText(const BoardInfoRecord& r) {
  std::vector<const char*> failing;
  const auto serialLen = [&](std::size_t at) { return r.bytes[at]; };
  if (serialLen(BoardInfoRecord::kControllerSerial) == 0) failing.push_back("Controller Serial Number");
  if (!IsLetter(r.CpuRevision())) failing.push_back("CPU board Revision");
  if (serialLen(BoardInfoRecord::kCpuSerial) == 0 || serialLen(BoardInfoRecord::kCpuSerial) > 15) {
    failing.push_back("CPU board Serial Number");
  }
  if (!IsLetter(r.IoRevision())) failing.push_back("IO board Revision");
  if (serialLen(BoardInfoRecord::kIoSerial) == 0 || serialLen(BoardInfoRecord::kIoSerial) > 15) {
    failing.push_back("IO Serial Number");
  }
  if (!IsFlashIdValid(r)) failing.push_back("Flash ID");
  if (failing.empty()) return {};
  std::string text = boot_text::kCheckFields;
  for (std::size_t i = 0; i < failing.size(); ++i) {
    text += std::to_string(i + 1) + ") " + failing[i] + "\r\n";
  }
  return text;
}

// ---- commands ------------------------------------------------------------------------

ResultCode SelectOnPort(CommPort& port, Target target, std::uint32_t waitMs) {
  port.Purge();
  const Packet packet = SelectTargetPacket(target);
  if (port.Write(packet) != packet.size()) return rc::kTooFewBytes;
  return WaitStatusByte(port, waitMs);
}

BootProgramOutcome ProgramBootFlashWith(BoxLink& box, const std::function<ResultCode()>& select,
                                        Operator& op, JobRunner& runner, SerialRevisionForm& form,
                                        std::uint8_t cpu, std::uint8_t io, const BootOptions& o) {
  BootProgramOutcome out;
  out.record.bytes[BoardInfoRecord::kCpuRevision] = cpu;
  out.record.bytes[BoardInfoRecord::kIoRevision] = io;
  if (const ResultCode s = select(); s != rc::kSuccess) {
    op.ShowMessage(box_text::kBoxUnreachable, MessageIcon::Exclamation);
    out.code = s;
    return out;
  }
  if (const ResultCode c = ConfirmCpu386(box, op); c != rc::kSuccess) {
    out.code = c;
    return out;
  }
  SerialRevisionInput input(box, out.record);
  input.Open();
  if (!form.Show(input)) return out;
  input.Accept();
  out.record = input.Record();
  if (!IsBoardInfoComplete(out.record)) {
    op.ShowMessage(IncompleteFieldsText(out.record), MessageIcon::Exclamation);
    out.code = rc::kDataMismatch;
    return out;
  }
  const BoardInfoRecord record = out.record;
  ProgrammingRequest request;
  request.port = &box.Port();
  request.mode = kModeProgramFlash;
  request.target = Target::CpuBoard386;
  request.boardInfo = record;
  request.timings = o.engine;
  request.fileOperator = &op;
  request.normalizeRevision = [&box, record] {
    return box.NormalizeFlashRevision(Target::CpuBoard386, record.CpuRevision(), record.IoRevision());
  };
  request.bootVersion = [](IntelHexFile& f) {
    auto* boot = dynamic_cast<Boot386IntelHexFile*>(&f);
    return boot ? boot->BootVersion() : std::string();
  };
  out.code = runner.RunProgramming(request);
  return out;
}

BootProgramOutcome ProgramBootFlash(LinkState& link, Operator& op, JobRunner& runner,
                                    SerialRevisionForm& form, std::uint8_t cpu, std::uint8_t io,
                                    const BootOptions& o) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(Target::CpuBoard386);
  CommPort* port = link.ProgrammerPort();
  if (selected != rc::kSuccess || port == nullptr) {
    BootProgramOutcome out;
    out.record.bytes[0] = cpu;
    out.record.bytes[1] = io;
    op.ShowMessage(box_text::kBoxUnreachable, MessageIcon::Exclamation);
    out.code = selected != rc::kSuccess ? selected : rc::kPortOpenFailed;
    return out;
  }
  BoxLink box(*port, o.box);
  return ProgramBootFlashWith(box, [] { return rc::kSuccess; }, op, runner, form, cpu, io, o);
}

ResultCode ReadBootFlashWith(CommPort& port, const std::function<ResultCode()>& select, Operator& op,
                             JobRunner& runner, std::uint8_t cpu, const RevisionQuestion& ask,
                             const BootOptions& o) {
  if (const ResultCode s = select(); s != rc::kSuccess) {
    ShowStatusResult(op, s, &port);
    return s;
  }
  if (!o.boardConfirmed) {
    BoxLink box(port, o.box);
    if (const ResultCode c = ConfirmCpu386(box, op); c != rc::kSuccess) return c;
  }
  if (ask) {
    const auto answer = ask();
    if (!answer) return kStoppedByOperator;
    cpu = answer->empty() ? 0 : static_cast<std::uint8_t>((*answer)[0]);
  }
  if (!IsLetter(cpu)) {
    op.ShowMessage(boot_text::kInvalidRevision, MessageIcon::Exclamation);
    return rc::kInvalidRevision;
  }
  MemoryReadRequest request;
  request.port = &port;
  request.target = Target::CpuBoard386;
  request.start = kBootFlashStart;
  request.end = kBootFlashEnd;
  request.path = o.outputPath.empty() ? DefaultReadBackPath(op, Target::CpuBoard386) : o.outputPath;
  request.timings = o.engine;
  request.reader = BootImageReader(o.readSettleMs, o.box.recordSilenceMs);
  return runner.RunMemoryRead(request);
}

ResultCode ReadBootFlash(LinkState& link, Operator& op, JobRunner& runner, std::uint8_t cpu,
                         const RevisionQuestion& ask, const BootOptions& o) {
  CommandBracket bracket(link);
  const ResultCode selected = link.SelectTarget(Target::CpuBoard386);
  CommPort* port = link.ProgrammerPort();
  if (selected != rc::kSuccess || port == nullptr) {
    const ResultCode c = selected != rc::kSuccess ? selected : rc::kPortOpenFailed;
    ShowStatusResult(op, c, port);
    return c;
  }
  return ReadBootFlashWith(*port, [] { return rc::kSuccess; }, op, runner, cpu, ask, o);
}

ResultCode CompareBootImage(const std::vector<std::uint8_t>& readBack, const std::string& path,
                            const BoardInfoRecord& record, Operator& op, std::uint32_t* firstDifference) {
  Boot386IntelHexFile file(path, record);
  file.SetOperator(&op);
  // Only a regular file is read: a FIFO or a device would never end.
  std::string reason;
  std::FILE* in = platform::OpenInputFile(path, platform::kImageFileLimit, &reason);
  ResultCode c = file.OpenStream(in);
  if (c == 0) c = file.AllocateImage();
  if (c == 0) c = file.LoadFile();
  const std::vector<std::uint8_t> image = c == 0 ? file.ImageBytes() : std::vector<std::uint8_t>{};
  if (image.size() < kBootFlashLength) {
    op.ShowMessage(boot_text::kInvalidBuffer, MessageIcon::Exclamation);
    FileFailure failure = file.Failure();
    if (in == nullptr) failure.reason = reason;
    if (c != 0) op.ShowMessage(ImageRefusedText(path, c, failure), MessageIcon::Exclamation);
    return c != 0 ? c : rc::kInvalidHexFile;
  }
  for (std::size_t i = 0; i < kBootFlashLength; ++i) {
    const std::uint8_t got = i < readBack.size() ? readBack[i] : 0;
    if (got != image[i]) {
      char text[96];
      std::snprintf(text, sizeof text, "Failed at address = 0x%X, Data1 = 0x%X, Data2 = 0x%X ",
                    static_cast<unsigned>(kBootFlashStart + i), got, image[i]);
      op.ShowMessage(text, MessageIcon::Exclamation);
      if (firstDifference) *firstDifference = kBootFlashStart + static_cast<std::uint32_t>(i);
      return rc::kDataMismatch;
    }
  }
  ShowResult(op, rc::kSuccess);
  return rc::kSuccess;
}

ResultCode FinishBootVerify(ResultCode code, const std::vector<std::uint8_t>& readBack,
                            const BoardInfoRecord& record, Operator& op) {
  if (code != rc::kSuccess) {
    op.ShowMessage(boot_text::kReadFailed, MessageIcon::Exclamation);
    return code;
  }
  const auto chosen = op.ChooseOpenFile(flash_text::kFilterFmf);
  if (!chosen || chosen->empty()) {
    op.ShowMessage(boot_text::kNeedFile, MessageIcon::Exclamation);
    return kStoppedByOperator;
  }
  return CompareBootImage(readBack, *chosen, record, op);
}

ResultCode BlankCheckOrErase(CommPort& port, Operator& op, bool erase, std::uint32_t waitMs) {
  port.Purge();
  const Packet packet = BuildPacket(0, 0, erase ? box_type::kErase : box_type::kBlankCheck);
  const ResultCode code =
      port.Write(packet) == packet.size() ? WaitStatusByte(port, waitMs) : rc::kTooFewBytes;
  ShowStatusResult(op, code, &port, erase ? "Success" : "Flash Memory is Blank");
  return code;
}

}  // namespace tarnvale
