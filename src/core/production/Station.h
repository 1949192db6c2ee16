#pragma once
// Station mode of TN835 production: units are numbered from a pattern with
// a counter instead of typed, the operator is named once for the shift,
// and the shift's passes and failures are counted.
//
//   TN835-{yy}-{n:05}   ->  TN835-26-00042
//
// Fields in braces: {yyyy}, {yy}, {mm}, {dd} (the local date the unit is
// numbered on) and the counter {n}, or {n:0W} zero-padded to W digits.
// Everything else is literal text. The next counter value lives in the
// settings and moves on only when a boot run (the one that writes the
// serial number into the unit) succeeds, so a failed unit's number is used
// again and a restart carries on where the line stopped.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/ProductionImage.h"
#include "core/result/ResultCode.h"

namespace tarnvale {

// A unit's serial number is at most 15 characters (the boot image's record):
// the default keeps a two-digit year so that five counter digits fit.
inline constexpr const char* kDefaultSerialPattern = "TN835-{yy}-{n:05}";
// Settings of the station, beside the production paths.
inline constexpr const char* kStationPatternValue = "StationSerialPattern";
inline constexpr const char* kStationNextValue = "StationNextNumber";

class SerialPattern {
 public:
  // The pattern, or none with the reason in `error`: a brace left open, an
  // unknown field, no counter or more than one, a width outside 1 to 9.
  static std::optional<SerialPattern> Parse(const std::string& text, std::string& error);

  // The serial number of counter value `n` on `date`.
  std::string Format(std::uint32_t n, const std::tm& date) const;
  // The counter value of a serial this pattern makes on `date`, or none.
  std::optional<std::uint32_t> CounterOf(const std::string& serial, const std::tm& date) const;
  const std::string& Text() const { return text_; }

 private:
  struct Piece {
    enum class Kind { Literal, Year4, Year2, Month, Day, Counter } kind = Kind::Literal;
    std::string text;  // Literal
    int width = 0;     // Counter: 0 = as many digits as the number has
  };
  std::string text_;
  std::vector<Piece> pieces_;
};

// The counter value stored for the next unit (1 when none is stored), and
// storing it.
std::uint32_t StoredNextNumber();
bool StoreNextNumber(std::uint32_t next);
// The stored pattern, or the default.
std::string StoredSerialPattern();
bool StoreSerialPattern(const std::string& pattern);

// One shift at a station.
class Station {
 public:
  explicit Station(SerialPattern pattern) : pattern_(std::move(pattern)) {}

  const SerialPattern& Pattern() const { return pattern_; }
  void SetOperatorName(std::string name) { operatorName_ = std::move(name); }
  const std::string& OperatorName() const { return operatorName_; }

  // The serial number of the next unit: the scanned one when a label was
  // scanned for it, else the pattern's with the stored counter.
  std::string NextSerial(const std::tm& date) const;
  // Why the next serial number cannot be written into a unit (longer than
  // the boot image holds), or empty.
  std::string NextSerialProblem(const std::tm& date) const;
  // A scanned label names the next unit (empty: back to the pattern).
  void Scan(const std::string& serial) { scanned_ = serial; }
  bool Scanned() const { return !scanned_.empty(); }

  // A run of the unit `serial` ended. Counts it; a boot run that succeeded
  // for the pattern's own number (not a scanned one) advances the stored
  // counter past it. A scanned label is used for one unit only: the
  // successful boot run ends it.
  void RunEnded(ProductionImageKind kind, ResultCode code, const std::string& serial,
                const std::tm& date);

  std::uint32_t Passes() const { return passes_; }
  std::uint32_t Failures() const { return failures_; }
  // "Passed: N  Failed: M".
  std::string CountersText() const;

 private:
  SerialPattern pattern_;
  std::string operatorName_;
  std::string scanned_;
  std::uint32_t passes_ = 0;
  std::uint32_t failures_ = 0;
};

}  // namespace tarnvale
