#include "core/production/Station.h"

#include <cctype>
#include <cstdio>

#include "core/settings/CRegistry.h"
#include "core/settings/ConfigData.h"

namespace tarnvale {
namespace {

std::string Number(std::uint32_t v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*u", width, static_cast<unsigned>(v));
  return buf;
}

}  // namespace

std::optional<SerialPattern> SerialPattern::Parse(const std::string& text, std::string& error) {
  SerialPattern p;
  p.text_ = text;
  int counters = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '}') {
      error = "a '}' without its '{' at position " + std::to_string(i + 1);
      return std::nullopt;
    }
    if (c != '{') {
      if (p.pieces_.empty() || p.pieces_.back().kind != Piece::Kind::Literal) p.pieces_.push_back({});
      p.pieces_.back().text += c;
      ++i;
      continue;
    }
    const std::size_t close = text.find('}', i);
    if (close == std::string::npos) {
      error = "the '{' at position " + std::to_string(i + 1) + " is not closed";
      return std::nullopt;
    }
    const std::string field = text.substr(i + 1, close - i - 1);
    Piece piece;
    if (field == "yyyy") {
      piece.kind = Piece::Kind::Year4;
    } else if (field == "yy") {
      piece.kind = Piece::Kind::Year2;
    } else if (field == "mm") {
      piece.kind = Piece::Kind::Month;
    } else if (field == "dd") {
      piece.kind = Piece::Kind::Day;
    } else if (field == "n" || (field.size() == 4 && field.compare(0, 3, "n:0") == 0 &&
                                std::isdigit(static_cast<unsigned char>(field[3])))) {
      piece.kind = Piece::Kind::Counter;
      piece.width = field == "n" ? 0 : field[3] - '0';
      if (field != "n" && piece.width == 0) {
        error = "the counter's width must be 1 to 9: {" + field + "}";
        return std::nullopt;
      }
      ++counters;
    } else {
      error = "unknown field {" + field + "}; fields are {yyyy}, {yy}, {mm}, {dd}, {n} and {n:0W}";
      return std::nullopt;
    }
    p.pieces_.push_back(piece);
    i = close + 1;
  }
  if (counters != 1) {
    error = counters == 0 ? "the pattern has no counter {n}" : "the pattern has more than one counter";
    return std::nullopt;
  }
  return p;
}

std::string SerialPattern::Format(std::uint32_t n, const std::tm& date) const {
  std::string out;
  for (const Piece& piece : pieces_) {
    switch (piece.kind) {
      case Piece::Kind::Literal: out += piece.text; break;
      case Piece::Kind::Year4: out += Number(static_cast<std::uint32_t>(date.tm_year + 1900) % 10000, 4); break;
      case Piece::Kind::Year2: out += Number(static_cast<std::uint32_t>(date.tm_year + 1900) % 100, 2); break;
      case Piece::Kind::Month: out += Number(static_cast<std::uint32_t>(date.tm_mon + 1), 2); break;
      case Piece::Kind::Day: out += Number(static_cast<std::uint32_t>(date.tm_mday), 2); break;
      case Piece::Kind::Counter: out += Number(n, piece.width); break;
    }
  }
  return out;
}

std::optional<std::uint32_t> SerialPattern::CounterOf(const std::string& serial, const std::tm& date) const {
  // Everything around the counter is fixed for a date: strip it and read
  // what is left as the number.
  std::string before, after;
  const Piece* counter = nullptr;
  for (const Piece& piece : pieces_) {
    if (piece.kind == Piece::Kind::Counter) {
      counter = &piece;
      continue;
    }
    SerialPattern one;
    one.pieces_ = {piece};
    (counter ? after : before) += one.Format(0, date);
  }
  if (counter == nullptr || serial.size() <= before.size() + after.size()) return std::nullopt;
  if (serial.compare(0, before.size(), before) != 0 ||
      serial.compare(serial.size() - after.size(), after.size(), after) != 0) {
    return std::nullopt;
  }
  const std::string digits = serial.substr(before.size(), serial.size() - before.size() - after.size());
  if (digits.size() > 10 || (counter->width != 0 && digits.size() < static_cast<std::size_t>(counter->width))) {
    return std::nullopt;
  }
  std::uint64_t v = 0;
  for (const char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > UINT32_MAX || Number(static_cast<std::uint32_t>(v), counter->width) != digits) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

std::uint32_t StoredNextNumber() {
  std::uint32_t v = 0;
  if (!CRegistry::ReadDWORD(RegistryRoot::CurrentUser, settings_key::kProduction, kStationNextValue, v) || v == 0) {
    return 1;
  }
  return v;
}

bool StoreNextNumber(std::uint32_t next) {
  return CRegistry::WriteDWORD(RegistryRoot::CurrentUser, settings_key::kProduction, kStationNextValue, next);
}

std::string StoredSerialPattern() {
  std::string v;
  if (!CRegistry::ReadString(RegistryRoot::CurrentUser, settings_key::kProduction, kStationPatternValue, v) ||
      v.empty()) {
    return kDefaultSerialPattern;
  }
  return v;
}

bool StoreSerialPattern(const std::string& pattern) {
  return CRegistry::WriteString(RegistryRoot::CurrentUser, settings_key::kProduction, kStationPatternValue, pattern);
}

std::string Station::NextSerial(const std::tm& date) const {
  return scanned_.empty() ? pattern_.Format(StoredNextNumber(), date) : scanned_;
}

std::string Station::NextSerialProblem(const std::tm& date) const {
  const std::string serial = NextSerial(date);
  if (serial.size() <= production::kSerialMax) return {};
  return "The serial number " + serial + " has " + std::to_string(serial.size()) +
         " characters; a unit holds at most " + std::to_string(production::kSerialMax) +
         ": shorten the pattern " + pattern_.Text();
}

void Station::RunEnded(ProductionImageKind kind, ResultCode code, const std::string& serial, const std::tm& date) {
  // A refusal of the dialog's own checks (no serial typed) programmed nothing.
  if (code == rc::kStoppedByOperator) return;
  if (code == rc::kSuccess) {
    ++passes_;
  } else {
    ++failures_;
  }
  if (kind != ProductionImageKind::Boot || code != rc::kSuccess) return;
  if (!scanned_.empty()) {
    if (serial == scanned_) scanned_.clear();
    return;
  }
  // Only the number this pattern made is used up; an older one reprogrammed
  // leaves the counter where it is.
  const auto n = pattern_.CounterOf(serial, date);
  if (n && *n >= StoredNextNumber()) StoreNextNumber(*n + 1);
}

std::string Station::CountersText() const {
  return "Passed: " + std::to_string(passes_) + "  Failed: " + std::to_string(failures_);
}

}  // namespace tarnvale
