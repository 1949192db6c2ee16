#include "core/programmer/BoxWorkers.h"

#include <algorithm>
#include <cstdio>

#include "core/link/CommPort.h"
#include "core/programmer/PinImage.h"
#include "core/protocol/Timer.h"

namespace tarnvale {

void ControlLineProber::Start() {
  Stop();
  job_.Rearm();
  job_.Start([this](const StopToken& stop) { ProbeControlLines(link_, stop, pauseMs_, &sent_); });
}

void ControlLineProber::Stop() {
  job_.RequestStop();
  job_.Join();
}

void ProbeControlLines(BoxLink& link, const StopToken& stop, std::uint32_t pauseMs,
                       std::atomic<std::uint32_t>* sent) {
  std::uint32_t mask = 1;
  bool sentLast = false;
  while (!stop.StopRequested()) {
    std::optional<PinImage> image = ControlToggleImage(mask);
    if (!image && sentLast) image = IdleControlImage();
    sentLast = image.has_value();
    if (image) {
      link.Send(BuildPacket(kPinImageSize, 0, box_type::kDrivePins, image->bytes));
      if (sent != nullptr) sent->fetch_add(1);
      stop.SleepFor(link.TimeSource(), pauseMs);
    }
    mask = mask == 0x80000000u ? 1 : mask << 1;
  }
}

bool DecodeRamStatus(const MemoryRecord& record, RamStatus& s) {
  if (record.data.size() < 10) return false;
  const auto& d = record.data;
  s.state = d[0];
  s.code = d[1];
  s.value = static_cast<std::uint32_t>(d[2]) | static_cast<std::uint32_t>(d[3]) << 8 |
            static_cast<std::uint32_t>(d[4]) << 16 | static_cast<std::uint32_t>(d[5]) << 24;
  s.data1 = static_cast<std::uint16_t>(d[6] | d[7] << 8);
  s.data2 = static_cast<std::uint16_t>(d[8] | d[9] << 8);
  return true;
}

std::string RamFailureText(const RamStatus& s) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Failed at address = 0x%X, Data1 = 0x%X, Data2 = 0x%X ",
                static_cast<unsigned>(s.value), static_cast<unsigned>(s.data1),
                static_cast<unsigned>(s.data2));
  return buf;
}

std::string RamBankLine(bool test, int bank) {
  return std::string(test ? "Testing" : "Loading") + " RAM Bank " + std::to_string(bank);
}

void RamRunEvents::Begin() {
  if (begun_) return;
  begun_ = true;
  report_.Phase(phase_);
  report_.Total(100, 0);
}

void RamRunEvents::OnRamProgress(std::uint32_t percent) {
  Begin();
  percent_ = std::max(percent_, std::min<std::uint32_t>(percent, 100));
  report_.Progress(percent_, 0);
}

void RamRunEvents::OnRamFinished(ResultCode code, const RamStatus& last) {
  Begin();
  if (code == rc::kSuccess && percent_ < 100) {
    percent_ = 100;
    report_.Progress(100, 0);
  }
  report_.Finish(code, code == rc::kDataMismatch ? RamFailureText(last) : std::string());
}

namespace {

constexpr ResultCode kStopped = 0xFF;

// The reading side of one RAM bank run.
class RamWatch {
 public:
  RamWatch(BoxLink& link, const StopToken& stop) : link_(link), stop_(stop) {}
  // The next framed record of the stream: '0', '2' (bad checksum), '@'
  // (silence), kLinkLost, or kStopped once a stop's grace has passed.
  ResultCode NextRecord(MemoryRecord& record, Timer& silence);

 private:
  BoxLink& link_;
  const StopToken& stop_;
  std::vector<std::uint8_t> pending_;
  std::optional<Timer> grace_;  // started when the stop is first seen
};

// Records of the stream can arrive back to back in one read; the bytes after
// a complete record are kept for the next one instead of being dropped.
ResultCode RamWatch::NextRecord(MemoryRecord& record, Timer& silence) {
  for (;;) {
    const auto start = std::find(pending_.begin(), pending_.end(), kPacketStart);
    pending_.erase(pending_.begin(), start);
    if (pending_.size() >= 2 && pending_.size() >= static_cast<std::size_t>(pending_[1]) + kPacketOverhead) {
      const std::size_t n = pending_[1];
      unsigned sum = 0;
      for (std::size_t i = 1; i < n + kPacketOverhead; ++i) sum += pending_[i];
      record.count = pending_[1];
      record.address = static_cast<std::uint16_t>(pending_[2] << 8 | pending_[3]);
      record.type = pending_[4];
      record.data.assign(pending_.begin() + 5, pending_.begin() + 5 + static_cast<std::ptrdiff_t>(n));
      record.checksum = pending_[n + 5];
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n + kPacketOverhead));
      return (sum & 0xFF) == 0 ? rc::kSuccess : rc::kBadChecksum;
    }
    if (stop_.StopRequested()) {
      if (!grace_) grace_.emplace(stop_.GraceMs(), link_.TimeSource());
      if (grace_->IsExpired()) return kStopped;
    }
    std::uint8_t chunk[256];
    const std::size_t got = link_.Port().Read(chunk, sizeof chunk);
    if (got > 0) {
      pending_.insert(pending_.end(), chunk, chunk + got);
      silence.Restart(link_.Timings().recordSilenceMs);
      continue;
    }
    // A hung-up line is told as such, not as the box's silence.
    if (link_.Port().LinkLost()) return rc::kLinkLost;
    if (silence.IsExpired()) return rc::kTimeout;
    link_.Port().WaitReadable(std::min<std::uint32_t>(silence.RemainingMs(), 50));
  }
}

}  // namespace

ResultCode WatchRamBank(BoxLink& link, const StopToken& stop, RamEvents& events) {
  RamStatus last;
  RamWatch watch(link, stop);
  Timer silence(link.Timings().recordSilenceMs, link.TimeSource());
  for (;;) {
    MemoryRecord record;
    ResultCode r = watch.NextRecord(record, silence);
    if (r == kStopped) return rc::kStoppedByProgram;
    if (r == rc::kSuccess && !DecodeRamStatus(record, last)) r = rc::kTooFewBytes;
    if (r == rc::kSuccess && last.state == 1 && last.code == rc::kSuccess) {
      if (!stop.StopRequested()) events.OnRamProgress(last.value);
      continue;
    }
    if (r == rc::kSuccess) r = last.code;
    if (!stop.StopRequested()) events.OnRamFinished(r, last);
    // A run stopped during its grace ends as stopped, whatever came last.
    return stop.StopRequested() ? rc::kStoppedByProgram : r;
  }
}

ResultCode RunRamBank(BoxLink& link, const RamRequest& request, const StopToken& stop, RamEvents& events) {
  link.Send(RamBankPacket(request.test, request.bank));
  return WatchRamBank(link, stop, events);
}

// The watcher's flag turns false before the finish is told, so whoever
// hears it finds the run over.
class ProgressWatcher::Relay : public RamEvents {
 public:
  explicit Relay(ProgressWatcher& w) : w_(w) {}
  void OnRamProgress(std::uint32_t percent) override { w_.events_.OnRamProgress(percent); }
  void OnRamFinished(ResultCode code, const RamStatus& last) override {
    w_.running_.store(false);
    w_.events_.OnRamFinished(code, last);
  }

 private:
  ProgressWatcher& w_;
};

void ProgressWatcher::Start(bool test, int bank) {
  Join();
  job_.Rearm();
  running_.store(true);
  link_.Send(RamBankPacket(test, bank));
  job_.Start([this](const StopToken& stop) { Watch(stop); });
}

void ProgressWatcher::RequestStop(std::uint32_t graceMs) { job_.RequestStop(graceMs); }

void ProgressWatcher::Join() {
  // A finished event handled on the worker itself (no marshalling front end)
  // may ask to join; the thread is ending then and is joined on the next Start.
  job_.Join();
}

ResultCode ProgressWatcher::Watch(const StopToken& stop) {
  running_.store(true);
  Relay relay(*this);
  const ResultCode code = WatchRamBank(link_, stop, relay);
  running_.store(false);
  return code;
}

}  // namespace tarnvale
