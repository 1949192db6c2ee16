// The serial tester: line parsing, byte formatting, each line's outcome with
// its TX:/RX: lines for the terminal view, the dialog's model on a pty, and
// the file send as a run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <variant>

#include "core/link/CommPort.h"
#include "core/tools/SerialTest.h"
#include "support/FakeLink.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Every well-formed token: SerialTokenPropertiesTest.
TEST(SerialLine, ParsesTokens) {
  struct Case {
    std::string line;
    std::optional<Bytes> bytes;
  };
  const Case cases[] = {
      {"A,,B", Bytes{'A'}},             // an empty token ends the line
      {"0X", Bytes{0x00}},              // no hex digit: 0x00
      {"0X1G", Bytes{0x01}},            // digits up to the first non-hex character
      {"0x123", std::nullopt},
      {"A,B,AB", std::nullopt},         // one bad token spoils the line
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSerialLine(c.line), c.bytes) << c.line;
}

TEST(SerialLine, FormatsBytes) {
  struct Case {
    Bytes bytes;
    std::string text;
  };
  const Case cases[] = {
      {{0x19, 0x03, 'A', 'B', 'C', 0x02}, "0x19,0x3,A,B,C,0x2"},
      {{0x7E}, "0x7E"},  // tilde is above 125
      {{','}, "0x2C"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSerialBytes(c.bytes), c.text);
}

class SerialTester : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)); }
  test::PtyPair pty;
  CommPort port;
  test::RecordingOperator op;
  std::vector<std::string> shown;
  SerialTestModel model{port, [this](const std::string& t) { shown.push_back(t); }, op};
};

// Whatever happens to a line is said: the reply (bytes above 125 in hex), a
// token that is not valid (nothing sent), no reply, a reply longer than
// waited for, nothing arrived with a count of 0, a port that is not open (no
// "TX:"). The device's reply is on its way before the line is sent.
TEST(SerialLineOutcomes, EachOutcomeIsSaid) {
  const std::string notValid = "\" is neither one character nor a byte value 0x0 to 0xFF (commas are typed as 0x2C)";
  const struct {
    const char* name;
    std::string line;
    std::uint32_t count;
    std::string waiting;  // already on its way before the send
    bool closePort;
    SerialLineOutcome outcome;
    std::vector<std::string> shown;
    std::string wire;  // what the device receives
  } cases[] = {
      {"a reply", "0x19,0x3,A,B,C,0x2", 3, "\xFF~ ", false, SerialLineOutcome::Replied,
       {"\nTX:0x19,0x3,A,B,C,0x2", "\nRX:0xFF,0x7E, "}, std::string("\x19\x03" "ABC\x02", 6)},
      {"two letters", "AB", 2, "", false, SerialLineOutcome::Invalid, {"\nNot sent: \"AB" + notValid}, ""},
      {"no reply", "A", 2, "", false, SerialLineOutcome::NoReply, {"\nTX:A", "\nNo reply within 40 ms"}, "A"},
      {"too long a reply", "B", 2, "xyz", false, SerialLineOutcome::TooLong,
       {"\nTX:B", "\nRX:x,y,z (more than the 2 characters waited for)"}, "B"},
      {"count 0, something there", "C", 0, "ok", false, SerialLineOutcome::Replied, {"\nTX:C", "\nRX:o,k"}, "C"},
      {"count 0, nothing there", "C", 0, "", false, SerialLineOutcome::NoReply, {"\nTX:C", "\nNothing had arrived"}, "C"},
      {"port not open", "A", 2, "", true, SerialLineOutcome::PortNotOpen,
       {"\nNot sent: the port is not open"}, ""},  // named: SendAndSendFileTakeTheDialogsSettings
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The time-out passes on the fake clock: no row waits for real.
    test::FakeClock clock;
    test::FakeLink link(clock);
    CommPort port;
    link.AttachTo(port);
    if (!c.waiting.empty()) link.Arrive(0, c.waiting);
    if (c.closePort) port.Close();
    std::vector<std::string> shown;
    EXPECT_EQ(SendSerialLine(port, c.line, c.count, 40, [&](const std::string& t) { shown.push_back(t); }, clock),
              c.outcome);
    EXPECT_EQ(shown, c.shown);
    // A line that went is on the wire; one that did not leaves it quiet.
    EXPECT_EQ(LineWent(c.outcome), !c.wire.empty());
    std::string wire;
    for (const auto& w : link.Writes()) wire.append(w.begin(), w.end());
    EXPECT_EQ(wire, c.wire);
  }
}

// The dialog's line goes with the dialog's count and time-out; its file with
// its time-out, line by line.
TEST_F(SerialTester, SendAndSendFileTakeTheDialogsSettings) {
  model.count = 0;
  model.timeoutMs = 1;
  EXPECT_EQ(model.Send("C"), SerialLineOutcome::NoReply);
  EXPECT_EQ(shown, (std::vector<std::string>{"\nTX:C", "\nNothing had arrived"}));
  EXPECT_EQ(pty.Receive(1, 1000), "C");
  shown.clear();
  model.count = 255;  // the dialog's own
  const auto dir = test::MakeTempDir("st");
  test::WriteFileBytes(dir / "lines.txt", "A,B\r\nbad-token\n0x31\n");
  model.filePath = (dir / "lines.txt").string();
  model.timeoutMs = 5;
  EXPECT_EQ(model.SendFile(), 2);
  EXPECT_EQ(pty.Receive(3, 500), "AB1");
  EXPECT_EQ(shown, (std::vector<std::string>{"\nTX:A,B", "\nNo reply within 5 ms",
                                             "\nLine 2 not sent: \"bad-token\" is neither one character nor a byte "
                                             "value 0x0 to 0xFF (commas are typed as 0x2C)",
                                             "\nTX:1", "\nNo reply within 5 ms"}));
  EXPECT_EQ(model.fileResult, rc::kSuccess);
  EXPECT_EQ(model.fileReplies, 0);
  const std::size_t before = shown.size();

  // Files that never end or are none at all: the fixed text for the window,
  // the reason for whoever asks, and nothing sent.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path, reason;
  } refused[] = {
      {(dir / "missing.txt").string(), "No such file or directory"},
      {(dir / "fifo").string(), "is a FIFO, not a regular file"},  // the other kinds: FileAccessTest
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.path);
    op.messages.clear();
    model.filePath = c.path;
    EXPECT_EQ(model.SendFile(), 0);
    EXPECT_EQ(model.fileProblem, c.reason);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, "Unable to Open File!");
  }
  EXPECT_EQ(shown.size(), before) << "nothing more was sent";

  // A port that is not open ends the file at its first line, said once.
  model.filePath = (dir / "lines.txt").string();
  port.Close();
  shown.clear();
  EXPECT_EQ(model.SendFile(), 0);
  EXPECT_EQ(model.fileResult, rc::kPortOpenFailed);
  EXPECT_EQ(shown, std::vector<std::string>{"\nLine 1 not sent: the port " + pty.SlavePath() + " is not open"});
}

// The file send as a run, on a fake clock: its events in order, and a stop
// after the second line ends it as stopped with nothing more sent (what each
// line shows: SendAndSendFileTakeTheDialogsSettings).
TEST(SerialFileRun, SendsLineByLineAndStopsBetweenLines) {
  struct Recorder final : RunSink {
    void OnEvent(const RunEvent& e) override {
      events.push_back(e);
      if (const auto* p = std::get_if<RunProgress>(&e); p != nullptr && p->units == stopAtLine) stop->RequestStop();
    }
    std::vector<RunEvent> events;
    std::uint64_t stopAtLine = 0;
    std::shared_ptr<StopState> stop = std::make_shared<StopState>();
  };
  const std::string file = "A,B\r\nbad-token\n0x31\nZ\n";
  const struct {
    const char* name;
    std::uint64_t stopAtLine;  // 0: never
    ResultCode code;
    std::vector<std::string> wire;
    int sent;
  } cases[] = {
      {"left alone", 0, rc::kSuccess, {"AB", "1", "Z"}, 3},
      {"stopped after the second line", 2, rc::kStoppedByProgram, {"AB"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeClock clock;
    test::FakeLink link(clock);
    CommPort port;
    link.AttachTo(port);
    // Each line is answered with one byte after 30 ms of fake time.
    link.SetResponder([](const test::FakeLink::Bytes&) {
      return std::vector<test::FakeLink::Reply>{{30, {'k'}}};
    });
    Recorder sink;
    sink.stopAtLine = c.stopAtLine;
    const SerialFileRequest request{.port = &port, .text = file, .count = 1};
    int sent = 0;
    const ResultCode code =
        SendSerialFile(request, clock, StopToken(sink.stop), sink, [](const std::string&) {}, &sent);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(sent, c.sent);
    std::vector<std::string> wire;
    for (const auto& w : link.Writes()) wire.emplace_back(w.begin(), w.end());
    EXPECT_EQ(wire, c.wire);
    ASSERT_GE(sink.events.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<PhaseStarted>(sink.events[0]));
    const auto* total = std::get_if<RunTotal>(&sink.events[1]);
    ASSERT_NE(total, nullptr);
    EXPECT_EQ(total->units, 4u);
    EXPECT_EQ(total->bytes, file.size());
    RunProgress last;
    for (std::size_t i = 2; i < sink.events.size(); ++i) {
      if (const auto* p = std::get_if<RunProgress>(&sink.events[i])) {
        EXPECT_GT(p->units, last.units);
        EXPECT_GE(p->bytes, last.bytes);
        last = *p;
      }
    }
    if (c.code == rc::kSuccess) {
      EXPECT_EQ(last.bytes, file.size());
      EXPECT_TRUE(std::holds_alternative<RunFinished>(sink.events.back()));
    } else {
      EXPECT_EQ(last.units, c.stopAtLine) << "nothing after the stop";
      EXPECT_FALSE(std::holds_alternative<RunFinished>(sink.events.back())) << "a stopped run is silent";
    }
  }
}

}  // namespace
}  // namespace tarnvale
