// Every file the program writes for the person is there whole or not at all
// under its final name: a writer is killed with SIGKILL at random moments and
// the file under the real name must afterwards be the old one, untouched, or
// one of the new ones, complete.
//
// The core writers run in a forked child that writes over and over (two
// different contents in turn) until it is killed; the dump is written by the
// CLI reading from the simulator, killed part way through its run.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <cstdio>
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

// What a kill left: the old file, a new one, or something else (a fault).
struct Outcome {
  int old = 0;
  int fresh = 0;
  int leftovers = 0;  // temporary files a killed write left beside the target
};

std::string Describe(const std::string& kind, const Outcome& o) {
  return kind + ": " + std::to_string(kKills) + " kills, old file kept " + std::to_string(o.old) +
         ", new file whole " + std::to_string(o.fresh) + ", killed mid-write (temporary left) " +
         std::to_string(o.leftovers);
}

// Judges the target after one kill against the old content and the complete
// new contents; counts leftover temporary files and removes them, so the
// next kill's are counted afresh.
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

// Reads `count` one-byte reports from `fd`, each within a guard that only a
// hung child reaches; false when the child ended or the guard passed first.
bool AwaitReports(int fd, int count) {
  for (int i = 0; i < count; ++i) {
    pollfd p{fd, POLLIN, 0};
    char b = 0;
    if (::poll(&p, 1, 30000) != 1 || ::read(fd, &b, 1) != 1) return false;
  }
  return true;
}

// Runs `write(n)` for n = 0, 1, 2 ... in a child, which reports each finished
// write on a pipe. The child is killed `delay` after its `finished`th report:
// the kills are placed by what the child has done, not by how fast a busy
// machine lets it run. Bounded so a child never outlives the test.
void KillWriterAfter(const std::function<void(int)>& write, int finished, std::chrono::microseconds delay) {
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
  const bool reported = AwaitReports(fds[0], finished);
  std::this_thread::sleep_for(delay);
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(fds[0]);
  ASSERT_TRUE(reported) << "the writer did not finish " << finished << " writes";
}

// How long one write takes, so the kills spread over a few of them.
std::chrono::microseconds TimeOf(const std::function<void()>& write) {
  const auto t0 = Clock::now();
  write();
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
}

// Kills the looping writer kKills times and judges the file after each: in
// turn before its first write finished, after one, and after two, each time
// at a random moment of the write under way.
Outcome KillRepeatedly(const fs::path& target, const std::string& old, const std::set<std::string>& whole,
                       const std::function<void(int)>& write, std::chrono::microseconds once,
                       std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> pick(0, once.count() + 1000);
  Outcome o;
  for (int round = 0; round < kKills; ++round) {
    WriteFileBytes(target, old);
    KillWriterAfter(write, round % 3, std::chrono::microseconds(pick(random)));
    Judge(target, old, whole, o, round);
    if (::testing::Test::HasFatalFailure()) return o;
  }
  return o;
}

// Kills `write(path, n)` (two contents in turn by n) over an `old` file
// named `name`, and judges every kill against the two complete contents,
// each written by the same writer into a folder of its own.
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
  const Outcome o = KillRepeatedly(target, old, whole, [&](int n) { write(target, n); }, once, seed);
  std::printf("%s\n", Describe(name, o).c_str());
  EXPECT_EQ(o.old + o.fresh, kKills);
  EXPECT_GT(o.fresh, 0) << "no kill came after a complete write (one takes " << once.count() << " us)";
}

TEST(KillWriters, SettingsFileIsOldOrNewNeverTorn) {
  const std::string blobs[] = {std::string(150000, 'a'), std::string(150000, 'b')};
  const fs::path oldFile = MakeTempDir("settings") / platform::kSettingsFileName;
  platform::SettingsFile(oldFile).Write("Window Settings", "Blob", std::string("old"));
  KillAWriter(platform::kSettingsFileName, ReadFileBytes(oldFile), [&](const fs::path& p, int n) {
    platform::SettingsFile(p).Write("Window Settings", "Blob", blobs[n % 2]);
  }, 14);
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

TEST(KillWriters, FlashMemoryFileIsOldOrNewNeverTorn) {
  const fs::path src = MakeTempDir("srec");
  const std::unique_ptr<MotorolaSRecFile> images[] = {Production(src, 3), Production(src, 4)};
  KillAWriter("APP.FMF", "an older flash memory file\n", [&](const fs::path& p, int n) {
    images[n % 2]->WriteFlashMemoryFile(p, 0, false);
  }, 15);
}

// A backup document of `n` parameters with values marked by `tag`.
void FillBackup(tinyxml2::XMLDocument& doc, char tag, int n) {
  WriteIdentity(doc, {"RQ750", "3.10", "2.07"});
  tinyxml2::XMLElement* setup = OpenSection(doc, kSetup);
  for (int i = 0; i < n; ++i) AddParameter(setup, "P" + std::to_string(i) + "$" + std::string(20, tag) + "$0");
}

TEST(KillWriters, BackupFileIsOldOrNewNeverTorn) {
  tinyxml2::XMLDocument docs[2];
  FillBackup(docs[0], 'a', 4000);
  FillBackup(docs[1], 'b', 4000);
  KillAWriter("backup.xml", "<Quor_Backup><Old/></Quor_Backup>\n", [&](const fs::path& p, int n) {
    std::string error;
    SaveBackupFile(docs[n % 2], p.string(), error);
  }, 16);
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
  const auto t0 = Clock::now();
  const RunResult second = RunCommand(argv, work);
  const auto once = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  const std::string whole = ReadFileBytes(target);
  ASSERT_EQ(whole, std::string(memory.begin(), memory.end()));

  const std::string old = "an earlier dump";
  std::mt19937 random(17);
  // Kills in turn: at once (before the CLI opened the file), as soon as its
  // temporary file appears (while it reads), and at a random moment of the
  // run, now and then after it finished.
  std::uniform_int_distribution<long> pick(0, once.count() * 5 / 4);
  const auto writing = [&] {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path() != target) return true;
    }
    return false;
  };
  Outcome o;
  for (int round = 0; round < kKills; ++round) {
    WriteFileBytes(target, old);
    const int out = OpenForWriting(work / "kill-out.txt"), err = OpenForWriting(work / "kill-err.txt");
    const pid_t pid = Spawn(argv, out, err);
    ::close(out);
    ::close(err);
    bool ended = false;
    if (round % 3 == 1) {
      // Bounded only as a guard: the temporary file comes, or the run ends.
      const auto guard = Clock::now() + std::chrono::seconds(60);
      while (!writing() && !ended && Clock::now() < guard) {
        ended = ::waitpid(pid, nullptr, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    } else if (round % 3 == 2) {
      std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    Judge(target, old, {whole}, o, round);
    if (HasFatalFailure()) break;
  }
  std::printf("%s (one dump %lld ms)\n", Describe("dump", o).c_str(),
              static_cast<long long>(once.count() / 1000));
  EXPECT_EQ(o.old + o.fresh, kKills);
  EXPECT_GT(o.old, 0) << "no kill landed before the dump was complete";
  EXPECT_GT(o.leftovers, 0) << "no kill landed while the dump was being written";
}

// The boot flash read-back text file: the reader is fed a whole boot image
// from memory and writes its 1024 lines; killed part way, the file under its
// name is the earlier one or a complete read-back.
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

TEST(KillWriters, ReadBackFileIsOldOrWholeNeverTorn) {
  const std::vector<std::uint8_t> records[] = {BootRecords(21), BootRecords(22)};
  const fs::path check = MakeTempDir("lines") / "check.txt";
  ReadBackInto(check, records[0]);
  const std::string lines = ReadFileBytes(check);
  ASSERT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1024);
  KillAWriter(std::string(ReadBackFileName(Target::CpuBoard386)), "an earlier read-back\r\n",
              [&](const fs::path& p, int n) { ReadBackInto(p, records[n % 2]); }, 18);
}

// The production log is appended to, never rewritten. The rule: every line
// that ends in a line feed and parses is a whole record; a writer killed in
// its write may leave a torn tail, which is never counted as a record and
// never spoils the next one. The child tells on a pipe how many appends it
// finished; after each kill the log must hold exactly those records (or one
// more, when the kill came between the write and the report), in order and
// each one whole.
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
  int torn = 0, extra = 0;
  std::vector<std::string> seen;
  for (int round = 0; round < kKills; ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      for (int n = 0; n < kMaxWritesPerRound; ++n) {
        if (!AppendProductionLog(log, record(expected + n)).empty()) ::_exit(2);
        const char done = 1;
        if (::write(fds[1], &done, 1) != 1) ::_exit(3);
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    // As for the other writers: after none, one or two finished appends.
    int reported = round % 3;
    const bool awaited = AwaitReports(fds[0], reported);
    std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    ASSERT_TRUE(awaited);
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) reported += static_cast<int>(n);
    ::close(fds[0]);

    // A kill before the first append has made no log yet.
    ProductionLogContents contents;
    std::string error;
    if (fs::exists(log)) {
      ASSERT_TRUE(ReadProductionLog(log, contents, error)) << error;
    }
    const int now = static_cast<int>(contents.records.size());
    ASSERT_TRUE(now == expected + reported || now == expected + reported + 1)
        << "round " << round << ": " << now << " records, " << expected << " before and " << reported << " appended";
    extra += now - expected - reported;
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
    torn = static_cast<int>(contents.tornLines);
    seen = contents.records;
    expected = now;
  }
  std::printf("production log: %d kills, %d whole records, %d torn lines passed over, %d written but not reported\n",
              kKills, expected, torn, extra);
  EXPECT_GT(expected, 0) << "no append finished before a kill (one takes " << once.count() << " us)";
}

}  // namespace
}  // namespace tarnvale::test
