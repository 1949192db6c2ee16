#pragma once
// The boundary-scan test of the whole 80386EX ("Test CPU").
//
// The box applies each image sent with drive-and-sample only after sampling
// the pins, so every sample shows the pins as the image before drove them.
// Seven stages compare driven and sampled levels.
//
// The run is a plain function of the link (whose clock its waits run by),
// a stop token and two listeners, run on the caller's thread (a JobThread
// for the front ends). Events, in this order:
//   OnMismatch(stage, expected, sampled)  each comparison whose levels differ
//   OnStage(stage, expected, sampled, show) at the end of each stage (and in
//                       the last stage at its first difference); the images
//                       are the stage's last, except that each pin that
//                       differed at any step of the stage shows the levels of
//                       its first such step, so no step's failure is lost;
//                       `show` when the pin list is to be shown
// and on the run sink: the phase "Testing CPU", a total of kPinComparisons,
// progress after each comparison and a finish with the verdict (PinVerdict).
// After a stop nothing more is sent (no finish either) and the outcome is
// kStoppedByProgram. A read that failed is never hidden: the first one is
// the outcome's code. A silent box ('@') ends the test at once, since every
// further read would only wait out its own time-out.

#include <string>
#include <vector>

#include "core/jobs/RunEvents.h"
#include "core/jobs/StopToken.h"
#include "core/programmer/BoxCommands.h"
#include "core/programmer/PinDiagnosis.h"
#include "core/programmer/PinImage.h"

namespace tarnvale {

namespace cpu_test_text {
inline constexpr const char* kTesting = "Testing CPU";
inline constexpr const char* kDone = "Turn off CPU test";
}  // namespace cpu_test_text

struct PinStage {
  int number = 0;        // 1 to 7
  const char* title = "";
};
// The seven stages and their titles.
extern const PinStage kPinStages[7];
// The comparisons of a whole run: 1 + 1 + 32 + 26 + 26 + 16 + 16.
inline constexpr int kPinComparisons = 118;

class CpuPinTestEvents {
 public:
  virtual ~CpuPinTestEvents() = default;
  virtual void OnMismatch(const PinStage& /*stage*/, const PinImage& /*expected*/,
                          const PinImage& /*sampled*/) {}
  virtual void OnStage(const PinStage& stage, const PinImage& expected, const PinImage& sampled,
                       bool show) = 0;
};

struct CpuPinTestOutcome {
  ResultCode firstFailedRead = rc::kSuccess;  // '0' when every read came back whole
  bool mismatch = false;                      // some levels differed
  bool lastStageCompleted = false;            // the last stage ran to its end
  bool stopped = false;                       // the stop token ended it early
  // The failing pins, judged from every comparison of the run.
  std::vector<PinFinding> findings;
  // kStoppedByProgram for a run that was stopped (the stages it skipped say
  // nothing of the board); '0' when clean; the first failed read's code;
  // else 'D' for mismatches.
  ResultCode Code() const {
    if (stopped) return rc::kStoppedByProgram;
    if (firstFailedRead != rc::kSuccess) return firstFailedRead;
    return mismatch ? rc::kDataMismatch : rc::kSuccess;
  }
  // "Success", or the failure with the count of failing pins (PinVerdict).
  std::string Verdict() const { return PinVerdict(Code(), findings.size()); }
  // Whether the outcome is told by a result message rather than a pin list:
  // a failed read, or a clean run. A stopped run is told by whoever stopped it.
  bool ShowAsResult() const { return !stopped && (firstFailedRead != rc::kSuccess || !mismatch); }
};

CpuPinTestOutcome RunCpuPinTest(BoxLink& link, const StopToken& stop, RunSink& run,
                                CpuPinTestEvents& events);

}  // namespace tarnvale
