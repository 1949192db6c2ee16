// Station mode's serial numbers: the pattern language, the counter it reads
// back out of a serial, and the counter in the settings that only a
// successful boot run moves (and that a new station object, as after a
// restart, carries on from).
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include "core/production/Station.h"

namespace tarnvale {
namespace {

std::tm Date(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  return t;
}

SerialPattern Pattern(const std::string& text) {
  std::string error;
  const auto p = SerialPattern::Parse(text, error);
  EXPECT_TRUE(p.has_value()) << text << ": " << error;
  return p.value_or(*SerialPattern::Parse("{n}", error));
}

TEST(SerialPattern, FormatsEachFieldAndRefusesBadPatterns) {
  const std::tm date = Date(2026, 3, 7);
  struct Case {
    std::string pattern;
    std::uint32_t n;
    std::string serial;  // empty: refused, `error` names why
    std::string error;
  };
  const std::vector<Case> cases{
      {"TN835-{yyyy}-{n:05}", 42, "TN835-2026-00042", ""},
      {"TN835-{yyyy}-{n:05}", 123456, "TN835-2026-123456", ""},  // outgrows its width
      {"{yy}{mm}{dd}{n:3}", 7, "", "unknown field {n:3}"},
      {"{yy}{mm}{dd}{n:03}", 7, "260307007", ""},
      {"U{n}", 0, "U0", ""},
      {"A{n}B", 99, "A99B", ""},
      {"TN835-{yyyy}", 1, "", "no counter"},
      {"{n}-{n:02}", 1, "", "more than one counter"},
      {"X{n:00}", 1, "", "width"},
      {"X{q}{n}", 1, "", "unknown field {q}"},
      {"X{n", 1, "", "not closed"},
      {"X}{n}", 1, "", "without its '{'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    std::string error;
    const auto p = SerialPattern::Parse(c.pattern, error);
    if (c.serial.empty()) {
      EXPECT_FALSE(p.has_value());
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(p.has_value()) << error;
    EXPECT_EQ(p->Format(c.n, date), c.serial);
    EXPECT_EQ(p->CounterOf(c.serial, date), c.n);
  }
  // Serials the pattern did not make, or made on another day, give no counter.
  const SerialPattern p = Pattern("TN835-{yyyy}-{n:05}");
  for (const std::string other : {"TN835-2025-00042", "TN835-2026-0042", "TN835-2026-0004X", "TN835-2026-",
                                  "SN0001", "TN835-2026-00042-B"}) {
    EXPECT_FALSE(p.CounterOf(other, date).has_value()) << other;
  }
}

// For every counter value: the serial reads back as that value, and with a
// zero-padded counter serials of one width sort as their numbers do (a
// line's labels and logs list in order).
RC_GTEST_PROP(SerialPattern, EveryCounterReadsBackAndSortsInOrder, (std::uint32_t a, std::uint32_t b)) {
  const std::tm date = Date(2026, 12, 7);
  const SerialPattern p = Pattern("TN835-{yyyy}-{n:09}");
  RC_ASSERT(p.CounterOf(p.Format(a, date), date) == std::optional<std::uint32_t>(a));
  const std::uint32_t x = a % 1000000000u, y = b % 1000000000u;
  RC_ASSERT((p.Format(x, date) < p.Format(y, date)) == (x < y));
}

TEST(Station, OnlyASuccessfulBootRunMovesTheStoredCounter) {
  const std::tm date = Date(2026, 12, 7);
  ASSERT_TRUE(StoreNextNumber(41));
  Station station(Pattern("TN835-{yyyy}-{n:05}"));
  EXPECT_EQ(station.NextSerial(date), "TN835-2026-00041");
  struct Step {
    ProductionImageKind kind;
    ResultCode code;
    std::string serial;
    std::uint32_t next;  // stored afterwards
  };
  const std::vector<Step> steps{
      {ProductionImageKind::Boot, 'D', "TN835-2026-00041", 41},          // failed boot: the number is used again
      {ProductionImageKind::Application, '0', "TN835-2026-00041", 41},   // other images never move it
      {ProductionImageKind::Boot, rc::kStoppedByOperator, "TN835-2026-00041", 41},
      {ProductionImageKind::Boot, '0', "TN835-2026-00041", 42},
      {ProductionImageKind::Boot, '0', "TN835-2026-00041", 42},          // the same unit again
      {ProductionImageKind::Boot, '0', "TN835-2026-00030", 42},          // an older unit reprogrammed
      {ProductionImageKind::Boot, '0', "SCANNED-7", 42},                 // not the pattern's
      {ProductionImageKind::Test, 'J', "TN835-2026-00042", 42},
  };
  for (const Step& s : steps) {
    station.RunEnded(s.kind, s.code, s.serial, date);
    EXPECT_EQ(StoredNextNumber(), s.next) << s.serial;
  }
  // Refusals of the dialog's own checks programmed nothing and are not counted.
  EXPECT_EQ(station.Passes(), 5u);
  EXPECT_EQ(station.Failures(), 2u);
  EXPECT_EQ(station.CountersText(), "Passed: 5  Failed: 2");

  // A pattern whose serial outgrows what a unit holds says so.
  EXPECT_EQ(Station(Pattern("TN835-{yyyy}-{n:05}")).NextSerialProblem(date),
            "The serial number TN835-2026-00042 has 16 characters; a unit holds at most 15: shorten the "
            "pattern TN835-{yyyy}-{n:05}");
  EXPECT_EQ(Station(Pattern(kDefaultSerialPattern)).NextSerialProblem(date), "");

  // A new station (the program started again) goes on from the settings.
  Station after(Pattern("TN835-{yyyy}-{n:05}"));
  EXPECT_EQ(after.NextSerial(date), "TN835-2026-00042");
  // A scanned label names one unit; its successful boot returns to the pattern.
  after.Scan("LABEL-1");
  EXPECT_EQ(after.NextSerial(date), "LABEL-1");
  after.RunEnded(ProductionImageKind::Boot, '0', "LABEL-1", date);
  EXPECT_EQ(after.NextSerial(date), "TN835-2026-00042");
  EXPECT_EQ(StoredNextNumber(), 42u);
}

}  // namespace
}  // namespace tarnvale
