#include "core/programmer/PinDiagnosis.h"

#include "core/programmer/CpuPinTest.h"

#include <algorithm>

namespace tarnvale {

std::string FaultText(const PinFinding& f) {
  switch (f.fault) {
    case PinFault::StuckAt0: return PinName(f.pin) + " stuck at 0";
    case PinFault::StuckAt1: return PinName(f.pin) + " stuck at 1";
    case PinFault::Shorted: {
      const int low = std::min(f.pin, f.partner);
      const int high = std::max(f.pin, f.partner);
      return PinName(low) + "\u2013" + PinName(high) + " shorted";
    }
    case PinFault::Unknown: break;
  }
  return PinName(f.pin) + " open or unknown fault";
}

std::string FindingPlace(const PinFinding& f) {
  const char* title = f.stage >= 1 && f.stage <= 7 ? kPinStages[f.stage - 1].title : "";
  return "stage " + std::to_string(f.stage) + " (" + title + "), step " + std::to_string(f.step);
}

std::string FindingLine(const PinFinding& f) { return FaultText(f) + " \u2014 " + FindingPlace(f); }

const char* FaultKey(PinFault fault) {
  switch (fault) {
    case PinFault::StuckAt0: return "stuck_at_0";
    case PinFault::StuckAt1: return "stuck_at_1";
    case PinFault::Shorted: return "shorted";
    case PinFault::Unknown: break;
  }
  return "unknown";
}

void PinDiagnosis::Add(int stage, int step, const PinImage& expected, const PinImage& sampled) {
  comparisons_.push_back(Comparison{stage, step, expected, sampled});
}

bool PinDiagnosis::Fails(int pin) const {
  for (const Comparison& c : comparisons_) {
    if (c.expected.Level(pin) != c.sampled.Level(pin)) return true;
  }
  return false;
}

bool PinDiagnosis::ExplainedBy(int pin, bool level, int other) const {
  for (const Comparison& c : comparisons_) {
    // Only where the pin was to show the other level can it show a short.
    if (c.expected.Level(pin) == level) continue;
    const bool misread = c.sampled.Level(pin) == level;
    if (misread != (c.expected.Level(other) == level)) return false;
  }
  return true;
}

PinFault PinDiagnosis::Classify(int pin, int& partner) const {
  bool read0 = false, read1 = false, misread0 = false, misread1 = false;
  for (const Comparison& c : comparisons_) {
    const bool r = c.sampled.Level(pin);
    (r ? read1 : read0) = true;
    if (r != c.expected.Level(pin)) (r ? misread1 : misread0) = true;
  }
  if (!read1) return PinFault::StuckAt0;
  if (!read0) return PinFault::StuckAt1;
  if (misread0 == misread1) return PinFault::Unknown;
  // It follows its own level except when pulled to `level` by another pin:
  // find the one pin whose expected level says exactly when. A failing
  // candidate is the short's other end; a passing one is only a suspect
  // when no failing pin fits, and only when it is the one that fits.
  const bool level = misread1;
  std::vector<int> failing, passing;
  for (int other = 0; other < kPinCount; ++other) {
    if (other == pin || !ExplainedBy(pin, level, other)) continue;
    (Fails(other) ? failing : passing).push_back(other);
  }
  const std::vector<int>& fits = failing.empty() ? passing : failing;
  if (fits.size() != 1) return PinFault::Unknown;
  partner = fits.front();
  return PinFault::Shorted;
}

std::vector<PinFinding> PinDiagnosis::Findings() const {
  std::vector<PinFinding> out;
  for (int pin = kFirstShownPin; pin < kPinCount; ++pin) {
    const Comparison* first = nullptr;
    for (const Comparison& c : comparisons_) {
      if (c.expected.Level(pin) != c.sampled.Level(pin)) {
        first = &c;
        break;
      }
    }
    if (first == nullptr) continue;
    PinFinding f;
    f.pin = pin;
    f.fault = Classify(pin, f.partner);
    f.stage = first->stage;
    f.step = first->step;
    f.expected = first->expected.Level(pin);
    f.read = first->sampled.Level(pin);
    out.push_back(f);
  }
  return out;
}

std::vector<PinFinding> FaultsOnce(const std::vector<PinFinding>& findings) {
  auto earlier = [](const PinFinding& a, const PinFinding& b) {
    return a.stage != b.stage ? a.stage < b.stage : a.step < b.step;
  };
  std::vector<PinFinding> out;
  for (const PinFinding& f : findings) {
    if (f.fault != PinFault::Shorted) {
      out.push_back(f);
      continue;
    }
    const auto other = std::find_if(findings.begin(), findings.end(), [&f](const PinFinding& g) {
      return g.pin == f.partner && g.fault == PinFault::Shorted && g.partner == f.pin;
    });
    if (other == findings.end()) {
      out.push_back(f);
    } else if (f.pin < other->pin) {
      out.push_back(earlier(*other, f) ? *other : f);
    }
  }
  return out;
}

std::string PinVerdict(ResultCode code, std::size_t failingPins) {
  if (failingPins > 0 && code != rc::kStoppedByProgram) {
    std::string text = "CPU pin test failed: " + std::to_string(failingPins) + " failing pin" +
                       (failingPins == 1 ? "" : "s");
    // A read that failed as well is said, not hidden behind the pins.
    if (code != rc::kDataMismatch && code != rc::kSuccess) text += " (" + ResultText(code) + ")";
    return text;
  }
  return ResultText(code);
}

}  // namespace tarnvale
