// Controller queries against a scripted controller on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "flash/FakeDevice.h"
#include "link/CommPort.h"
#include "protocol/Controller.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

class ControllerQueries : public ::testing::Test {
 protected:
  void OpenPort() { ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 0, 8, 0)); }
  PtyPair pty;
  CommPort port;
};

TEST_F(ControllerQueries, SetPageSendsThePageHighByteFirst) {
  FakeDevice dev(pty, [](const SeenPacket&) { return std::string("0\n\r"); });
  OpenPort();
  EXPECT_EQ(SetPage(port, 0x03FF), rc::kSuccess);
  ASSERT_EQ(dev.Packets().size(), 1u);
  EXPECT_EQ(dev.Packets()[0].raw, (Bytes{0x3A, 0x02, 0x00, 0x00, 0x04, 0x03, 0xFF, 0xF8}));
}

TEST_F(ControllerQueries, MemoryRepliesAreCheckedAndBounded) {
  struct Case {
    const char* name;
    std::string reply;
    int delayMs;
    ResultCode expected;
  };
  const std::string good = ":02123400ABCD00\n\r";  // 2 * 2 + 13 = 17 bytes
  const std::vector<Case> cases{
      {"good", good, 0, rc::kSuccess},
      {"other address", ":02123500ABCD00\n\r", 0, rc::kDataMismatch},
      {"echo after the line", good + "xy", 0, rc::kStringTooLong},
      {"late", good, 320, rc::kTimeout},
      {"not hex", ":02123400ABXD00\n\r", 0, rc::kDataMismatch},
      {"no start", "x02123400ABCD00\n\r", 0, rc::kDataMismatch},
      // Says 16 bytes but carries two: never read past what came.
      {"count beyond the line", ":10123400ABCD00\n\r", 0, rc::kDataMismatch},
      {"far too long", std::string(1500, 'A'), 0, rc::kDataMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair local;
    FakeDevice dev(local, [&](const SeenPacket&) { return c.reply; }, c.delayMs);
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    MemoryRecord record;
    EXPECT_EQ(ReadMemoryBlock(p, 0x1234, 2, record), c.expected);
    if (c.expected == rc::kSuccess) {
      EXPECT_EQ(record.data, (Bytes{0xAB, 0xCD}));
      ASSERT_EQ(dev.Packets().size(), 1u);
      EXPECT_EQ(dev.Packets()[0].raw, (Bytes{0x3A, 0x01, 0x12, 0x34, 0x0B, 0x02, 0xAC}));
    }
  }
}

// A controller whose flash holds an application header.
MemoryController WithApplication(char revision, std::uint32_t start, Bytes header) {
  MemoryController m;
  m.Put(0x03FFFFEE, {static_cast<std::uint8_t>(revision)});
  m.Put(0x03FFFFB0, {5, 'Q', 'C', '0', '0', '7'});
  const std::uint32_t landmark = (revision == 'A' || revision == 'B') ? 0x03FFBFF0 : 0x03FDFFF0;
  m.Put(landmark, {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8),
                   static_cast<std::uint8_t>(start >> 16), static_cast<std::uint8_t>(start >> 24)});
  m.Put(start & 0xFFFF0000u, header);
  return m;
}

Bytes Header(std::uint8_t l1, std::uint8_t l2, std::uint8_t l3, const Bytes& fields) {
  Bytes h(16 + fields.size(), 0);
  h[12] = l1;
  h[13] = l2;
  h[14] = l3;
  for (std::size_t i = 0; i < fields.size(); ++i) h[16 + i] = fields[i];
  return h;
}

TEST_F(ControllerQueries, HeaderOfAnApplicationIsRead) {
  for (const char revision : {'B', 'C'}) {
    SCOPED_TRACE(revision);
    PtyPair local;
    MemoryController m = WithApplication(
        revision, 0x03C01234,
        Header(8, 3, 6, {7, '4', '.', '5', '7', '.', '0', '5', 0xAA, 0xBB, 0xCC, 5, 'R', 'Q', '7', '2', '0'}));
    FakeDevice dev(local, [&](const SeenPacket& p) { return m.Answer(p); });
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    ApplicationHeader h{};
    BootInfo b{};
    RecordingOperator op;
    ASSERT_EQ(Get_RQ700_APP_Header(p, h, b, &op), rc::kSuccess);
    EXPECT_EQ(h.applicationBase, 0x03C00000u);
    EXPECT_EQ(FieldText(h.controllerVersion), "4.57.05");
    EXPECT_EQ(FieldText(h.controllerModel), "RQ720");
    EXPECT_EQ(h.controllerIdentity[0], 0xAA);
    EXPECT_EQ(h.controllerIdentity[2], 0xCC);
    EXPECT_EQ(h.controllerIdentity[3], 0x00);
    EXPECT_EQ(h.controllerRevision, revision);
    EXPECT_EQ(b.controllerRevision, revision);
    EXPECT_EQ(BootBlockSerialNumber(b.controllerBootBlock), "QC007");
    // The start address came from the board's own landmark.
    const auto packets = dev.Packets();
    const bool old = revision == 'B';
    bool sawLandmark = false;
    for (std::size_t i = 1; i < packets.size(); ++i) {
      if (packets[i].type == 0x0B && packets[i - 1].type == 0x04) {
        const unsigned page = packets[i - 1].data[0] << 8 | packets[i - 1].data[1];
        if (page == (old ? 0x03FFu : 0x03FDu) && packets[i].address == (old ? 0xBFF0 : 0xFFF0)) {
          sawLandmark = true;
        }
      }
    }
    EXPECT_TRUE(sawLandmark);
    EXPECT_TRUE(op.logged.empty());
  }
}

TEST_F(ControllerQueries, LongFieldsAreRequestedWholeAndCopiedClamped) {
  Bytes fields{30};  // version text claims 30 characters
  for (int i = 0; i < 19; ++i) fields.push_back(static_cast<std::uint8_t>('a' + i));
  fields.insert(fields.end(), {1, 2});      // identity, L2 = 2
  fields.insert(fields.end(), {0xFF, 'M'}); // model claims 255 characters, L3 = 2
  MemoryController m = WithApplication('C', 0x03C00000, Header(20, 2, 2, fields));
  FakeDevice dev(pty, [&](const SeenPacket& p) { return m.Answer(p); });
  OpenPort();
  ApplicationHeader h{};
  BootInfo b{};
  ASSERT_EQ(Get_RQ700_APP_Header(port, h, b), rc::kSuccess);
  EXPECT_EQ(std::string(h.controllerVersion.begin(), h.controllerVersion.end()), "abcdefghijklmnop");
  // L3 = 2 received bytes: the length byte and one character.
  EXPECT_EQ(FieldText(h.controllerModel), "M");
  bool asked20 = false;
  for (const auto& p : dev.Packets()) {
    if (p.type == 0x0B && p.address == 16) asked20 = p.data[0] == 20;
  }
  EXPECT_TRUE(asked20);
}

TEST_F(ControllerQueries, NoApplicationIsReportedButNeverLogged) {
  MemoryController erased = WithApplication('C', 0xFFFFFFFF, {});
  MemoryController noSizes = WithApplication('C', 0x03C00000, Header(8, 0, 6, {}));
  for (MemoryController* m : {&erased, &noSizes}) {
    PtyPair local;
    FakeDevice dev(local, [&](const SeenPacket& p) { return m->Answer(p); });
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    ApplicationHeader h{};
    BootInfo b{};
    RecordingOperator op;
    EXPECT_EQ(Get_RQ700_APP_Header(p, h, b, &op), rc::kNoApplication);
    EXPECT_EQ(h.applicationBase, 0u);
    EXPECT_TRUE(op.logged.empty());
    if (m == &erased) {
      EXPECT_EQ(h.controllerIdentity, (std::array<std::uint8_t, 16>{
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    }
  }
  EXPECT_FALSE(std::filesystem::exists("ErroLog.txt"));
}

TEST_F(ControllerQueries, FailuresAreLoggedWithTheirLine) {
  // Each case silences one read; the failure is logged at its fixed line.
  struct Case {
    std::uint16_t page;
    std::uint16_t offset;
    int line;
  };
  const std::vector<Case> cases{{0x03FF, 0xFFE0, 765}, {0x03FD, 0xFFF0, 768}, {0x03FF, 0xFFB0, 771},
                                {0x03C0, 0x0000, 797}, {0x03C0, 0x0010, 822}, {0x03C0, 0x0018, 832},
                                {0x03C0, 0x001B, 840}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    PtyPair local;
    MemoryController m = WithApplication(
        'C', 0x03C00000, Header(8, 3, 4, {7, '5', '.', '0', '1', '.', '0', '0', 1, 2, 3, 3, 'R', 'Q', '7'}));
    FakeDevice dev(local, [&](const SeenPacket& p) {
      if (p.type == 0x0B && m.page == c.page && p.address == c.offset) return std::string();
      return m.Answer(p);
    });
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    ApplicationHeader h{};
    BootInfo b{};
    RecordingOperator op;
    EXPECT_EQ(Get_RQ700_APP_Header(p, h, b, &op), rc::kTimeout);
    ASSERT_EQ(op.logged.size(), 1u);
    EXPECT_EQ(op.logged[0], "64|Util|Get_RQ700_APP_Header|" + std::to_string(c.line));
  }
  const std::string log = ReadFileBytes("ErroLog.txt");
  EXPECT_NE(log.find("Error: 64, Occured in: Util, Function: Get_RQ700_APP_Header, Line: 840 \n"),
            std::string::npos);
}

TEST_F(ControllerQueries, RevisionBelowAIsInvalid) {
  MemoryController m;
  m.Put(0x03FFFFEE, {'@'});
  FakeDevice dev(pty, [&](const SeenPacket& p) { return m.Answer(p); });
  OpenPort();
  char revision = 'x';
  ASSERT_EQ(ReadHardwareRevision(port, revision), rc::kSuccess);
  EXPECT_EQ(revision, '@');
  std::uint32_t start = 0;
  EXPECT_EQ(ReadApplicationStart(port, start, revision), rc::kInvalidRevision);
}

}  // namespace
}  // namespace tarnvale::test
