#pragma once
// What a pin test found, pin by pin, judged from every comparison of every
// stage together rather than stage by stage: a single stage sees a pin only
// at the levels it drives, so a stuck pin and a short look alike there.
//
// Each failing pin (pins 3 to 103 whose read level ever differed from the
// expected one) gets one finding:
//   stuck at 0 / 1  it never read anything but that level
//   shorted         it misread exactly when one other pin was expected at
//                   the level it misread as (the other pin, when it fails
//                   too, names this one: a short is told as one pair)
//   unknown         anything else (an open pin, a fault of more than two)
// with the stage and step of the first comparison that showed it.

#include <cstddef>
#include <string>
#include <vector>

#include "core/programmer/PinImage.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

enum class PinFault { StuckAt0, StuckAt1, Shorted, Unknown };

struct PinFinding {
  int pin = 0;
  PinFault fault = PinFault::Unknown;
  int partner = -1;         // the other pin of a short
  int stage = 0;            // the first comparison that showed it: stage 1 to 7
  int step = 0;             // and its step within the stage, from 1
  bool expected = false;    // the levels of that comparison
  bool read = false;
};

// "A7 stuck at 0", "D3–D4 shorted" (lower pin first), "RESET open or unknown fault".
std::string FaultText(const PinFinding& finding);
// "stage 2 (Set All Pins High and Test), step 1": where it showed first.
std::string FindingPlace(const PinFinding& finding);
// One line of a summary: "A7 stuck at 0 — stage 2 (Set All Pins High and Test), step 1".
std::string FindingLine(const PinFinding& finding);
// The stable word of a fault for machines: "stuck_at_0", "stuck_at_1", "shorted", "unknown".
const char* FaultKey(PinFault fault);

// One finding per fault, in pin order: a short's two pins are told once, by
// the end that showed it first.
std::vector<PinFinding> FaultsOnce(const std::vector<PinFinding>& findings);

class PinDiagnosis {
 public:
  // One comparison of the run, whether or not its levels agreed.
  void Add(int stage, int step, const PinImage& expected, const PinImage& sampled);
  // The failing pins in pin order, one finding each.
  std::vector<PinFinding> Findings() const;
  std::size_t Comparisons() const { return comparisons_.size(); }

 private:
  struct Comparison {
    int stage;
    int step;
    PinImage expected;
    PinImage sampled;
  };
  PinFault Classify(int pin, int& partner) const;
  bool Fails(int pin) const;
  // Whether `pin` misread as `level` exactly when `other` was expected at `level`.
  bool ExplainedBy(int pin, bool level, int other) const;
  std::vector<Comparison> comparisons_;
};

// The last word of a run: "Success" for a clean board that answered every
// sample; "CPU pin test failed: N failing pin(s)" when pins failed (with the
// text of a failed read after it in brackets); else the text of `code` (a
// failed read, a stop).
std::string PinVerdict(ResultCode code, std::size_t failingPins);

}  // namespace tarnvale
