// Controller queries against a scripted controller on the in-memory link:
// each write is one packet, answered after a set delay on the fake clock, so
// a late or missing answer runs into its time limit without the test waiting.
#include <gtest/gtest.h>

#include <functional>

#include "flash/FakeDevice.h"
#include "core/protocol/Controller.h"
#include "support/FakeLink.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

struct ControllerOnLink {
  // An empty answer is silence.
  explicit ControllerOnLink(std::function<std::string(const SeenPacket&)> answer, std::uint32_t delayMs = 0) {
    link.AttachTo(port);
    link.SetResponder([this, answer, delayMs](const FakeLink::Bytes& w) -> std::vector<FakeLink::Reply> {
      if (w.size() < 6 || w[0] != ':') return {};
      packets.push_back({w[4], static_cast<std::uint16_t>(w[2] << 8 | w[3]), Bytes(w.begin() + 5, w.end() - 1), w});
      const std::string reply = answer(packets.back());
      if (reply.empty()) return {};
      return {{delayMs, Bytes(reply.begin(), reply.end())}};
    });
  }
  FakeClock clock;
  FakeLink link{clock};
  CommPort port;
  std::vector<SeenPacket> packets;
};

TEST(ControllerQueries, SetPageSendsThePageHighByteFirst) {
  ControllerOnLink d([](const SeenPacket&) { return std::string("0\n\r"); });
  EXPECT_EQ(SetPage(d.port, 0x03FF, d.clock), rc::kSuccess);
  ASSERT_EQ(d.packets.size(), 1u);
  EXPECT_EQ(d.packets[0].raw, (Bytes{0x3A, 0x02, 0x00, 0x00, 0x04, 0x03, 0xFF, 0xF8}));
}

TEST(ControllerQueries, MemoryRepliesAreCheckedAndBounded) {
  const std::string good = ":02123400ABCD00\n\r";  // 2 * 2 + 13 = 17 bytes
  const std::vector<std::tuple<const char*, std::string, int, ResultCode>> cases{
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
  for (const auto& [name, reply, delayMs, expected] : cases) {
    SCOPED_TRACE(name);
    ControllerOnLink d([&](const SeenPacket&) { return reply; }, delayMs);
    MemoryRecord record;
    EXPECT_EQ(ReadMemoryBlock(d.port, 0x1234, 2, record, d.clock), expected);
    if (expected == rc::kTimeout) {
      EXPECT_GT(d.clock.TickMs(), controller::kReadMemoryTimeoutMs) << "gave up before its limit";
    }
    if (expected != rc::kSuccess) continue;
    EXPECT_EQ(record.data, (Bytes{0xAB, 0xCD}));
    ASSERT_EQ(d.packets.size(), 1u);
    EXPECT_EQ(d.packets[0].raw, (Bytes{0x3A, 0x01, 0x12, 0x34, 0x0B, 0x02, 0xAC}));
  }
}

// A controller whose flash holds an application header at `start` (none for
// an erased start address): sizes L1, L2, L3 at 12, 13, 14, the fields from 16.
MemoryController WithApplication(char revision, std::uint32_t start, std::uint8_t l1, std::uint8_t l2,
                                 std::uint8_t l3, const Bytes& fields) {
  MemoryController m;
  m.Put(0x03FFFFEE, {static_cast<std::uint8_t>(revision)});
  m.Put(0x03FFFFB0, {5, 'Q', 'C', '0', '0', '7'});
  const std::uint32_t landmark = (revision == 'A' || revision == 'B') ? 0x03FFBFF0 : 0x03FDFFF0;
  m.Put(landmark, {static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8),
                   static_cast<std::uint8_t>(start >> 16), static_cast<std::uint8_t>(start >> 24)});
  Bytes header(16, 0);
  header[12] = l1, header[13] = l2, header[14] = l3;
  header.insert(header.end(), fields.begin(), fields.end());
  if (start != 0xFFFFFFFF) m.Put(start & 0xFFFF0000u, header);
  return m;
}

// Get_RQ700_APP_Header against `m`; reads for which `silent` holds go unanswered.
struct HeaderRead : ControllerOnLink {
  explicit HeaderRead(MemoryController& m, std::function<bool(const SeenPacket&)> silent = {})
      : ControllerOnLink([&m, silent](const SeenPacket& p) { return silent && silent(p) ? std::string() : m.Answer(p); }) {
    code = Get_RQ700_APP_Header(port, h, b, &op, clock);
  }
  ApplicationHeader h{};
  BootInfo b{};
  RecordingOperator op;
  ResultCode code = rc::kSuccess;
};

// The start address is read at the board's own landmark (revision B's only
// holds it there), the header from the start address's page.
TEST(ControllerQueries, HeaderOfAnApplicationIsReadFromTheBoardsLandmark) {
  for (const char revision : {'B', 'C'}) {
    SCOPED_TRACE(revision);
    MemoryController m = WithApplication(revision, 0x03C01234, 8, 3, 6,
                                         {7, '4', '.', '5', '7', '.', '0', '5', 0xAA, 0xBB, 0xCC, 5, 'R', 'Q', '7', '2', '0'});
    const HeaderRead r(m);
    ASSERT_EQ(r.code, rc::kSuccess);
    EXPECT_EQ(r.h.applicationBase, 0x03C00000u);
    EXPECT_EQ(FieldText(r.h.controllerVersion), "4.57.05");
    EXPECT_EQ(FieldText(r.h.controllerModel), "RQ720");
    EXPECT_EQ(r.h.controllerIdentity, (std::array<std::uint8_t, 16>{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(r.h.controllerRevision, revision);
    EXPECT_EQ(r.b.controllerRevision, revision);
    EXPECT_EQ(BootBlockSerialNumber(r.b.controllerBootBlock), "QC007");
    EXPECT_TRUE(r.op.logged.empty());
  }
}

TEST(ControllerQueries, NoApplicationIsReportedButNeverLogged) {
  MemoryController erased = WithApplication('C', 0xFFFFFFFF, 0, 0, 0, {});
  MemoryController noSizes = WithApplication('C', 0x03C00000, 8, 0, 6, {});
  for (MemoryController* m : {&erased, &noSizes}) {
    const HeaderRead r(*m);
    EXPECT_EQ(r.code, rc::kNoApplication);
    EXPECT_EQ(r.h.applicationBase, 0u);
    EXPECT_TRUE(r.op.logged.empty());
  }
}

TEST(ControllerQueries, FailuresAreLoggedWithTheirLine) {
  // Each case silences one read; the failure is logged at its fixed line.
  const std::vector<std::tuple<std::uint16_t, std::uint16_t, int>> cases{
      {0x03FF, 0xFFE0, 765}, {0x03FD, 0xFFF0, 768}, {0x03FF, 0xFFB0, 771}, {0x03C0, 0x0000, 797},
      {0x03C0, 0x0010, 822}, {0x03C0, 0x0018, 832}, {0x03C0, 0x001B, 840}};
  for (const auto& [page, offset, line] : cases) {
    SCOPED_TRACE(line);
    MemoryController m = WithApplication('C', 0x03C00000, 8, 3, 4,
                                         {7, '5', '.', '0', '1', '.', '0', '0', 1, 2, 3, 3, 'R', 'Q', '7'});
    const HeaderRead r(m, [&](const SeenPacket& p) { return p.type == 0x0B && m.page == page && p.address == offset; });
    EXPECT_EQ(r.code, rc::kTimeout);
    EXPECT_EQ(r.op.logged, std::vector<std::string>{"64|Util|Get_RQ700_APP_Header|" + std::to_string(line)});
    // The read gave up after its own limit on the clock it was handed.
    EXPECT_GT(r.clock.TickMs(), controller::kReadMemoryTimeoutMs);
  }
}

}  // namespace
}  // namespace tarnvale::test
