#pragma once
// The boundary-scan test of the whole 80386EX ("Test CPU").
//
// The box applies each image sent with drive-and-sample only after sampling
// the pins, so every sample shows the pins as the image before drove them.
// Seven stages compare driven and sampled levels.
//
// Events, on the thread that calls Run, in this order:
//   OnMismatch(stage, expected, sampled)  each comparison whose levels differ
//   OnStage(stage, expected, sampled, show) at the end of each stage (and in
//                       the last stage at its first difference), with the last
//                       images; `show` when the pin list is to be shown
// Run returns the outcome. A read that failed is never hidden: the first one
// is the outcome's code. A silent box ('@') ends the test at once, since
// every further read would only wait out its own time-out.

#include <atomic>
#include <string>

#include "core/programmer/BoxCommands.h"
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
  bool stopped = false;                       // RequestStop ended it early
  // kStoppedByProgram for a run that was stopped (the stages it skipped say
  // nothing of the board); '0' when clean; the first failed read's code;
  // else 'D' for mismatches.
  ResultCode Code() const {
    if (stopped) return rc::kStoppedByProgram;
    if (firstFailedRead != rc::kSuccess) return firstFailedRead;
    return mismatch ? rc::kDataMismatch : rc::kSuccess;
  }
  // Whether the outcome is told by a result message rather than a pin list:
  // a failed read, or a clean run. A stopped run is told by whoever stopped it.
  bool ShowAsResult() const { return !stopped && (firstFailedRead != rc::kSuccess || !mismatch); }
};

class CpuPinTest {
 public:
  CpuPinTest(BoxLink& link, CpuPinTestEvents& events) : link_(link), events_(events) {}
  CpuPinTestOutcome Run();
  // Ends the run before its next exchange.
  void RequestStop() { stop_.store(true); }

 private:
  void Drive(const PinImage& image);
  void DriveAndSample(const PinImage& image);
  // '0' with `sampled` filled, or the failure (a record of another length: 'A').
  ResultCode Sample(PinImage& sampled);
  void Compare(const PinStage& stage, const PinImage& e, const PinImage& s);
  bool Halted() const { return stop_.load() || linkLost_; }

  BoxLink& link_;
  CpuPinTestEvents& events_;
  CpuPinTestOutcome outcome_;
  bool linkLost_ = false;
  std::atomic<bool> stop_{false};
};

}  // namespace tarnvale
