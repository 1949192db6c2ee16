#include "core/flash/MemoryDump.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/FileAccess.h"

#include "core/flash/LoadMemoryModel.h"


#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <cerrno>
#include <cstring>

#include "core/link/CommPort.h"
#include "core/platform/HexDigits.h"
#include "core/protocol/Controller.h"
#include "core/protocol/Packet.h"
#include "core/protocol/Util.h"
#include "core/operator/Operator.h"

namespace tarnvale {
namespace {

// Up to `maxDigits` hex digits from `pos`; the number of digits read.
std::size_t ReadHexNumber(const std::string& s, std::size_t pos, std::size_t maxDigits,
                          std::uint64_t& value) {
  value = 0;
  std::size_t k = 0;
  while (k < maxDigits && pos + k < s.size() && HexDigitValue(s[pos + k]) >= 0) {
    value = value * 16 + static_cast<std::uint64_t>(HexDigitValue(s[pos + k]));
    ++k;
  }
  return k;
}

bool Fixed8(const std::string& s, std::size_t pos, std::uint32_t& out) {
  std::uint64_t v = 0;
  if (ReadHexNumber(s, pos, 8, v) != 8) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

// The dump is written under a hidden temporary name beside the chosen file
// and renamed over it when the run completes, after it reached the disk. A
// run that ends with a failure or is stopped puts what it read under
// PartialDumpPath (never the real name, so an earlier good dump survives and
// a torn file cannot pass for a whole one); a process killed or crashing part
// way leaves an earlier file of that name as it was.
class DumpFile {
 public:
  explicit DumpFile(const std::string& path) : path_(path), file_(path) {}
  bool IsOpen() const { return file_.IsOpen(); }
  bool Write(const void* p, std::size_t n) { return file_.Write(p, n); }
  // Zero bytes up to `offset`: a hole the file system reads back as zeros.
  bool PadTo(std::uint64_t offset) { return file_.PadTo(offset); }
  bool WriteLine(const DumpLine& line) {
    if (!line.fill) return Write(line.bytes.data(), line.bytes.size());
    // A fill may be long; write it in bounded chunks.
    std::vector<std::uint8_t> chunk;
    const std::size_t n = line.bytes.size();
    chunk.reserve(4096 + n);
    while (chunk.size() < 4096) chunk.insert(chunk.end(), line.bytes.begin(), line.bytes.end());
    std::uint64_t left = line.Written();
    while (left > 0) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size() - chunk.size() % n));
      if (!Write(chunk.data(), take)) return false;
      left -= take;
    }
    return true;
  }
  // Flushes to disk and puts the file under its real name (`complete`) or
  // the partial name; false (the temporary file removed, an earlier file
  // untouched) when any step fails. Without it the temporary file goes.
  bool Commit(bool complete = true) {
    if (!file_.Commit(complete ? path_ : PartialDumpPath(path_))) return false;
    // A whole dump makes the part kept by an earlier failed run stale.
    if (complete) platform::RemoveFile(PartialDumpPath(path_));
    return true;
  }

 private:
  std::string path_;
  platform::AtomicFile file_;
};

}  // namespace

std::string PartialDumpPath(const std::string& path) { return path + ".partial"; }

bool ParseRangeReply(const std::string& line, MemoryRange& range) {
  if (line.size() != kRangeReplyLength) return false;
  MemoryRange r;
  if (!Fixed8(line, 0, r.start) || !Fixed8(line, 9, r.end) || !Fixed8(line, 18, r.third)) {
    return false;
  }
  if (r.end < r.start) return false;
  range = r;
  return true;
}

std::uint64_t DumpLine::Written() const {
  if (!fill) return count;
  const std::uint64_t n = bytes.empty() ? 1 : bytes.size();
  return std::min((static_cast<std::uint64_t>(count) + n - 1) / n * n, limit);
}

ResultCode ParseDumpLine(const std::string& line, std::uint64_t room, DumpLine& out) {
  std::size_t pos = 0;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  std::uint64_t count = 0;
  if (ReadHexNumber(line, pos, 8, count) == 0 || count == 0) return rc::kDataMismatch;
  const std::size_t sep = line.find_first_of(".:");
  if (sep == std::string::npos) return rc::kDataMismatch;
  DumpLine result;
  result.count = static_cast<std::uint32_t>(count);
  if (line[sep] == ':') {
    // Judge the length before reserving room: a garbled count of FFFFFFFF on
    // a short line must not ask for 4 GB.
    if ((line.size() - sep - 1) / 2 < result.count) return rc::kDataMismatch;
    result.bytes.resize(result.count);
    for (std::size_t i = 0; i < result.count; ++i) {
      std::uint64_t v = 0;
      if (ReadHexNumber(line, sep + 1 + 2 * i, 2, v) != 2) return rc::kDataMismatch;
      result.bytes[i] = static_cast<std::uint8_t>(v);
    }
  } else {
    std::uint64_t pattern = 0;
    const std::size_t digits = ReadHexNumber(line, sep + 1, 8, pattern);
    if (digits == 0) return rc::kDataMismatch;
    const std::size_t n = (digits + 1) / 2;
    result.fill = true;
    for (std::size_t i = 0; i < n; ++i) result.bytes.push_back(static_cast<std::uint8_t>(pattern >> (8 * i)));
    result.limit = room;
  }
  out = std::move(result);
  return rc::kSuccess;
}

std::string DumpHeaderText(std::uint32_t start) {
  char buf[128];
  std::snprintf(buf, sizeof buf,
                "Extra data inserted in file to make searching easier. Memory Starts at Address 0x%X",
                start);
  return buf;
}

ResultCode DumpControllerMemory(const MemoryReadRequest& request, MemoryReadEvents& events,
                                const StopToken& stop, const Clock& clock) {
  CommPort& port = *request.port;
  const std::uint64_t start = request.start;
  // 64-bit throughout: a full 26-bit range times 1000 does not fit 32 bits.
  const std::uint64_t length =
      request.end >= request.start ? static_cast<std::uint64_t>(request.end) - start + 1 : 0;
  std::uint64_t next = start;
  DumpFile* openFile = nullptr;
  // The file is closed before "done" goes out, so whoever hears of the end
  // (a person reading "File saved to", a retry) finds the file complete.
  // What was read of a failed run is kept under the partial name; a run
  // that read nothing leaves nothing behind.
  auto keepPartial = [&] {
    if (openFile != nullptr && openFile->IsOpen() && next > start) openFile->Commit(false);
  };
  auto done = [&](ResultCode code) {
    if (code != rc::kSuccess) {
      keepPartial();
    } else if (openFile != nullptr && openFile->IsOpen() && !openFile->Commit()) {
      code = rc::kCantWriteOutput;
    }
    if (!stop.StopRequested()) {
      events.OnDone(code, static_cast<std::uint32_t>(next));
      if (code == rc::kSuccess) events.OnProgress(kDumpProgressUpper, static_cast<std::uint32_t>(next));
    }
    return code;
  };
  if (length == 0) return done(rc::kDataMismatch);

  std::uint16_t page = static_cast<std::uint16_t>(start >> 16);
  if (const ResultCode c = SetPage(port, page, clock); c != rc::kSuccess) return done(c);

  DumpFile file(request.path);
  if (!file.IsOpen()) return done(rc::kCantOpenOutput);
  openFile = &file;
  events.OnRange(kDumpProgressUpper);
  events.OnStep(kDumpProgressUpper);
  if (start != 0) {
    const std::string text = DumpHeaderText(request.start);
    if (!file.Write(text.data(), text.size()) || !file.PadTo(start)) return done(rc::kCantWriteOutput);
  }

  const std::uint64_t last = start + length - 1;
  for (;;) {
    if (stop.StopRequested()) {
      keepPartial();
      return rc::kStoppedByProgram;
    }
    events.OnProgress(static_cast<std::uint32_t>((next - start) * kDumpProgressUpper / length),
                      static_cast<std::uint32_t>(next));
    port.Write(BuildPacket(0, static_cast<std::uint16_t>(next & 0xFFFF), packet_type::kMemoryLine));
    HexReply reply;
    if (const ResultCode c = ReadHexReply(port, request.timings.dumpLineTimeoutMs, reply, clock);
        c != rc::kSuccess) {
      return done(c);
    }
    DumpLine line;
    const std::uint64_t remaining = start + length - next;
    if (const ResultCode c = ParseDumpLine(reply.line, remaining, line); c != rc::kSuccess) {
      return done(c);
    }
    if (!file.WriteLine(line)) return done(rc::kCantWriteOutput);
    next += line.Written();
    if ((next >> 16) != page && next <= 0x03FFFFFF) {
      page = static_cast<std::uint16_t>(next >> 16);
      if (const ResultCode c = SetPage(port, page, clock); c != rc::kSuccess) return done(c);
    }
    if (next >= last) break;
  }
  return done(rc::kSuccess);
}

MemoryReadEngine::MemoryReadEngine(MemoryReadRequest request, MemoryReadEvents& events,
                                   const Clock& clock)
    : request_(std::move(request)), events_(events), clock_(clock) {}

MemoryReadEngine::~MemoryReadEngine() {
  RequestStop();
  Join();
}

void MemoryReadEngine::Start() {
  if (started_) return;
  started_ = true;
  job_.Start([this](const StopToken& stop) { ReadMemory(request_, events_, stop, clock_); });
}

void ReadMemory(const MemoryReadRequest& request, MemoryReadEvents& events, const StopToken& stop,
                const Clock& clock) {
  if (Info(request.target).readsByMemoryDump || !request.reader) {
    DumpControllerMemory(request, events, stop, clock);
  } else {
    request.reader(request, events, stop);
  }
}

// ---- MemoryReadModel -----------------------------------------------------------------

MemoryReadModel::MemoryReadModel(MemoryReadRequest request, MemoryReadView& view, Operator& op,
                                 const Clock& clock)
    : request_(std::move(request)), view_(view), op_(op), clock_(clock) {}

MemoryReadModel::~MemoryReadModel() { Wait(); }

std::string MemoryReadModel::BytesSavedText(std::uint64_t saved, std::uint64_t length) {
  return std::to_string(saved) + " of " + std::to_string(length) + " bytes saved";
}

void MemoryReadModel::Open() {
  view_.SetProgressRange(100);
  view_.SetProgress(0);
  if (!Info(request_.target).readsByMemoryDump) view_.ShowRetry(false);
}

void MemoryReadModel::Tick(MemoryReadEvents* sink) {
  if (!started_) {
    started_ = true;
    StartRun(sink);
    return;
  }
  if (running_ && !checksumShown_) view_.SetField2(FormatElapsed((clock_.TickMs() - runStart_) / 1000));
}

std::string ClipDumpRange(std::uint32_t start, std::uint32_t& end) {
  if (end <= kControllerTopAddress) return {};
  char text[200];
  std::snprintf(text, sizeof text,
                "the controller reported the range 0x%08X-0x%08X; only 0x%08X-0x%08X, within its "
                "26-bit address space, is read",
                static_cast<unsigned>(start), static_cast<unsigned>(end), static_cast<unsigned>(start),
                static_cast<unsigned>(kControllerTopAddress));
  end = kControllerTopAddress;
  return text;
}

void MemoryReadModel::StartRun(MemoryReadEvents* sink) {
  Wait();  // a previous run's thread has sent its done message; collect it
  view_.EnableOk(false);
  view_.EnableRetry(false);
  view_.SetProgress(0);
  checksumShown_ = false;
  runStart_ = clock_.TickMs();
  running_ = true;
  engine_ = std::make_unique<MemoryReadEngine>(request_, sink ? *sink : *this, clock_);
  engine_->SetExitHook(exitHook_);
  if (!request_.warning.empty()) view_.AddListText("Warning: " + request_.warning + dump_text::kLineEnd);
  if (Info(request_.target).readsByMemoryDump) {
    view_.AddListText(std::string(dump_text::kReading) + dump_text::kLineEnd);
  }
  engine_->Start();
}

void MemoryReadModel::Retry(MemoryReadEvents* sink) {
  if (running_) return;
  if (request_.port->Purge() == 0) {
    op_.ShowMessage(std::strerror(errno));
    return;
  }
  StartRun(sink);
  view_.EnableRetry(false);
}

void MemoryReadModel::RequestStop() {
  if (engine_) engine_->RequestStop();
}

void MemoryReadModel::Wait() {
  if (engine_) engine_->Join();
}

void MemoryReadModel::Stop() {
  if (!engine_) return;
  engine_->RequestStop();
  engine_->Join();
  // OnDone runs on the reading thread (or is marshalled before the join
  // returns): still running now means it never came.
  if (running_) {
    running_ = false;
    result_ = rc::kStoppedByProgram;
  }
}

void MemoryReadModel::OnRange(std::uint32_t upper) { view_.SetProgressRange(upper); }
void MemoryReadModel::OnStep(std::uint32_t step) { view_.SetProgressStep(step); }

void MemoryReadModel::OnProgress(std::uint32_t position, std::uint32_t next) {
  view_.SetProgress(position);
  if (Info(request_.target).readsByMemoryDump) {
    const std::uint64_t length = static_cast<std::uint64_t>(request_.end) - request_.start + 1;
    const std::uint64_t saved = next >= request_.start ? next - request_.start : 0;
    view_.SetField1(BytesSavedText(saved, length));
  }
}

namespace {

bool IsOutputFailure(ResultCode code) { return code == rc::kCantOpenOutput || code == rc::kCantWriteOutput; }

// The file a read-back could not write, named in full with the system's
// reason. The run's own writer is gone by now, so a second try at the same
// place says why (a folder that is missing or not writable); a write that
// failed part way (a full disk) leaves no reason to give.
std::string RefusedOutputText(const std::string& path, ResultCode code) {
  std::error_code ec;
  const auto full = std::filesystem::absolute(path, ec);
  const std::string shown = ec ? path : full.string();
  const platform::AtomicFile probe(shown);
  return FileFailureText(shown, ResultText(code), {0, probe.IsOpen() ? std::string() : probe.Problem()});
}

}  // namespace

void MemoryReadModel::OnDone(ResultCode code, std::uint32_t /*next*/) {
  result_ = code;
  running_ = false;
  if (!request_.visible) {
    view_.Close();
    return;
  }
  view_.EnableOk(true);
  if (!Info(request_.target).readsByMemoryDump) {
    // The box's read-backs write their text file under a fixed name: say
    // where it went, in full.
    std::error_code ec;
    const auto full = std::filesystem::absolute(request_.path, ec);
    if (code == rc::kSuccess && !request_.path.empty()) {
      view_.AddListText("File saved to " + (ec ? request_.path : full.string()));
    }
    if (IsOutputFailure(code)) view_.AddListText(RefusedOutputText(request_.path, code));
    return;
  }
  if (code == rc::kSuccess) {
    view_.AddListText(std::string(dump_text::kCompleted) + dump_text::kLineEnd);
    view_.AddListText("File saved to " + request_.path);
  } else {
    view_.AddListText(std::string(dump_text::kAborted) + dump_text::kLineEnd);
    if (IsOutputFailure(code)) view_.AddListText(RefusedOutputText(request_.path, code));
    std::error_code ec;
    if (std::filesystem::exists(PartialDumpPath(request_.path), ec)) {
      view_.AddListText("What was read is kept in " + PartialDumpPath(request_.path));
    }
    view_.EnableRetry(true);
  }
}

void MemoryReadModel::OnLine(const std::string& text) { view_.AddListText(text); }

std::string ChecksumVerdict(std::uint32_t computed, std::uint32_t image) {
  if (computed == image) return "The checksums match: the boot image is whole.";
  std::string text = "The checksums do not match: the boot image is damaged or incomplete";
  // Every bit set where the checksum should stand: nothing was ever written.
  if (image == 0xFFFFFFFFu) text += " (the flash reads as erased)";
  return text + ".";
}

void MemoryReadModel::OnComputedChecksum(std::uint32_t value) {
  checksumShown_ = true;
  computedChecksum_ = value;
  char buf[40];
  std::snprintf(buf, sizeof buf, "Computed Checksum = 0x%04X", value);
  view_.SetField2(buf);
}

void MemoryReadModel::OnImageChecksum(std::uint32_t value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "Image Checksum = 0x%04X", value);
  view_.SetField1(buf);
  view_.AddListText(ChecksumVerdict(computedChecksum_, value));
}

}  // namespace tarnvale
