// Decoding of dump replies, the MAC address rule and the dialogs' texts.
#include <gtest/gtest.h>

#include "flash/LoadMemoryModel.h"
#include "flash/MemoryDump.h"
#include "flash/Workflows.h"
#include "protocol/Controller.h"

namespace tarnvale {
namespace {

TEST(DumpLine, DataAndFillRecords) {
  DumpLine line;
  ASSERT_EQ(ParseDumpLine("00000003:0A0B0C", 1000, line), rc::kSuccess);
  EXPECT_FALSE(line.fill);
  EXPECT_EQ(line.bytes, (std::vector<std::uint8_t>{0x0A, 0x0B, 0x0C}));
  EXPECT_EQ(line.Written(), 3u);

  ASSERT_EQ(ParseDumpLine("00000004.1234", 1000, line), rc::kSuccess);
  EXPECT_TRUE(line.fill);
  EXPECT_EQ(line.bytes, (std::vector<std::uint8_t>{0x34, 0x12}));
  EXPECT_EQ(line.Written(), 4u);  // 34 12 34 12

  ASSERT_EQ(ParseDumpLine("00000010.FF", 1000, line), rc::kSuccess);
  EXPECT_EQ(line.bytes, (std::vector<std::uint8_t>{0xFF}));
  EXPECT_EQ(line.Written(), 16u);

  // A pattern that does not divide the count is written whole.
  ASSERT_EQ(ParseDumpLine("00000005.AABBCCDD", 1000, line), rc::kSuccess);
  EXPECT_EQ(line.bytes, (std::vector<std::uint8_t>{0xDD, 0xCC, 0xBB, 0xAA}));
  EXPECT_EQ(line.Written(), 8u);
}

TEST(DumpLine, MalformedLinesAreDataMismatch) {
  DumpLine line;
  for (const char* bad : {"00000000:", "00000000.FF",  // count 0 would never advance
                          "00000010.",                  // fill without a pattern
                          "00000010.zz", "00000002:0A", "00000002:0AXY", "0000000A",
                          "", "zz:0A", "00100000.FF"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseDumpLine(bad, 0x1000, line), rc::kDataMismatch);
  }
}

TEST(RangeReply, OnlyTwentySixCharactersWithAnOrderedRange) {
  MemoryRange r;
  ASSERT_TRUE(ParseRangeReply("03800000 03FFFFFF 00800000", r));
  EXPECT_EQ(r.start, 0x03800000u);
  EXPECT_EQ(r.end, 0x03FFFFFFu);
  EXPECT_EQ(r.third, 0x00800000u);
  EXPECT_FALSE(ParseRangeReply("03800000 03FFFFFF 0080000", r));    // 25
  EXPECT_FALSE(ParseRangeReply("03800000 03FFFFFF 008000000", r));  // 27
  EXPECT_FALSE(ParseRangeReply("03800000 0380000G 00800000", r));
  EXPECT_FALSE(ParseRangeReply("03800000 037FFFFF 00800000", r));   // end below start
  EXPECT_TRUE(ParseRangeReply("00002000 00002000 00000001", r));    // one byte
}

TEST(DumpHeader, NamesTheStartAddress) {
  EXPECT_EQ(DumpHeaderText(0x2000),
            "Extra data inserted in file to make searching easier. Memory Starts at Address 0x2000");
}

TEST(MacQuestion, DependsOnModelAndVersion) {
  EXPECT_TRUE(MacAddressQuestion("RQ720 Press", "4.13.00", "S1"));
  EXPECT_FALSE(MacAddressQuestion("RQ720 Press", "4.13.01", "S1"));
  EXPECT_TRUE(MacAddressQuestion("RQ700", "4.57.05", "S1"));
  EXPECT_TRUE(MacAddressQuestion("RQ700", "4.02.00", "S1"));
  EXPECT_FALSE(MacAddressQuestion("RQ700", "4.57.06", "S1"));
  EXPECT_FALSE(MacAddressQuestion("RQ700", "5.01.00", "S1"));
  EXPECT_FALSE(MacAddressQuestion("RQ750", "4.01.00", "S1"));
  EXPECT_FALSE(MacAddressQuestion("RQ750 RQ720", "4.01.00", "S1"));
  EXPECT_EQ(*MacAddressQuestion("RQ720", "4.13.00", "QC-77"),
            "Software for this Model is unable to generate a MAC Address in versions 4.13.00 and "
            "older for controller Serial # QC-77. Knowing that the controller will not "
            "communicate with Corvid if using the Ethernet port and this software version, do you "
            "wish to continue programming the controller?");
}

TEST(BootBlock, SerialLengthIsClampedToTheBlock) {
  std::array<std::uint8_t, 16> erased;
  erased.fill(0xFF);
  EXPECT_EQ(BootBlockSerialNumber(erased).size(), 15u);
  std::array<std::uint8_t, 16> block{3, 'A', 'B', 'C', 'D'};
  EXPECT_EQ(BootBlockSerialNumber(block), "ABC");
}

TEST(DialogTexts, ElapsedAndLastModified) {
  EXPECT_EQ(FormatElapsed(0), "0 Min. 0 Sec.");
  EXPECT_EQ(FormatElapsed(125), "2 Min. 5 Sec.");
  EXPECT_EQ(FormatElapsed(3600 + 61), "1 Min. 1 Sec.");  // hours are not shown
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 13;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(FormatLastModified(t), "03/07/2024  @  01:05:09 PM");
  t.tm_hour = 12;
  EXPECT_EQ(FormatLastModified(t), "03/07/2024  @  12:05:09 PM");
  t.tm_hour = 0;
  EXPECT_EQ(FormatLastModified(t), "03/07/2024  @  00:05:09 AM");
  EXPECT_EQ(FileNameOnly("C:\\images\\app.FMF"), "app.FMF");
  EXPECT_EQ(FileNameOnly("/tmp/x/app.FMF"), "app.FMF");
  EXPECT_EQ(RecordsProcessedText(100, 2500), "Records 100 of 2500 processed");
  EXPECT_EQ(RecordsWrittenText(2500), "2500 Records successfully written!");
  EXPECT_EQ(EraseErrorText('H'), "Erase Error - 72");
}

}  // namespace
}  // namespace tarnvale
