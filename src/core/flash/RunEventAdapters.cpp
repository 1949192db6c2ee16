#include "core/flash/RunEventAdapters.h"

#include <algorithm>

namespace tarnvale {

void ProgrammingRunEvents::OnTotal(std::uint32_t packets) {
  total_ = packets;
  report_.Phase(kPhaseProgramming);
  report_.Total(packets, totalBytes_);
}

void ProgrammingRunEvents::OnProgress(std::uint32_t acknowledged) {
  done_ = acknowledged;
  report_.Progress(acknowledged, doneBytes_);
}

void ProgrammingRunEvents::OnResult(ResultCode code) {
  if (code == rc::kSuccess && done_ < total_) report_.Progress(total_, totalBytes_);
  report_.Finish(code);
}

void MemoryReadRunEvents::Begin() {
  if (begun_) return;
  begun_ = true;
  report_.Phase(kPhaseReading);
  report_.Total(length_, length_);
}

void MemoryReadRunEvents::OnProgress(std::uint32_t, std::uint32_t next) {
  if (report_.Finished()) return;
  Begin();
  // A read-back's first progress names the record it came with: never let
  // the count run back or past the range.
  const std::uint64_t at = next >= start_ ? std::min<std::uint64_t>(next - start_, length_) : 0;
  done_ = std::max(done_, at);
  report_.Progress(done_, done_);
}

void MemoryReadRunEvents::OnDone(ResultCode code, std::uint32_t next) {
  Begin();
  if (code == rc::kSuccess) {
    const std::uint64_t at = next >= start_ ? std::min<std::uint64_t>(next - start_, length_) : 0;
    if (at > done_) {
      done_ = at;
      report_.Progress(done_, done_);
    }
  }
  report_.Finish(code);
}

}  // namespace tarnvale
