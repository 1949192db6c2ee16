// The programming and dump engines, their dialog models and the workflows,
// against a scripted controller on a pseudo-terminal. Time limits are
// shortened through EngineTimings only.
#include <gtest/gtest.h>

#include <fcntl.h>

#include "flash/FakeDevice.h"
#include "flash/LoadMemoryModel.h"
#include "flash/MemoryDump.h"
#include "flash/Workflows.h"
#include "link/CommPort.h"
#include "link/PortRoles.h"
#include "settings/ConfigData.h"
#include "support/ImageGen.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

EngineTimings Quick() {
  EngineTimings t;
  t.eraseTimeoutMs = 400;
  t.erasePollMs = 20;
  t.ackTimeoutMs = 400;
  t.dumpLineTimeoutMs = 300;
  return t;
}

struct RecordingEvents : ProgrammingEvents {
  void OnTotal(std::uint32_t n) override { total = n; }
  void OnProgress(std::uint32_t n) override { progress.push_back(n); }
  void OnNotice(const std::string& t) override { notices.push_back(t); }
  void OnResult(ResultCode c) override { results.push_back(c); }
  std::uint32_t total = 0;
  std::vector<std::uint32_t> progress;
  std::vector<std::string> notices;
  std::vector<ResultCode> results;
};

struct RecordingLoadView : LoadMemoryView {
  void SetTitle(const std::string& t) override { title = t; }
  void SetFileName(const std::string& t) override { fileName = t; }
  void SetLastModified(const std::string& t) override { lastModified = t; }
  void SetEraseTime(const std::string& t) override { eraseTime = t; }
  void SetProgramTime(const std::string& t) override { programTime = t; }
  void SetStatus(const std::string& t) override { statuses.push_back(t); }
  void SetFreeText(const std::string& t) override { freeText = t; }
  void SetProgressRange(std::uint32_t u, std::uint32_t s) override {
    upper = u;
    step = s;
  }
  void SetProgress(std::uint32_t p) override { position = p; }
  void StepProgress() override { position += step; }
  void ShowRunOnCompletion(bool v) override { runVisible = v; }
  bool RunOnCompletion() const override { return run; }
  void Close() override { closed = true; }
  std::string title, fileName, lastModified, eraseTime, programTime, freeText;
  std::vector<std::string> statuses;
  std::uint32_t upper = 0, step = 0, position = 0;
  bool runVisible = true, run = false, closed = false;
};

// A flash image with code from the ROM start: 4 generation-4 pages' worth.
std::filesystem::path SmallFmf(const std::filesystem::path& dir, std::uint32_t codeBytes = 8000) {
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.version = "5.01.00";
  recipe.codeBytes = codeBytes;
  recipe.gapEvery = 0;
  const auto path = dir / "small.FMF";
  WriteFmf(path, recipe);
  return path;
}

ProgrammingRequest FlashRequest(CommPort& port, const std::filesystem::path& path) {
  ProgrammingRequest r;
  r.port = &port;
  r.mode = kModeProgramFlash;
  r.range = LoadRange{0x03C00000, 0x03FFFFFF, 2};
  r.target = 1;
  r.path = path.string();
  r.timings = Quick();
  return r;
}

class Engines : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("engine");
  }
  void OpenPort() { ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, 0, 8, 0)); }
  std::filesystem::path dir;
  PtyPair pty;
  CommPort port;
};

TEST_F(Engines, StreamKeepsAtMostThreePacketsInFlight) {
  FakeDevice dev(pty, [](const SeenPacket&) { return std::string("0"); }, 2);
  OpenPort();
  RecordingEvents events;
  ProgrammingEngine engine(FlashRequest(port, SmallFmf(dir)), events);
  EXPECT_EQ(engine.Run(), rc::kSuccess);
  ASSERT_EQ(events.results, (std::vector<ResultCode>{rc::kSuccess}));
  EXPECT_LE(dev.MaxInFlight(), 3u);
  EXPECT_GE(dev.MaxInFlight(), 2u) << "the window is used";
  const auto packets = dev.Packets();
  EXPECT_EQ(packets.size(), events.total);
  EXPECT_EQ(engine.Acknowledged(), events.total);
  for (const auto& p : packets) EXPECT_NE(p.type, 0x05);
  EXPECT_EQ(packets.front().type, 0x04);
  EXPECT_EQ(packets.back().type, 0x01);
  // A progress message every 100 acknowledgements.
  ASSERT_FALSE(events.progress.empty());
  for (std::size_t i = 0; i < events.progress.size(); ++i) EXPECT_EQ(events.progress[i], 100 * (i + 1));
}

TEST_F(Engines, AcknowledgementRules) {
  struct Case {
    const char* name;
    std::function<std::string(std::size_t)> reply;  // by packet number from 1
    ResultCode expected;
  };
  const std::vector<Case> cases{
      {"stray colon and line ends", [](std::size_t n) { return n == 5 ? std::string(":\r\n0") : "0"; },
       rc::kSuccess},
      {"stray letter", [](std::size_t n) { return n == 5 ? std::string("0x") : "0"; }, 'x'},
      {"data mismatch on the tenth", [](std::size_t n) { return n == 10 ? std::string("D") : "0"; },
       rc::kDataMismatch},
      {"silence", [](std::size_t n) { return n >= 4 ? std::string() : "0"; },
       rc::kProgrammingTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair local;
    std::size_t count = 0;
    FakeDevice dev(local, [&](const SeenPacket&) { return c.reply(++count); });
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    RecordingEvents events;
    ProgrammingEngine engine(FlashRequest(p, SmallFmf(dir)), events);
    EXPECT_EQ(engine.Run(), c.expected);
    EXPECT_EQ(events.results, (std::vector<ResultCode>{c.expected}));
  }
}

TEST_F(Engines, EraseOutcomes) {
  {
    FakeDevice dev(pty, [](const SeenPacket& p) { return p.type == 0x06 ? std::string("H") : ""; });
    OpenPort();
    const EraseOutcome e = EraseFlash(port, Quick(), nullptr);
    EXPECT_EQ(e.kind, EraseOutcome::Kind::Error);
    EXPECT_EQ(e.reply, 'H');
    ASSERT_EQ(dev.Packets().size(), 1u);
    EXPECT_EQ(dev.Packets()[0].raw, (Bytes{0x3A, 0, 0, 0, 0x06, 0xFA}));
  }
  PtyPair quiet;
  CommPort p;
  ASSERT_TRUE(p.Open(quiet.SlavePath(), 115200, 0, 8, 0));
  struct Ticks : EraseObserver {
    void Pump() override { ++pumps; }
    int pumps = 0;
  } ticks;
  const auto t0 = std::chrono::steady_clock::now();
  const EraseOutcome e = EraseFlash(p, Quick(), &ticks);
  EXPECT_EQ(e.kind, EraseOutcome::Kind::Timeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
  EXPECT_GT(ticks.pumps, 5);
}

TEST_F(Engines, ShortWriteOfTheEraseFailsAtOnce) {
  // Nobody drains the pseudo-terminal: fill it so the erase packet cannot go.
  // A fast line keeps the port's own write time-out short.
  ASSERT_TRUE(port.Open(pty.SlavePath(), 921600, 0, 8, 0));
  const std::vector<std::uint8_t> junk(1 << 16, 'j');
  port.Write(junk);
  EngineTimings t = Quick();
  t.eraseTimeoutMs = 360000;  // would wait 6 minutes if the short write went unnoticed
  const auto t0 = std::chrono::steady_clock::now();
  const EraseOutcome e = EraseFlash(port, t, nullptr);
  EXPECT_EQ(e.kind, EraseOutcome::Kind::ShortWrite);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

TEST_F(Engines, DialogModelOnFailureKeepsTheLastProgressText) {
  std::size_t count = 0;
  FakeDevice dev(pty, [&](const SeenPacket& p) {
    if (p.type == 0x06) return std::string("0");
    return ++count == 10 ? std::string("D") : std::string("0");
  });
  OpenPort();
  RecordingLoadView view;
  RecordingOperator op;
  LoadMemoryModel model(FlashRequest(port, SmallFmf(dir)), view, op);
  model.Open();
  EXPECT_FALSE(view.runVisible);
  ASSERT_TRUE(model.Begin());
  model.Wait();
  EXPECT_EQ(view.title, "Program Flash Memory");
  EXPECT_EQ(view.fileName, "small.FMF");
  EXPECT_NE(view.lastModified.find("  @  "), std::string::npos);
  EXPECT_EQ(view.eraseTime, "0 Min. 0 Sec.");
  EXPECT_EQ(model.Result(), rc::kDataMismatch);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Data Mis-match"}));
  ASSERT_FALSE(view.statuses.empty());
  EXPECT_EQ(view.statuses.back().rfind("Records 0 of ", 0), 0u) << view.statuses.back();
  EXPECT_TRUE(view.closed);
}

TEST_F(Engines, DialogModelShowsEraseErrorsAndSuccess) {
  {
    PtyPair local;
    FakeDevice dev(local, [](const SeenPacket&) { return std::string("H"); });
    CommPort p;
    ASSERT_TRUE(p.Open(local.SlavePath(), 115200, 0, 8, 0));
    RecordingLoadView view;
    RecordingOperator op;
    LoadMemoryModel model(FlashRequest(p, SmallFmf(dir)), view, op);
    model.Open();
    EXPECT_FALSE(model.Begin());
    EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Erase Error - 72"}));
    EXPECT_EQ(view.statuses.back(), "Erasing Ended");
    EXPECT_TRUE(view.closed);
  }
  FakeDevice dev(pty, [](const SeenPacket&) { return std::string("0"); });
  OpenPort();
  RecordingLoadView view;
  RecordingOperator op;
  LoadMemoryModel model(FlashRequest(port, SmallFmf(dir)), view, op);
  model.Open();
  ASSERT_TRUE(model.Begin());
  model.Wait();
  EXPECT_EQ(model.Result(), rc::kSuccess);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Success");
  EXPECT_EQ(op.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(view.statuses.back(), std::to_string(view.upper) + " Records successfully written!");
  EXPECT_EQ(view.position, view.upper);
  EXPECT_EQ(view.step, 100u);
  EXPECT_EQ(view.programTime, "0 Min. 0 Sec.");
  EXPECT_FALSE(view.closed);
}

TEST_F(Engines, LoadStartsTheProgramOnlyAfterEveryAcknowledgement) {
  HexText hex;
  const auto code = PseudoRandomBytes(32 * 12, 3);
  for (std::size_t i = 0; i < code.size(); i += 32) {
    hex.Data(static_cast<std::uint16_t>(i), std::span<const std::uint8_t>(code.data() + i, 32));
  }
  hex.StartLinear(0, 0, 0, 0).EndOfFile();
  const auto path = dir / "ram.HEX";
  hex.WriteTo(path);
  FakeDevice dev(pty, [](const SeenPacket&) { return std::string("0"); }, 3);
  OpenPort();
  RecordingLoadView view;
  view.run = true;
  RecordingOperator op;
  ProgrammingRequest r;
  r.port = &port;
  r.mode = kModeLoad;
  r.range = LoadRange{0, static_cast<std::uint32_t>(code.size() - 1), 2};
  r.target = 1;
  r.path = path.string();
  r.timings = Quick();
  LoadMemoryModel model(r, view, op);
  model.Open();
  EXPECT_TRUE(view.runVisible);
  ASSERT_TRUE(model.Begin());
  model.Wait();
  EXPECT_EQ(model.Result(), rc::kSuccess);
  EXPECT_EQ(view.eraseTime, "N/A");
  EXPECT_EQ(view.title, "Load Memory");
  // Wait for the two bytes to reach the device.
  for (int i = 0; i < 100 && dev.Other().size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto packets = dev.Packets();
  const auto other = dev.Other();
  ASSERT_EQ(other.size(), 2u);
  EXPECT_EQ(other[0].first, 'g');
  EXPECT_EQ(other[1].first, '\r');
  EXPECT_EQ(other[0].second, packets.size()) << "every packet answered before 'g'";
  EXPECT_EQ(packets[packets.size() - 2].type, 0x05);
}

// ---- dump ------------------------------------------------------------------

struct RecordingReadView : MemoryReadView {
  void AddListText(const std::string& t) override { list.push_back(t); }
  void SetField1(const std::string& t) override { field1 = t; }
  void SetField2(const std::string& t) override { field2 = t; }
  void SetProgressRange(std::uint32_t u) override { upper = u; }
  void SetProgressStep(std::uint32_t) override {}
  void SetProgress(std::uint32_t p) override { position = p; }
  void EnableOk(bool on) override { ok = on; }
  void EnableRetry(bool on) override { retry = on; }
  void ShowRetry(bool v) override { retryVisible = v; }
  void Close() override { closed = true; }
  std::vector<std::string> list;
  std::string field1, field2;
  std::uint32_t upper = 0, position = 0;
  bool ok = false, retry = false, retryVisible = true, closed = false;
};

TEST_F(Engines, DumpRetryRewritesTheFileFromTheStart) {
  int run = 1;
  FakeDevice dev(pty, [&](const SeenPacket& p) {
    if (p.type == 0x04) return std::string("0\n\r");
    if (p.type != 0x11) return std::string("E");
    if (run == 1 && p.address == 0x0008) return std::string("00000000:\n\r");  // count 0
    if (p.address == 0x0000) return std::string("00000004.1234\n\r");
    if (p.address == 0x0004) return std::string("00000004:01020304\n\r");
    return std::string("00000008.FF\n\r");
  });
  OpenPort();
  MemoryReadRequest r;
  r.port = &port;
  r.target = 1;
  r.start = 0;
  r.end = 0x0F;
  r.path = (dir / "dump.Bin").string();
  r.timings = Quick();
  RecordingReadView view;
  RecordingOperator op;
  MemoryReadModel model(r, view, op);
  model.Open();
  model.Tick();
  model.Wait();
  EXPECT_EQ(model.Result(), rc::kDataMismatch);
  EXPECT_TRUE(view.retry);
  EXPECT_EQ(view.list, (std::vector<std::string>{"Reading memory...this could take several minutes\r\n",
                                                 "Memory Dump Aborted Unexpectedly\r\n"}));
  EXPECT_EQ(ReadFileBytes(dir / "dump.Bin"), std::string("\x34\x12\x34\x12\x01\x02\x03\x04", 8));
  run = 2;
  model.Retry();
  EXPECT_FALSE(view.retry);
  model.Wait();
  EXPECT_EQ(model.Result(), rc::kSuccess);
  EXPECT_EQ(ReadFileBytes(dir / "dump.Bin"),
            std::string("\x34\x12\x34\x12\x01\x02\x03\x04", 8) + std::string(8, '\xFF'));
  EXPECT_EQ(view.list.back(), "File saved to " + r.path);
  EXPECT_EQ(view.field1, "16 of 16 bytes saved");
  EXPECT_EQ(view.position, 1000u);
  EXPECT_TRUE(view.ok);
}

TEST_F(Engines, DumpProgressIsSixtyFourBitSafe) {
  // A line that fills 8 MB at once: (next - start) * 1000 overflows 32 bits.
  FakeDevice dev(pty, [](const SeenPacket& p) {
    return p.type == 0x11 ? std::string("00800000.FF\n\r") : std::string("0\n\r");
  });
  OpenPort();
  struct Positions : MemoryReadEvents {
    void OnRange(std::uint32_t) override {}
    void OnStep(std::uint32_t) override {}
    void OnProgress(std::uint32_t pos, std::uint32_t) override { positions.push_back(pos); }
    void OnDone(ResultCode c, std::uint32_t n) override {
      code = c;
      next = n;
    }
    std::vector<std::uint32_t> positions;
    ResultCode code = 0;
    std::uint32_t next = 0;
  } events;
  MemoryReadRequest r;
  r.port = &port;
  r.start = 0;
  r.end = 0x01FFFFFF;  // 32 MB
  r.path = (dir / "big.Bin").string();
  r.timings = Quick();
  std::atomic<bool> stop{false};
  // Stop after two lines: the positions must be 0, 250, 500 of 1000.
  std::thread stopper([&] {
    for (int i = 0; i < 500 && events.positions.size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    stop = true;
  });
  DumpControllerMemory(r, events, stop);
  stopper.join();
  ASSERT_GE(events.positions.size(), 3u);
  EXPECT_EQ(events.positions[0], 0u);
  EXPECT_EQ(events.positions[1], 250u);
  EXPECT_EQ(events.positions[2], 500u);
}

TEST_F(Engines, DumpFileIsCompleteWhenDoneIsReported) {
  // Whoever hears "done" (the dialog's "File saved to", a retry) must find
  // the file whole, on success and after a failure alike.
  std::atomic<bool> silentSecondLine{false};
  FakeDevice dev(pty, [&](const SeenPacket& p) -> std::string {
    if (p.type != 0x11) return "0\n\r";
    if (p.address == 0x0010 && silentSecondLine.load()) return {};  // the line times out
    return "00000010:000102030405060708090A0B0C0D0E0F\n\r";
  });
  OpenPort();
  struct SizeAtDone : MemoryReadEvents {
    void OnRange(std::uint32_t) override {}
    void OnStep(std::uint32_t) override {}
    void OnProgress(std::uint32_t, std::uint32_t) override {}
    void OnDone(ResultCode c, std::uint32_t) override {
      code = c;
      size = std::filesystem::file_size(path);
    }
    std::string path;
    ResultCode code = 0;
    std::uintmax_t size = 0;
  } events;
  MemoryReadRequest r;
  r.port = &port;
  r.start = 0;
  r.end = 0x1F;
  r.path = events.path = (dir / "whole.Bin").string();
  r.timings = Quick();
  std::atomic<bool> stop{false};
  EXPECT_EQ(DumpControllerMemory(r, events, stop), rc::kSuccess);
  EXPECT_EQ(events.size, 0x20u);
  silentSecondLine = true;
  EXPECT_EQ(DumpControllerMemory(r, events, stop), rc::kTimeout);
  EXPECT_EQ(events.code, rc::kTimeout);
  EXPECT_EQ(events.size, 0x10u) << "the line that came is on disk before the failure is told";
}

// ---- workflows ------------------------------------------------------------------

struct RecordingRunner : JobRunner {
  ResultCode RunProgramming(const ProgrammingRequest& r) override {
    programming.push_back(r);
    return rc::kSuccess;
  }
  ResultCode RunMemoryRead(const MemoryReadRequest& r) override {
    reads.push_back(r);
    return rc::kSuccess;
  }
  std::vector<ProgrammingRequest> programming;
  std::vector<MemoryReadRequest> reads;
};

struct CountingHost : TerminalHost {
  void SetPolling(bool on) override { polling.push_back(on); }
  void SetStatusPanes(const std::string&, const std::string&) override {}
  void FocusTerminal() override {}
  std::vector<bool> polling;
};

class Workflows : public Engines {
 protected:
  void SetUp() override {
    Engines::SetUp();
    settings.SetCOMPort(pty.SlavePath());
    link = std::make_unique<LinkState>(settings, &op, &host);
    ASSERT_TRUE(link->OpenLink(target::kController));
  }
  // Every command ends with EndCommand: polling turned back on last.
  void ExpectBracketClosed() {
    ASSERT_GE(host.polling.size(), 2u);
    EXPECT_FALSE(host.polling.front());
    EXPECT_TRUE(host.polling.back());
  }
  ConfigData settings;
  RecordingOperator op;
  CountingHost host;
  std::unique_ptr<LinkState> link;
  RecordingRunner runner;
};

TEST_F(Workflows, FlashWithoutAControllerExplainsFlashProgramMode) {
  const ResultCode c = FlashRQ700Series(*link, op, runner, {Quick()});
  EXPECT_EQ(c, rc::kTimeout);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, flash_text::kNoCommunication);
  EXPECT_NE(op.messages[0].text.find("follwing"), std::string::npos);
  EXPECT_TRUE(runner.programming.empty());
  ExpectBracketClosed();
}

TEST_F(Workflows, FlashOfAnErasedControllerGoesOnAfterNoApplication) {
  MemoryController m;
  m.Put(0x03FFFFEE, {'C'});
  m.Put(0x03FFFFB0, Bytes(16, 0xFF));  // erased boot block: serial length clamped
  FakeDevice dev(pty, [&](const SeenPacket& p) { return m.Answer(p); });
  FmfSpec recipe;
  recipe.generation = 4;
  recipe.model = "RQ720";
  recipe.version = "4.13.00";
  const auto path = dir / "rq720.FMF";
  WriteFmf(path, recipe);
  op.openFile = path.string();
  op.answers = {true};
  EXPECT_EQ(FlashRQ700Series(*link, op, runner), rc::kSuccess);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"No Application in Memory"}));
  ASSERT_EQ(op.questions.size(), 1u);
  EXPECT_EQ(op.questions[0].caption, "MAC Address Concerns");
  EXPECT_NE(op.questions[0].text.find("Serial # " + std::string(15, '\xFF') + ". Knowing"),
            std::string::npos);
  EXPECT_EQ(op.filters, (std::vector<std::string>{"Flash Memory File (*.FMF)|*.FMF|"}));
  ASSERT_EQ(runner.programming.size(), 1u);
  const ProgrammingRequest& r = runner.programming[0];
  EXPECT_EQ(r.mode, kModeProgramFlash);
  EXPECT_EQ(r.target, 1);
  ASSERT_TRUE(r.range);
  EXPECT_EQ(r.range->base, 0x03C00000u);
  EXPECT_EQ(r.range->end, 0x03FFFFFFu);
  EXPECT_EQ(r.range->lanes, 2);
  ExpectBracketClosed();
}

TEST_F(Workflows, FlashRefusesFilesItCannotUse) {
  MemoryController m;
  m.Put(0x03FFFFEE, {'C'});
  FakeDevice dev(pty, [&](const SeenPacket& p) { return m.Answer(p); });
  struct Case {
    std::string text;
    std::string hex;
  };
  std::vector<Case> cases{
      {"16 bit files aren't supported by this application", HexText().ExtendedSegment(0x1000).Data(0, {1}).EndOfFile().Text()},
      {"Un-supported hex record format", HexText().Data(0, {1}).EndOfFile().Text()},
      {"This applicaition only supports Version 1 or higher software", HexText().ExtendedLinear(0x03C1).Data(0, {1}).EndOfFile().Text()},
      {"Internal Hex File Error", "nonsense\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    op.messages.clear();
    const auto path = dir / "bad.FMF";
    WriteFileBytes(path, c.hex);
    op.openFile = path.string();
    EXPECT_NE(FlashRQ700Series(*link, op, runner), rc::kSuccess);
    EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{c.text}));
  }
  op.messages.clear();
  op.openFile.reset();
  EXPECT_EQ(FlashRQ700Series(*link, op, runner), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Invalid File"}));
  EXPECT_TRUE(runner.programming.empty());
}

TEST_F(Workflows, LoadAlwaysEndsTheCommand) {
  op.openFile.reset();
  EXPECT_EQ(LoadMemoryImage(*link, op, runner), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Invalid File"}));
  ExpectBracketClosed();
  host.polling.clear();
  op.messages.clear();
  const auto path = dir / "bad.HEX";
  WriteFileBytes(path, ":zz\n");
  op.openFile = path.string();
  EXPECT_NE(LoadMemoryImage(*link, op, runner), rc::kSuccess);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Internal Hex File Error"}));
  ExpectBracketClosed();
  // Without extended records the range starts at 0.
  host.polling.clear();
  const auto plain = dir / "plain.HEX";
  HexText().Data(0x0100, {1, 2, 3}).EndOfFile().WriteTo(plain);
  op.openFile = plain.string();
  EXPECT_EQ(LoadMemoryImage(*link, op, runner), rc::kSuccess);
  ASSERT_EQ(runner.programming.size(), 1u);
  EXPECT_EQ(runner.programming[0].range->base, 0u);
  EXPECT_EQ(runner.programming[0].range->end, 0x102u);
  EXPECT_EQ(runner.programming[0].mode, kModeLoad);
  ExpectBracketClosed();
}

TEST_F(Workflows, DumpAcceptsOnlyAProperRangeReply) {
  std::string reply;
  FakeDevice dev(pty, [&](const SeenPacket&) { return reply; });
  const std::vector<std::pair<std::string, bool>> cases{
      {"03800000 03FFFFFF 00800000\n\r", true},
      {"03800000 03FFFFFF 0080000\n\r", false},
      {"03800000 03FFFFFF 008000000\n\r", false},
      {"03800000 037FFFFF 00800000\n\r", false},
      {"", false},
  };
  op.saveFile = (dir / "out.Bin").string();
  for (const auto& [text, ok] : cases) {
    SCOPED_TRACE(text);
    reply = text;
    op.messages.clear();
    runner.reads.clear();
    const ResultCode c = DumpRQ700SeriesMemory(*link, op, runner, {Quick()});
    EXPECT_EQ(c == rc::kSuccess, ok);
    if (ok) {
      ASSERT_EQ(runner.reads.size(), 1u);
      EXPECT_EQ(runner.reads[0].start, 0x03800000u);
      EXPECT_EQ(runner.reads[0].end, 0x03FFFFFFu);
      EXPECT_EQ(runner.reads[0].target, 1);
      EXPECT_TRUE(op.messages.empty());
    } else {
      EXPECT_TRUE(runner.reads.empty());
      EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Communication Error with RQ700"}));
    }
  }
  reply = "03800000 03FFFFFF 00800000\n\r";
  op.saveFile.reset();
  op.messages.clear();
  EXPECT_EQ(DumpRQ700SeriesMemory(*link, op, runner), kStoppedByOperator);
  EXPECT_EQ(op.MessageTexts(), (std::vector<std::string>{"Invalid File"}));
  EXPECT_EQ(op.filters.back(), "Binary File (*.Bin)|*.Bin|");
}

}  // namespace
}  // namespace tarnvale::test
