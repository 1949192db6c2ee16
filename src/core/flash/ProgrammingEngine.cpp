#include "core/flash/ProgrammingEngine.h"

#include <algorithm>
#include <array>

#include "core/formats/IntelHexFile.h"
#include "core/link/CommPort.h"
#include "core/protocol/Packet.h"

namespace tarnvale {
namespace {

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;
constexpr std::size_t kReadChunk = 1024;

}  // namespace

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

void ProgrammingEngine::Start() {
  if (worker_.joinable()) return;
  running_.store(true);
  worker_ = std::thread([this] {
    Run();
    running_.store(false);
    if (exitHook_) exitHook_();
  });
}

void ProgrammingEngine::Join() {
  if (worker_.joinable()) worker_.join();
}

void ProgrammingEngine::Emit(ResultCode code) {
  if (!stop_.load()) events_.OnResult(code);
}

ResultCode ProgrammingEngine::Run() {
  acknowledged_.store(0);
  const ResultCode code = Stream();
  Emit(code);
  return code;
}

ResultCode ProgrammingEngine::Stream() {
  const TargetInfo& params = Info(request_.target);
  std::shared_ptr<IntelHexFile> file = request_.image;
  if (!file) {
    LoadedImage loaded = LoadImage(request_);
    if (!loaded.file) return loaded.code;  // 0: the target has no image of its own
    file = std::move(loaded.file);
  }

  if (request_.bootVersion && !stop_.load()) {
    events_.OnBootVersion(request_.bootVersion(*file));
  }
  std::string warning = request_.imageWarning;
  if (file->Dropped().Any()) {
    warning += (warning.empty() ? "" : "; ") + file->Path().string() + ": " + file->DroppedText();
  }
  if (!warning.empty() && !stop_.load()) events_.OnWarning(warning);
  if (!stop_.load()) events_.OnTotal(file->GetRecordCount());
  if (request_.normalizeRevision) {
    if (ResultCode c = request_.normalizeRevision(); c != rc::kSuccess) return c;
  }

  CommPort& port = *request_.port;
  const std::uint32_t window = std::max<std::uint32_t>(params.window, 1);
  const std::uint32_t step = std::max<std::uint32_t>(params.progressStep, 1);
  std::uint32_t lastActivity = clock_.TickMs();
  std::uint32_t outstanding = 0;
  std::array<std::uint8_t, kReadChunk> buffer{};
  Packet packet;
  packet.reserve(kMaxPacketSize);

  for (;;) {
    if (stop_.load()) return rc::kStoppedByProgram;
    file->GetNextPacket(packet);
    if (!packet.empty()) {
      const std::size_t written = port.Write(packet);
      if (params.packetPauseMs != 0) clock_.SleepMs(params.packetPauseMs);
      if (written < packet.size()) {
        // A write that fails because the other end has gone is a lost link,
        // not a slow one: look once, so the operator is told which.
        port.WaitReadable(0);
        if (port.LinkLost()) return rc::kLinkLost;
        if (!stop_.load()) events_.OnNotice(kShortWriteNotice);
        return rc::kTooFewBytes;
      }
      ++outstanding;
    }
    // Collect acknowledgements; wait for them while the window is full, or
    // at the end until every packet is answered.
    for (;;) {
      const std::size_t n = port.Read(buffer.data(), buffer.size());
      if (n > 0) lastActivity = clock_.TickMs();
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = buffer[i];
        if (IsStatusByte(b)) {
          if (outstanding > 0) --outstanding;
          if (b != rc::kSuccess) return b;
          const std::uint32_t acked = acknowledged_.fetch_add(1) + 1;
          if (acked % step == 0 && !stop_.load()) events_.OnProgress(acked);
        } else if (b != kCR && b != kLF && b != kPacketStart) {
          return b;
        }
      }
      const std::uint32_t silent = clock_.TickMs() - lastActivity;
      if (n == 0 && port.LinkLost()) return rc::kLinkLost;
      if (silent > request_.timings.ackTimeoutMs) return rc::kProgrammingTimeout;
      const bool mustWait = outstanding >= window || (file->IsFinished() && outstanding > 0);
      if (!mustWait) break;
      if (stop_.load()) return rc::kStoppedByProgram;
      if (n == 0) {
        // Sleep until a byte arrives (bounded, so a stop request is seen).
        port.WaitReadable(std::min<std::uint32_t>(request_.timings.ackTimeoutMs - silent + 1, 100));
      }
    }
    if (file->IsFinished()) return rc::kSuccess;
  }
}

}  // namespace tarnvale
