// Every file the program writes for the person is there whole or not at all
// under its final name: a writer killed with SIGKILL at any moment leaves the
// old file untouched or one of the new ones complete. The core writers run in
// a forked child; the dump is written by the CLI reading from the simulator.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/backup/BackupDocument.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/formats/ProductionImage.h"
#include "core/platform/SettingsFile.h"
#include "core/production/ProductionLog.h"
#include "core/programmer/BootFlash.h"
#include "core/protocol/Packet.h"
#include "support/FakeLink.h"
#include "e2e/Processes.h"
#include "support/ImageGen.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using namespace production;
using namespace backup;

constexpr int kKills = 24;

// What the kills left: the old file, a new one, and temporary files beside it.
struct Outcome {
  int old = 0, fresh = 0, leftovers = 0;
};

// Judges the target after one kill against the old and the complete new
// contents; counts leftover temporary files and removes them for the next.
void Judge(const fs::path& target, const std::string& old, const std::set<std::string>& whole, Outcome& o,
           int round) {
  ASSERT_TRUE(fs::exists(target)) << "round " << round << ": the file is gone";
  const std::string now = ReadFileBytes(target);
  if (now == old) {
    ++o.old;
  } else {
    ASSERT_TRUE(whole.count(now) == 1) << "round " << round << ": " << target << " holds " << now.size()
                                       << " bytes, neither the old file nor a complete new one";
    ++o.fresh;
  }
  for (const auto& entry : fs::directory_iterator(target.parent_path())) {
    // The settings writer's lock file stays by design; it holds nothing.
    if (entry.path() == target || entry.path().extension() == ".lock") continue;
    ++o.leftovers;
    fs::remove(entry.path());
  }
}

// The kills land within the first few writes; a child that a busy machine
// lets run on stops after this many rather than spend the cores.
constexpr int kMaxWritesPerRound = 32;

// Runs `write(n)` for n = 0, 1, 2 ... in a child, which reports each finished
// write on a pipe. The child is killed `delay` after its `finished`th report:
// the kills are placed by what the child has done, not by how fast a busy
// machine lets it run. `reported`, if given, gets every report it made.
void KillWriterAfter(const std::function<void(int)>& write, int finished, std::chrono::microseconds delay,
                     int* reported = nullptr) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    for (int n = 0; n < kMaxWritesPerRound; ++n) {
      write(n);
      const char done = 1;
      if (::write(fds[1], &done, 1) != 1) ::_exit(3);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  bool awaited = true;
  for (int i = 0; i < finished && awaited; ++i) {
    pollfd p{fds[0], POLLIN, 0};
    char b = 0;
    // A guard that only a hung child reaches.
    awaited = ::poll(&p, 1, 30000) == 1 && ::read(fds[0], &b, 1) == 1;
  }
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  char buf[256];
  int more = 0;
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) more += static_cast<int>(n);
  ::close(fds[0]);
  ASSERT_TRUE(awaited) << "the writer did not finish " << finished << " writes";
  if (reported != nullptr) *reported = finished + more;
}

// How long one write takes, so the kills spread over a few of them.
std::chrono::microseconds TimeOf(const std::function<void()>& write) {
  const auto t0 = Clock::now();
  write();
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
}

// Kills `write(path, n)` (two contents in turn by n) over an `old` file
// named `name` kKills times: in turn before its first write finished, after
// one and after two, each time at a random moment of the write under way.
// Every kill is judged against the two complete contents, each written by
// the same writer into a folder of its own.
void KillAWriter(const std::string& name, const std::string& old,
                 const std::function<void(const fs::path&, int)>& write, std::uint32_t seed) {
  std::set<std::string> whole;
  for (int n = 0; n < 2; ++n) {
    const fs::path ref = MakeTempDir("ref") / name;
    write(ref, n);
    whole.insert(ReadFileBytes(ref));
  }
  ASSERT_EQ(whole.size(), 2u);
  const fs::path target = MakeTempDir("target") / name;
  WriteFileBytes(target, old);
  const auto once = TimeOf([&] { write(target, 0); });
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> pick(0, once.count() + 1000);
  Outcome o;
  for (int round = 0; round < kKills && !::testing::Test::HasFatalFailure(); ++round) {
    WriteFileBytes(target, old);
    KillWriterAfter([&](int n) { write(target, n); }, round % 3, std::chrono::microseconds(pick(random)));
    Judge(target, old, whole, o, round);
  }
  EXPECT_EQ(o.old + o.fresh, kKills);
  EXPECT_GT(o.fresh, 0) << "no kill came after a complete write (one takes " << once.count() << " us)";
}

// A production image from generated S-records; `seed` varies its bytes.
std::unique_ptr<MotorolaSRecFile> Production(const fs::path& dir, std::uint32_t seed) {
  SRecText s;
  const std::vector<std::uint8_t> bytes = PseudoRandomBytes(0x20000, seed);
  // Word addresses: 16 words carry 32 bytes.
  for (std::uint32_t i = 0; i < bytes.size() / 32; ++i) {
    s.Record(3, i * 16, std::span<const std::uint8_t>(bytes.data() + i * 32, 32));
  }
  s.Record(7, 0);
  const fs::path src = dir / ("image" + std::to_string(seed) + ".s");
  s.WriteTo(src);
  auto image = std::make_unique<MotorolaSRecFile>(src, kAppBase, kAppEnd);
  EXPECT_EQ(image->OpenFile(), rc::kFileOk);
  EXPECT_EQ(image->AllocateImage(), rc::kFileOk);
  EXPECT_EQ(image->LoadSRecords(0, kAppRegionTwoBase, 0), rc::kFileOk);
  image->CloseFile();
  return image;
}

// A backup document of `n` parameters with values marked by `tag`.
void FillBackup(tinyxml2::XMLDocument& doc, char tag, int n) {
  WriteIdentity(doc, {"RQ750", "3.10", "2.07"});
  tinyxml2::XMLElement* setup = OpenSection(doc, kSetup);
  for (int i = 0; i < n; ++i) AddParameter(setup, "P" + std::to_string(i) + "$" + std::string(20, tag) + "$0");
}

// The dump: the CLI reads the simulator's memory into a file and is killed
// part way; the file under the chosen name is the earlier one or the whole
// dump.
TEST(KillWriters, DumpIsOldOrWholeNeverTorn) {
  const fs::path work = MakeTempDir("dump");
  SimProcess sim({"--tcp", "127.0.0.1:0", "--range", "00000000:00003FFF"}, work);
  const fs::path dir = MakeTempDir("bin");
  const fs::path target = dir / "memory.Bin";
  const std::vector<std::string> argv{TARNVALE_CLI_PATH, "dump", target.string(), "--port", sim.Port()};

  // RAM filled with varied bytes first, so the dump is many lines of data
  // rather than one fill.
  const std::vector<std::uint8_t> memory = PseudoRandomBytes(0x4000, 9);
  WriteHexImage(work / "ram.hex", 0, memory);
  const RunResult load = RunCommand({TARNVALE_CLI_PATH, "load", (work / "ram.hex").string(), "--port", sim.Port()}, work);
  ASSERT_EQ(load.exitCode, 0) << load.err;
  // The second of two complete runs gives the time a dump takes (the first
  // also pays for the simulator's start).
  ASSERT_EQ(RunCommand(argv, work).exitCode, 0);
  const auto once = TimeOf([&] { EXPECT_EQ(RunCommand(argv, work).exitCode, 0); });
  const std::string whole = ReadFileBytes(target);
  ASSERT_EQ(whole, std::string(memory.begin(), memory.end()));

  const std::string old = "an earlier dump";
  std::mt19937 random(17);
  std::uniform_int_distribution<long> pick(0, once.count() * 5 / 4);
  Outcome o;
  for (int round = 0; round < kKills && !HasFatalFailure(); ++round) {
    WriteFileBytes(target, old);
    Background run(argv, work, "kill");
    // Kills in turn: at once (before the CLI opened the file), as soon as its
    // temporary file appears or the run ends (a guard only), and at a random
    // moment of the run, now and then after it finished.
    siginfo_t ended{};
    for (const auto guard = Clock::now() + std::chrono::seconds(60); round % 3 == 1 && Clock::now() < guard;) {
      if (std::distance(fs::directory_iterator(dir), fs::directory_iterator()) > 1) break;
      if (::waitid(P_PID, run.pid, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == run.pid) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (round % 3 == 2) std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
    ::kill(run.pid, SIGKILL);
    run.Wait();
    Judge(target, old, {whole}, o, round);
  }
  EXPECT_EQ(o.old + o.fresh, kKills);
  EXPECT_GT(o.old, 0) << "no kill landed before the dump was complete";
  EXPECT_GT(o.leftovers, 0) << "no kill landed while the dump was being written";
}

struct ReadBackNull : MemoryReadEvents {
  void OnRange(std::uint32_t) override {}
  void OnStep(std::uint32_t) override {}
  void OnProgress(std::uint32_t, std::uint32_t) override {}
  void OnDone(ResultCode, std::uint32_t) override {}
};

std::vector<std::uint8_t> BootRecords(std::uint32_t seed) {
  const std::vector<std::uint8_t> image = PseudoRandomBytes(kBootFlashLength, seed);
  std::vector<std::uint8_t> stream;
  for (std::uint32_t off = 0; off < kBootFlashLength; off += 64) {
    const Packet p = BuildPacket(64, static_cast<std::uint16_t>(0xC000 + off), 0x00,
                                 std::span<const std::uint8_t>(image.data() + off, 64));
    stream.insert(stream.end(), p.begin(), p.end());
  }
  return stream;
}

void ReadBackInto(const fs::path& path, const std::vector<std::uint8_t>& records) {
  FakeClock clock;
  CommPort port;
  port.Attach(std::make_unique<LinkStream>(records, clock, 0, true));
  BootReadParams p;
  p.port = &port;
  p.path = path.string();
  p.settleMs = 0;
  p.silenceMs = 100;
  ReadBackNull events;
  std::atomic<bool> stop{false};
  ReadBootImage(p, events, stop, nullptr, clock);
}

// The files the core writes in place of an earlier one: the settings, a flash
// memory file, a backup and the boot flash read-back (fed from memory).
TEST(KillWriters, CoreFilesAreOldOrNewNeverTorn) {
  const fs::path settings = MakeTempDir("settings") / platform::kSettingsFileName;
  platform::SettingsFile(settings).Write("Window Settings", "Blob", std::string("old"));
  const fs::path src = MakeTempDir("srec");
  const std::unique_ptr<MotorolaSRecFile> images[] = {Production(src, 3), Production(src, 4)};
  tinyxml2::XMLDocument docs[2];
  FillBackup(docs[0], 'a', 4000);
  FillBackup(docs[1], 'b', 4000);
  const std::vector<std::uint8_t> records[] = {BootRecords(21), BootRecords(22)};
  const struct {
    std::string file, old;
    std::function<void(const fs::path&, int)> write;  // two contents in turn by n
  } cases[] = {
      {platform::kSettingsFileName, ReadFileBytes(settings),
       [](const fs::path& p, int n) {
         platform::SettingsFile(p).Write("Window Settings", "Blob", std::string(150000, "ab"[n % 2]));
       }},
      {"APP.FMF", "an older flash memory file\n",
       [&](const fs::path& p, int n) { images[n % 2]->WriteFlashMemoryFile(p, 0, false); }},
      {"backup.xml", "<Quor_Backup><Old/></Quor_Backup>\n",
       [&](const fs::path& p, int n) {
         std::string error;
         SaveBackupFile(docs[n % 2], p.string(), error);
       }},
      {std::string(ReadBackFileName(Target::CpuBoard386)), "an earlier read-back\r\n",
       [&](const fs::path& p, int n) { ReadBackInto(p, records[n % 2]); }},
  };
  std::uint32_t seed = 14;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    KillAWriter(c.file, c.old, c.write, seed++);
  }
}

// The production log is appended to, never rewritten: a writer killed in its
// write may leave a torn tail, never counted as a record and never spoiling
// the next one. After each kill the log holds exactly the appends the child
// reported (or one more, killed between the write and the report), in order
// and each one whole.
TEST(KillWriters, ProductionLogKeepsEveryWholeRecord) {
  const fs::path dir = MakeTempDir("prodlog");
  const fs::path log = dir / kProductionLogName;
  std::mt19937 random(19);
  // Long records, so that a kill can land inside a write.
  const std::string padding(4000, 'x');
  const auto record = [&](int n) {
    ProductionLogRecord r;
    r.serialNumber = "S" + std::to_string(n);
    r.modelText = padding;
    return r;
  };
  const auto once = TimeOf([&] { AppendProductionLog(dir / "probe.jsonl", record(0)); });
  std::uniform_int_distribution<long> pick(0, once.count() + 1000);
  int expected = 0;  // records the log must hold at least
  std::vector<std::string> seen;
  for (int round = 0; round < kKills; ++round) {
    int reported = 0;  // as for the other writers: after none, one or two appends
    KillWriterAfter([&](int n) {
      if (!AppendProductionLog(log, record(expected + n)).empty()) ::_exit(2);
    }, round % 3, std::chrono::microseconds(pick(random)), &reported);
    if (HasFatalFailure()) return;
    ProductionLogContents contents;
    std::string error;  // a kill before the first append has made no log yet
    ASSERT_TRUE(!fs::exists(log) || ReadProductionLog(log, contents, error)) << error;
    const int now = static_cast<int>(contents.records.size());
    ASSERT_TRUE(now == expected + reported || now == expected + reported + 1)
        << "round " << round << ": " << now << " records, " << expected << " before and " << reported << " appended";
    // Records judged in an earlier round must still be there as they were.
    for (int i = 0; i < std::min(expected, now); ++i) {
      ASSERT_EQ(contents.records[static_cast<std::size_t>(i)], seen[static_cast<std::size_t>(i)])
          << "round " << round << ": record " << i << " changed";
    }
    for (int i = expected; i < now; ++i) {
      const nlohmann::json j = nlohmann::json::parse(contents.records[static_cast<std::size_t>(i)]);
      ASSERT_EQ(j["serial"], "S" + std::to_string(i)) << "round " << round << ": record " << i << " out of order";
      ASSERT_EQ(j["model_text"], padding) << "round " << round << ": record " << i << " is not whole";
    }
    seen = contents.records;
    expected = now;
  }
  EXPECT_GT(expected, 0) << "no append finished before a kill (one takes " << once.count() << " us)";
}

}  // namespace
}  // namespace tarnvale::test
