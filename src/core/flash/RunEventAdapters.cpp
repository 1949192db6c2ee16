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
  if (verifying_) {
    if (code == rc::kDataMismatch && verified_.Failed()) {
      report_.Finish(code, VerifyFailedText(verified_));
    } else {
      report_.Finish(code, code == rc::kSuccess ? VerifiedText(verified_.bytes) : std::string());
    }
    return;
  }
  if (code == rc::kSuccess && done_ < total_) report_.Progress(total_, totalBytes_);
  report_.Finish(code);
}

void ProgrammingRunEvents::OnVerifyTotal(std::uint64_t bytes) {
  // Programming ended with every packet acknowledged: show it whole first.
  if (done_ < total_) report_.Progress(total_, totalBytes_);
  verifying_ = true;
  report_.Phase(kPhaseVerifying);
  report_.Total(bytes, bytes);
}

void ProgrammingRunEvents::OnVerifyProgress(std::uint64_t bytes) { report_.Progress(bytes, bytes); }

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
