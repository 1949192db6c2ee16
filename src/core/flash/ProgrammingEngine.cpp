#include "core/flash/ProgrammingEngine.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "core/formats/IntelHexFile.h"
#include "core/formats/ProgrammerHexFiles.h"
#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"

namespace tarnvale {
namespace {

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;
constexpr std::size_t kReadChunk = 1024;

}  // namespace

bool CanVerify(const ProgrammingRequest& request) {
  return request.mode == kModeProgramFlash && Info(request.target).readsByMemoryDump;
}

LoadRange EffectiveRange(const ProgrammingRequest& request) {
  if (request.range) return *request.range;
  return Info(request.target).range;
}

LoadedImage LoadImage(const ProgrammingRequest& request, std::FILE* from) {
  ImageRequest what;
  what.path = request.path;
  what.range = EffectiveRange(request);
  what.programFlash = request.mode != kModeLoad;
  what.layoutMode = request.layoutMode;
  if (request.boardInfo) what.boardInfo = *request.boardInfo;
  what.op = request.fileOperator;
  std::shared_ptr<IntelHexFile> file = MakeImageReader(request.target, what);
  if (!file) {
    if (from != nullptr) std::fclose(from);
    return {rc::kFileOk, nullptr, {}};
  }
  ResultCode c = from != nullptr ? file->OpenStream(from) : file->OpenFile();
  if (c == rc::kFileOk) c = file->AllocateImage();
  if (c == rc::kFileOk) c = file->LoadFile();
  if (c != rc::kFileOk) return {c, nullptr, file->Failure()};
  // The stream may read bytes its caller owns: nothing reads it once loaded.
  if (from != nullptr) file->CloseFile();
  return {rc::kFileOk, std::move(file), {}};
}

EraseOutcome EraseFlash(CommPort& port, const EngineTimings& timings, EraseObserver* observer,
                        const Clock& clock) {
  EraseOutcome outcome;
  const Packet packet = BuildPacket(0, 0, packet_type::kErase);
  const std::uint32_t start = clock.TickMs();
  if (port.Write(packet) != packet.size()) {
    outcome.kind = EraseOutcome::Kind::ShortWrite;
    return outcome;
  }
  if (observer) observer->Elapsed(0);
  std::uint32_t reportedSeconds = 0;
  clock.SleepMs(10);
  std::array<std::uint8_t, kReadChunk> buffer{};
  for (;;) {
    const std::size_t n = port.Read(buffer.data(), buffer.size());
    outcome.elapsedSeconds = (clock.TickMs() - start) / 1000;
    if (n > 0) {
      outcome.reply = buffer[0];
      outcome.kind = buffer[0] == '0' ? EraseOutcome::Kind::Erased : EraseOutcome::Kind::Error;
      return outcome;
    }
    if (port.LinkLost()) {  // no answer can come: end the long erase wait now
      outcome.kind = EraseOutcome::Kind::LinkLost;
      return outcome;
    }
    if (observer) {
      if (outcome.elapsedSeconds != reportedSeconds) {
        reportedSeconds = outcome.elapsedSeconds;
        observer->Elapsed(reportedSeconds);
      }
      if (observer->StopRequested()) {
        outcome.kind = EraseOutcome::Kind::Stopped;
        return outcome;
      }
    }
    if (clock.TickMs() - start > timings.eraseTimeoutMs) {
      outcome.kind = EraseOutcome::Kind::Timeout;
      return outcome;
    }
    if (observer) observer->Pump();
    // Wakes early when the answer arrives instead of sleeping the full poll.
    const std::uint32_t left = timings.eraseTimeoutMs + 1 - std::min(timings.eraseTimeoutMs + 1, clock.TickMs() - start);
    port.WaitReadable(std::min(timings.erasePollMs, std::max<std::uint32_t>(left, 1)));
  }
}

ProgrammingEngine::ProgrammingEngine(ProgrammingRequest request, ProgrammingEvents& events,
                                     const Clock& clock)
    : request_(std::move(request)), events_(events), clock_(clock) {}

ProgrammingEngine::~ProgrammingEngine() {
  RequestStop();
  Join();
}

void ProgrammingEngine::Start(bool eraseFirst) {
  if (started_) return;
  started_ = true;
  job_.Start([this, eraseFirst](const StopToken& stop) {
    acknowledged_.store(0);
    if (eraseFirst) {
      EraseAndProgramDevice(request_, events_, clock_, stop, &acknowledged_);
    } else {
      ProgramDevice(request_, events_, clock_, stop, &acknowledged_);
    }
  });
}

ResultCode ProgrammingEngine::Run() {
  acknowledged_.store(0);
  return ProgramDevice(request_, events_, clock_, job_.Token(), &acknowledged_);
}

namespace {

ResultCode Stream(const ProgrammingRequest& request, ProgrammingEvents& events, const Clock& clock,
                  const StopToken& stop, std::atomic<std::uint32_t>& acked) {
  const TargetInfo& params = Info(request.target);
  std::shared_ptr<IntelHexFile> file = request.image;
  if (!file) {
    LoadedImage loaded = LoadImage(request);
    if (!loaded.file) return loaded.code;  // 0: the target has no image of its own
    file = std::move(loaded.file);
  }

  if (request.bootVersion && !stop.StopRequested()) {
    events.OnBootVersion(request.bootVersion(*file));
  }
  std::string warning = request.imageWarning;
  if (file->Dropped().Any()) {
    warning += (warning.empty() ? "" : "; ") + file->Path().string() + ": " + file->DroppedText();
  }
  if (!warning.empty() && !stop.StopRequested()) events.OnWarning(warning);
  // The stream is walked once before anything is sent: the total and each
  // acknowledgement then come with the image bytes behind them, so no front
  // end reads the file again to count them. The image is already in memory;
  // the walk costs no time on the wire.
  std::vector<std::uint8_t> stream;
  std::vector<std::size_t> packetEnds;
  std::vector<std::uint64_t> bytesAfter{0};
  const bool verify = (request.verify || events.VerifyRequested()) && CanVerify(request);
  std::vector<Packet> sent;  // kept only to know what a verify reads back
  for (Packet walked; !file->IsFinished();) {
    file->GetNextPacket(walked);
    if (walked.empty()) continue;
    if (verify) sent.push_back(walked);
    stream.insert(stream.end(), walked.begin(), walked.end());
    packetEnds.push_back(stream.size());
    bytesAfter.push_back(bytesAfter.back() + PacketImageBytes(walked));
  }
  if (!stop.StopRequested()) {
    events.OnTotalBytes(bytesAfter.back());
    events.OnTotal(file->GetRecordCount());
  }
  if (request.normalizeRevision) {
    if (ResultCode c = request.normalizeRevision(); c != rc::kSuccess) return c;
  }

  CommPort& port = *request.port;
  const std::uint32_t window = std::max<std::uint32_t>(params.window, 1);
  const std::uint32_t step = std::max<std::uint32_t>(params.progressStep, 1);
  std::uint32_t lastActivity = clock.TickMs();
  std::uint32_t outstanding = 0;
  std::array<std::uint8_t, kReadChunk> buffer{};
  std::size_t next = 0;  // the next packet to send
  auto finished = [&] { return next >= packetEnds.size(); };

  for (;;) {
    if (stop.StopRequested()) return rc::kStoppedByProgram;
    if (!finished()) {
      const std::size_t from = next == 0 ? 0 : packetEnds[next - 1];
      const std::span<const std::uint8_t> packet(stream.data() + from, packetEnds[next] - from);
      ++next;
      const std::size_t written = port.Write(packet);
      if (params.packetPauseMs != 0) clock.SleepMs(params.packetPauseMs);
      if (written < packet.size()) {
        // A write that fails because the other end has gone is a lost link,
        // not a slow one: look once, so the operator is told which.
        port.WaitReadable(0);
        if (port.LinkLost()) return rc::kLinkLost;
        if (!stop.StopRequested()) events.OnNotice(kShortWriteNotice);
        return rc::kTooFewBytes;
      }
      ++outstanding;
    }
    // Collect acknowledgements; wait for them while the window is full, or
    // at the end until every packet is answered.
    for (;;) {
      const std::size_t n = port.Read(buffer.data(), buffer.size());
      if (n > 0) lastActivity = clock.TickMs();
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = buffer[i];
        if (IsStatusByte(b)) {
          if (outstanding > 0) --outstanding;
          if (b != rc::kSuccess) {
            if (!stop.StopRequested()) events.OnRefused(b);
            return b;
          }
          const std::uint32_t count = acked.fetch_add(1) + 1;
          if (count % step == 0 && !stop.StopRequested()) {
            events.OnProgressBytes(bytesAfter[std::min<std::size_t>(count, bytesAfter.size() - 1)]);
            events.OnProgress(count);
          }
        } else if (b != kCR && b != kLF && b != kPacketStart) {
          return b;
        }
      }
      const std::uint32_t silent = clock.TickMs() - lastActivity;
      if (n == 0 && port.LinkLost()) return rc::kLinkLost;
      if (silent > request.timings.ackTimeoutMs) return rc::kProgrammingTimeout;
      const bool mustWait = outstanding >= window || (finished() && outstanding > 0);
      if (!mustWait) break;
      if (stop.StopRequested()) return rc::kStoppedByProgram;
      if (n == 0) {
        // Sleep until a byte arrives (bounded, so a stop request is seen).
        port.WaitReadable(std::min<std::uint32_t>(request.timings.ackTimeoutMs - silent + 1, 100));
      }
    }
    if (finished()) break;
  }
  if (!verify) return rc::kSuccess;
  // A controller's top 16 KB is the CPU board's boot flash, which only the
  // box programs: the controller takes those packets without writing them,
  // so they are not read back.
  const std::vector<ProgrammedRange> ranges = ProgrammedRanges(sent, Boot386IntelHexFile::kImageBase);
  std::uint64_t total = 0;
  for (const ProgrammedRange& r : ranges) total += r.bytes.size();
  if (!stop.StopRequested()) events.OnVerifyTotal(total);
  VerifyOutcome outcome;
  const ResultCode code = VerifyProgrammed(port, ranges, request.timings, clock, stop, outcome,
                                           [&](std::uint64_t b) { events.OnVerifyProgress(b); });
  if (code == rc::kSuccess || code == rc::kDataMismatch) {
    if (!stop.StopRequested()) events.OnVerifyOutcome(outcome);
  }
  return code;
}

}  // namespace

ResultCode ProgramDevice(const ProgrammingRequest& request, ProgrammingEvents& events,
                         const Clock& clock, const StopToken& stop,
                         std::atomic<std::uint32_t>* acknowledged) {
  std::atomic<std::uint32_t> own{0};
  const ResultCode code = Stream(request, events, clock, stop, acknowledged ? *acknowledged : own);
  if (!stop.StopRequested()) events.OnResult(code);
  return code;
}

namespace {

// The erase wait's observer: the run's events hear the seconds, and the
// wait ends on the run's token or on the events' own stop.
class EraseEvents : public EraseObserver {
 public:
  EraseEvents(ProgrammingEvents& events, const StopToken& stop) : events_(events), stop_(stop) {}
  void Elapsed(std::uint32_t seconds) override {
    if (!stop_.StopRequested()) events_.OnEraseWaited(seconds);
  }
  bool StopRequested() override { return stop_.StopRequested() || events_.EraseStopRequested(); }

 private:
  ProgrammingEvents& events_;
  const StopToken& stop_;
};

ResultCode EraseFailure(EraseOutcome::Kind kind) {
  switch (kind) {
    case EraseOutcome::Kind::Erased: return rc::kSuccess;
    case EraseOutcome::Kind::ShortWrite: return rc::kTooFewBytes;
    case EraseOutcome::Kind::Stopped: return rc::kStoppedByProgram;
    case EraseOutcome::Kind::LinkLost: return rc::kLinkLost;
    case EraseOutcome::Kind::Timeout: return rc::kTimeout;
    case EraseOutcome::Kind::Error: return rc::kEraseError;
  }
  return rc::kEraseError;
}

}  // namespace

ResultCode EraseAndProgramDevice(const ProgrammingRequest& request, ProgrammingEvents& events,
                                 const Clock& clock, const StopToken& stop,
                                 std::atomic<std::uint32_t>* acknowledged) {
  auto end = [&](ResultCode code) {
    if (!stop.StopRequested()) events.OnResult(code);
    return stop.StopRequested() ? rc::kStoppedByProgram : code;
  };
  if (request.normalizeRevision && Info(request.target).flashRevisionRule) {
    if (const ResultCode c = request.normalizeRevision(); c != rc::kSuccess) return end(c);
  }
  if (stop.StopRequested()) return rc::kStoppedByProgram;
  events.OnEraseStarted();
  EraseEvents observer(events, stop);
  const EraseOutcome erase = EraseFlash(*request.port, request.timings, &observer, clock);
  if (stop.StopRequested()) return rc::kStoppedByProgram;
  events.OnEraseEnded(erase);
  if (erase.kind != EraseOutcome::Kind::Erased) return end(EraseFailure(erase.kind));
  return ProgramDevice(request, events, clock, stop, acknowledged);
}

}  // namespace tarnvale
