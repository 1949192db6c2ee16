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
// Every this many polls the erase wait reports the elapsed time.
constexpr std::uint32_t kEraseTickEvery = 10;

std::unique_ptr<IntelHexFile> DefaultFile(const ProgrammingRequest& request, const LoadRange& r) {
  if (request.target != 1) return nullptr;
  return std::make_unique<IntelHexFile>(request.path, r.base, r.end,
                                        static_cast<std::uint32_t>(request.mode), r.lanes);
}

}  // namespace

LoadRange EffectiveRange(const ProgrammingRequest& request) {
  if (request.range) return *request.range;
  const TargetParams p = ParamsForTarget(request.target);
  return {p.base, p.end, p.lanes};
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
  clock.SleepMs(10);
  std::array<std::uint8_t, kReadChunk> buffer{};
  for (std::uint32_t poll = 1;; ++poll) {
    const std::size_t n = port.Read(buffer.data(), buffer.size());
    outcome.elapsedSeconds = (clock.TickMs() - start) / 1000;
    if (n > 0) {
      outcome.reply = buffer[0];
      outcome.kind = buffer[0] == '0' ? EraseOutcome::Kind::Erased : EraseOutcome::Kind::Error;
      return outcome;
    }
    if (clock.TickMs() - start > timings.eraseTimeoutMs) {
      outcome.kind = EraseOutcome::Kind::Timeout;
      return outcome;
    }
    if (observer) {
      observer->Pump();
      if (poll % kEraseTickEvery == 0) observer->Elapsed(outcome.elapsedSeconds);
    }
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
  const LoadRange range = EffectiveRange(request_);
  const TargetParams params = ParamsForTarget(request_.target);
  std::unique_ptr<IntelHexFile> file =
      request_.fileFactory ? request_.fileFactory(request_, range) : DefaultFile(request_, range);
  if (!file) return 0;
  if (ResultCode c = file->OpenFile(); c != 0) return c;
  if (ResultCode c = file->AllocateImage(); c != 0) return c;
  if (ResultCode c = file->LoadFile(); c != 0) return c;

  if (request_.target == 4 && request_.bootVersion && !stop_.load()) {
    events_.OnBootVersion(request_.bootVersion(*file));
  }
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
    if (stop_.load()) return rc::kProgrammingTimeout;
    file->GetNextPacket(packet);
    if (!packet.empty()) {
      const std::size_t written = port.Write(packet);
      if (request_.target == 2) clock_.SleepMs(5);
      if (written < packet.size()) {
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
      if (silent > request_.timings.ackTimeoutMs) return rc::kProgrammingTimeout;
      const bool mustWait = outstanding >= window || (file->IsFinished() && outstanding > 0);
      if (!mustWait) break;
      if (stop_.load()) return rc::kProgrammingTimeout;
      if (n == 0) {
        // Sleep until a byte arrives (bounded, so a stop request is seen).
        port.WaitReadable(std::min<std::uint32_t>(request_.timings.ackTimeoutMs - silent + 1, 100));
      }
    }
    if (file->IsFinished()) return rc::kSuccess;
  }
}

}  // namespace tarnvale
