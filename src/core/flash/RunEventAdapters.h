#pragma once
// The programming and read runs' events in the one vocabulary of a run
// (core/jobs/RunEvents.h), for front ends that draw every run alike. Each
// adapter is the events interface its run takes; after the run returns,
// Ended(code) gives a stopped run its Finished.

#include <cstdint>

#include "core/flash/MemoryDump.h"
#include "core/flash/ProgrammingEngine.h"
#include "core/jobs/RunEvents.h"

namespace tarnvale {

inline constexpr const char* kPhaseProgramming = "Programming";
inline constexpr const char* kPhaseReading = "Reading";

// Units are packets; bytes the image bytes behind them. The image's
// left-out data and a short write are warnings. A run that succeeded shows
// all of it done, even when its last step fell short of a progress event.
class ProgrammingRunEvents : public ProgrammingEvents {
 public:
  explicit ProgrammingRunEvents(RunSink& sink) : report_(sink) {}
  void OnTotalBytes(std::uint64_t bytes) override { totalBytes_ = bytes; }
  void OnTotal(std::uint32_t packets) override;
  void OnProgressBytes(std::uint64_t bytes) override { doneBytes_ = bytes; }
  void OnProgress(std::uint32_t acknowledged) override;
  void OnWarning(const std::string& text) override { report_.Warning(text); }
  void OnNotice(const std::string& text) override { report_.Warning(text); }
  void OnResult(ResultCode code) override;
  // The verify is a phase of its own; its units are the bytes read back.
  void OnVerifyTotal(std::uint64_t bytes) override;
  void OnVerifyProgress(std::uint64_t bytes) override;
  void OnVerifyOutcome(const VerifyOutcome& outcome) override { verified_ = outcome; }
  void Ended(ResultCode code) { report_.Ended(code); }

 private:
  RunReporter report_;
  bool verifying_ = false;
  VerifyOutcome verified_;
  std::uint32_t total_ = 0;
  std::uint32_t done_ = 0;
  std::uint64_t totalBytes_ = 0;
  std::uint64_t doneBytes_ = 0;
};

// Units and bytes are both the bytes read from `start` on, out of the
// `length` asked for; a dump's 0..1000 scale and a read-back's percentages
// are left to the dialogs that show them. The dump's last progress, which
// comes after its done, is folded into the finish.
class MemoryReadRunEvents : public MemoryReadEvents {
 public:
  MemoryReadRunEvents(RunSink& sink, std::uint32_t start, std::uint64_t length)
      : report_(sink), start_(start), length_(length) {}
  void OnRange(std::uint32_t) override { Begin(); }
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t position, std::uint32_t next) override;
  void OnDone(ResultCode code, std::uint32_t next) override;
  void Ended(ResultCode code) { report_.Ended(code); }

 private:
  void Begin();
  RunReporter report_;
  std::uint32_t start_;
  std::uint64_t length_;
  bool begun_ = false;
  std::uint64_t done_ = 0;
};

}  // namespace tarnvale
