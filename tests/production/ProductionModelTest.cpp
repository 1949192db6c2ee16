// The production model: paths per generation and model, the part-number
// checks, the share mapping, the stamped images handed to the programming
// run, the stops before anything is programmed, and the production log.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/formats/TN820HexFile.h"
#include "core/production/NavNumber.h"
#include "core/production/ProductionModel.h"
#include "core/production/SharePath.h"
#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "support/ImageGen.h"
#include "support/Pty.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

using test::RecordingOperator;

std::vector<std::uint8_t> LoadFmf(const std::filesystem::path& fmf, std::uint32_t base,
                                  std::uint32_t end, std::uint32_t layout) {
  TN820HexFile file(fmf, base, end, layout);
  EXPECT_EQ(file.OpenFile(), rc::kFileOk);
  EXPECT_EQ(file.AllocateImage(), rc::kFileOk);
  EXPECT_EQ(file.LoadFile(), rc::kFileOk);
  return file.ImageBytes();
}

// Records the programming request, the image handed over and the file it
// names (which lives only as long as the run) instead of sending it anywhere.
class RecordingRunner : public JobRunner {
 public:
  ResultCode RunProgramming(const ProgrammingRequest& request) override {
    requests.push_back(request);
    images.push_back(request.image ? request.image->ImageBytes() : std::vector<std::uint8_t>{});
    // Only application and test images get this far here (boot stops at the box).
    fileImages.push_back(LoadFmf(request.path, 0, 0x21FFF, static_cast<std::uint32_t>(request.layoutMode)));
    return rc::kSuccess;
  }
  ResultCode RunMemoryRead(const MemoryReadRequest&) override { return rc::kUnknownCommand; }
  std::vector<ProgrammingRequest> requests;
  std::vector<std::vector<std::uint8_t>> images, fileImages;
};

ProductionSources Sources(const std::filesystem::path& temp) {
  return {"\\\\QUORPROD\\quor_data\\Production\\TN835\\Application\\Current\\", "TN835 Appl.elf.S",
          "\\\\QUORPROD\\quor_data\\Production\\TN835\\Boot\\Current\\TN835 Boot.elf.S",
          "\\\\QUORPROD\\quor_data\\Production\\TN835\\Test\\Current\\", temp.string()};
}

// An application-sized S-record image: a version text at 0x210 and data in
// both regions.
void WriteApplicationSRec(const std::filesystem::path& path, const std::string& version) {
  test::SRecText s;
  std::vector<std::uint8_t> head(0x40, 0x11);
  head[0x10] = static_cast<std::uint8_t>(version.size());
  std::copy(version.begin(), version.end(), head.begin() + 0x11);
  test::AppendSRecWords(s, 0x200, head);
  test::AppendSRecWords(s, 0x1000, test::PseudoRandomBytes(0x400, 7));
  test::AppendSRecWords(s, 0x4000000, test::PseudoRandomBytes(0x100, 8));  // region two
  s.Record(7, 0);
  std::filesystem::create_directories(path.parent_path());
  s.WriteTo(path);
}

std::vector<nlohmann::json> LogLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

class ProductionModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = test::MakeTempDir("prod");
    share_ = test::MakeTempDir("share");
    options_.shareRoot = share_.string();
    settings_.Load();
    settings_.SetCOMPort(pty_.SlavePath());
    settings_.SetAuxCOMPort((temp_ / "no-such-programmer").string());
  }
  std::filesystem::path AppSource(int generation, const std::string& folder) const {
    return share_ / "QUORPROD/quor_data/Production/TN835/Application/Current" /
           ("Ver_" + std::to_string(generation)) / folder / "TN835 Appl.elf.S";
  }

  std::filesystem::path temp_, share_;
  ProductionOptions options_;
  ConfigData settings_;
  test::PtyPair pty_;
  RecordingOperator op_;
  RecordingRunner runner_;
};

TEST(ProductionPaths, FoldersFollowGenerationAndModel) {
  struct Case {
    int generation;
    int model;
    const char* application;
    const char* test;
  };
  const std::string app = "\\\\QUORPROD\\quor_data\\Production\\TN835\\Application\\Current\\";
  const std::string tst = "\\\\QUORPROD\\quor_data\\Production\\TN835\\Test\\Current\\";
  const Case cases[] = {
      {4, 0, "Ver_4\\EF\\TN835 Appl.elf.S", "Ver_1\\TN835 Test.elf.S"},
      {4, 6, "Ver_4\\PR\\TN835 Appl.elf.S", "Ver_1\\TN835 Test.elf.S"},
      {4, 11, "Ver_4\\NT835\\TN835 Appl.elf.S", "Ver_1\\TN835 Test.elf.S"},
      {5, 0, "Ver_5\\TN835 Appl.elf.S", "Ver_2\\TN835 Test.elf.S"},
      {7, 3, "Ver_5\\TN835 Appl.elf.S", "Ver_2\\TN835 Test.elf.S"},  // anything but 4 is 5
  };
  for (const Case& c : cases) {
    ProductionModel model(Sources("/tmp"), c.generation);
    model.SelectModel(c.model);
    EXPECT_EQ(model.ApplicationPath(), app + c.application) << c.generation << "/" << c.model;
    EXPECT_EQ(model.TestPath(), tst + c.test) << c.generation;
    EXPECT_EQ(model.BootPath(), Sources("/tmp").bootPathAndFile);
  }
  EXPECT_EQ(ProductionModel(Sources("/tmp"), 4).ProductionVersion(), "4");
}

// A stored share path opens below the share root; one that climbs out of
// it is refused, naming the path.
TEST(ProductionPaths, SharePathsOpenBelowTheShareRoot) {
  struct Case {
    const char* stored;
    const char* root;
    const char* opened;  // null: refused
  };
  const Case cases[] = {
      {"\\\\QUORPROD\\quor_data\\TN835\\a.S", "/mnt", "/mnt/QUORPROD/quor_data/TN835/a.S"},
      {"\\\\QUORPROD\\x.S", "/srv/shares/", "/srv/shares/QUORPROD/x.S"},
      {"//QUORPROD/x.S", "/mnt", "/mnt/QUORPROD/x.S"},
      {"/home/line/a.S", "/mnt", "/home/line/a.S"},        // a local path stays
      {"C:\\Production\\a.S", "/mnt", "C:/Production/a.S"},  // not a share
      {"\\\\QUORPROD\\TN835\\a..b.S", "/mnt", "/mnt/QUORPROD/TN835/a..b.S"},  // dots inside a name are a name
      {"/home/line/../a.S", "/mnt", "/home/line/../a.S"},  // a local path is the station's own choice
      {"\\\\QUORPROD\\..\\..\\etc\\passwd", "/mnt", nullptr},
      {"//QUORPROD/a/../../b.S", "/mnt", nullptr},
      {"\\\\..\\x.S", "/mnt", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const std::string problem = SharePathProblem(c.stored);
    if (c.opened == nullptr) {
      EXPECT_NE(problem.find(c.stored), std::string::npos) << problem;
      continue;
    }
    EXPECT_EQ(problem, "");
    EXPECT_EQ(OpenablePath(c.stored, c.root), c.opened);
  }
  ::setenv(kShareRootVariable, "/data/share", 1);
  EXPECT_EQ(OpenablePath("\\\\S\\f"), "/data/share/S/f");
  ::setenv(kShareRootVariable, "", 1);
  EXPECT_EQ(OpenablePath("\\\\S\\f"), "/mnt/S/f");
  ::unsetenv(kShareRootVariable);
  EXPECT_EQ(ShareRoot(), "/mnt");
}

// The one part-number check of the dialog and the command line: a scanner's
// surrounding blanks are trimmed, anything else must match exactly.
TEST(NavNumbers, EachGenerationAcceptsOnlyItsOwn) {
  struct Case {
    int generation;
    const char* entered;
    const char* accepted;  // null: refused
  };
  const Case cases[] = {
      {4, "314061", "314061"},   {4, "314062", "314062"},      {4, "314063", "314063"},
      {4, "417250", "417250"},   {4, " 314061", "314061"},     {4, "314061 \r\n", "314061"},
      {4, "\t417250\t", "417250"}, {4, "528301", nullptr},      {4, "3140 61", nullptr},
      {4, "", nullptr},          {4, "   ", nullptr},          {5, "528301", "528301"},
      {5, "528302", "528302"},   {5, " 528303 ", "528303"},    {5, "314061", nullptr},
      {5, "528304", nullptr},    {3, "314061", nullptr},
  };
  for (const Case& c : cases) {
    std::string number = "unchanged";
    EXPECT_EQ(AcceptNavNumber(c.generation, c.entered, number), c.accepted != nullptr)
        << c.generation << " '" << c.entered << "'";
    EXPECT_EQ(number, c.accepted != nullptr ? c.accepted : "unchanged") << c.entered;
  }
  EXPECT_EQ(NavMismatchText(4), "The Entered NAV Number Does Not Match a Valid Version 4 Number!");
  EXPECT_EQ(NavMismatchText(5), "The Entered NAV Number Does Not Match a Valid Version 5 Number!");
}

TEST(ProductionFields, SerialAndRevisionAreCappedAndCapitalised) {
  ProductionModel model(Sources("/tmp"), 5);
  model.SetSerialNumber(" ab12cd34ef56gh78ij");  // trimmed and capitalised as in the log test
  EXPECT_EQ(model.SerialNumber(), "AB12CD34EF56GH7");
  model.SetHardwareRevision("bx");
  EXPECT_EQ(model.HardwareRevision(), "B");
  EXPECT_EQ(InvalidTn835JtagText(0x28270013),
            "Invalid JTAG ID 0x28270013 for TN820, should read 0x11f4401d");
}

// The image carries the model's code and the source file's time (all zero
// when that cannot be read: the image is still programmed).
TEST_F(ProductionModelTest, ApplicationImageCarriesTheModelCodeAndStamp) {
  struct Case {
    int generation;
    int model;
    const char* folder;
    std::array<std::uint8_t, 16> code;
    bool stampReadable;
  };
  const Case cases[] = {
      {4, 6, "PR", {'P', 'R'}, true},
      {4, 10, "TN835", {}, false},
      {4, 11, "NT835", {' ', ' '}, true},
      {5, 6, "", {'P', 'R'}, false},  // generation 5: the model is not in the path, its code is written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.generation) + "/" + std::to_string(c.model));
    WriteApplicationSRec(AppSource(c.generation, c.folder), "V4.01");
    options_.readStamp = [c](const std::filesystem::path&, BuildStamp& stamp) {
      stamp = BuildStamp{7, 8, 9, 10, 11, 2025};
      return c.stampReadable;
    };
    ProductionModel model(Sources(temp_), c.generation, options_);
    model.SelectModel(c.model);
    runner_.requests.clear();
    LinkState link(settings_, &op_);
    ASSERT_EQ(model.ProgramApplication(link, op_, runner_), rc::kSuccess) << ::testing::PrintToString(op_.MessageTexts());
    ASSERT_EQ(runner_.requests.size(), 1u);
    const ProgrammingRequest& r = runner_.requests[0];
    EXPECT_EQ(r.target, Target::Tn835);
    EXPECT_EQ(r.layoutMode, 2);
    EXPECT_EQ(r.mode, kModeProgramFlash);
    EXPECT_EQ(r.port, link.PrimaryPort());
    // The run's own folder in the temp folder, keeping the file's name;
    // gone once the run is over. What is programmed is what that file holds.
    const std::filesystem::path written(r.path);
    EXPECT_EQ(written.filename(), "TN835 Appl.FMF");
    EXPECT_EQ(written.parent_path().parent_path(), temp_);
    EXPECT_FALSE(std::filesystem::exists(written.parent_path())) << written;
    const auto& image = runner_.images.back();
    EXPECT_EQ(image, runner_.fileImages.back());
    ASSERT_EQ(image.size(), 0x22000u);
    EXPECT_TRUE(std::equal(c.code.begin(), c.code.end(), image.begin() + 0x220));
    const std::array<std::uint8_t, 7> stamped{7, 8, 9, 10, 11, 2025 & 0xFF, 2025 >> 8}, zero{};
    const auto& stamp = c.stampReadable ? stamped : zero;
    EXPECT_TRUE(std::equal(stamp.begin(), stamp.end(), image.begin() + 0x1FFD4));
    ASSERT_TRUE(model.LastRecord().stamp.has_value());
    EXPECT_EQ(model.LastRecord().stamp->hour, c.stampReadable ? 7 : 0);
    EXPECT_EQ(model.ApplicationVersion(), "V4.01");
    // The stored sum is the sum of every other byte.
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
      if (i < 0x1FFDC || i > 0x1FFDF) sum += image[i];
    }
    const std::uint32_t stored = image[0x1FFDC] | image[0x1FFDD] << 8 | image[0x1FFDE] << 16 |
                                 static_cast<std::uint32_t>(image[0x1FFDF]) << 24;
    EXPECT_EQ(stored, sum);
    EXPECT_EQ(model.LastRecord().imageSum, sum);
  }
}

TEST_F(ProductionModelTest, FailedStepsEndTheButtonAndAreLogged) {
  // A stale file from an earlier run must never be what gets programmed.
  test::WriteFileBytes(temp_ / "TN835 Test.FMF", ":00000001FF\n");
  test::WriteFileBytes(temp_ / "TN835 Boot.FMF", "old");
  ProductionModel model(Sources(temp_), 5, options_);
  model.SetSerialNumber(" sn4711 ");
  LinkState link(settings_, &op_);
  EXPECT_EQ(model.ProgramTest(link, op_, runner_), rc::kCantOpenInput);
  ASSERT_FALSE(op_.messages.empty());
  EXPECT_NE(op_.messages.back().text.find(model.OpenedTestPath()), std::string::npos)
      << op_.messages.back().text;

  // A bad S-record file: also stops before programming.
  std::filesystem::create_directories(std::filesystem::path(model.OpenedTestPath()).parent_path());
  test::WriteFileBytes(model.OpenedTestPath(), "S1 not a record\n");
  EXPECT_EQ(model.ProgramTest(link, op_, runner_), rc::kInvalidHexFile);

  // A stored share path that climbs out of the share root is not opened.
  ProductionModel climbing(Sources(temp_), 5, options_);
  climbing.OverrideTestPath("\\\\QUORPROD\\..\\..\\" + model.OpenedTestPath());
  EXPECT_EQ(climbing.ProgramTest(link, op_, runner_), rc::kCantOpenInput);
  EXPECT_EQ(op_.messages.back().text, SharePathProblem(climbing.TestPath()));

  // The programming box cannot be reached: boot stops before any file, and
  // the log has no JTAG ID for it.
  EXPECT_EQ(model.ProgramBoot(link, op_, runner_), rc::kPortOpenFailed);
  EXPECT_EQ(op_.messages.back().text, box_text::kBoxUnreachable);
  EXPECT_TRUE(model.JtagIdText().empty());

  // The primary port will not open: "Invalid Serial Port", nothing read.
  settings_.SetCOMPort((temp_ / "no-such-port").string());
  LinkState noPort(settings_, &op_);
  EXPECT_EQ(model.ProgramApplication(noPort, op_, runner_), rc::kPortOpenFailed);
  EXPECT_EQ(op_.messages.back().text, std::string(production_text::kInvalidSerialPort) + ": " +
                                          (temp_ / "no-such-port").string() + ": No such file or directory");
  EXPECT_TRUE(runner_.requests.empty()) << "no step reached the programming";

  const auto lines = LogLines(model.LogFile());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0]["image"], "test");
  EXPECT_EQ(lines[0]["result"], "4");
  EXPECT_EQ(lines[1]["result"], "8");
  EXPECT_EQ(lines[2]["result"], "4");
  EXPECT_EQ(lines[3]["image"], "boot");
  EXPECT_EQ(lines[3]["serial"], "SN4711");
  EXPECT_TRUE(lines[3]["jtag_id"].is_null());
  EXPECT_EQ(lines[4]["image"], "application");
  EXPECT_EQ(lines[4]["result_text"], "Invalid Serial Port");
  EXPECT_EQ(lines[4]["generation"], "5");
  EXPECT_EQ(lines[4]["model"], "EF");
  // No run left a folder behind, and the stale files are as they were.
  for (const auto& entry : std::filesystem::directory_iterator(temp_)) {
    EXPECT_FALSE(entry.is_directory()) << entry.path();
  }
  EXPECT_EQ(test::ReadFileBytes(temp_ / "TN835 Test.FMF"), ":00000001FF\n");
  EXPECT_EQ(test::ReadFileBytes(temp_ / "TN835 Boot.FMF"), "old");
}

TEST(ProductionLog, OneCompleteLinePerRecord) {
  const auto dir = test::MakeTempDir("log");
  ProductionLogRecord r;
  r.time = IsoUtcTime(0);
  r.station = "line-3";
  r.generation = "4";
  r.serialNumber = std::string("SN\xff", 3);  // not UTF-8: still a valid line
  r.stamp = BuildStamp{1, 2, 3, 4, 5, 2026};
  r.imageSum = 0xABCDEF;
  r.jtagId = 0x11F4401D;
  r.result = rc::kSuccess;
  r.resultText = "Success";
  r.elapsedSeconds = 12.3456;
  EXPECT_EQ(AppendProductionLog(dir / "p.jsonl", r), "");
  const auto lines = LogLines(dir / "p.jsonl");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["time"], "1970-01-01T00:00:00Z");
  EXPECT_EQ(lines[0]["station"], "line-3");
  EXPECT_EQ(lines[0]["build_stamp"]["year"], 2026);
  EXPECT_EQ(lines[0]["image_sum"], "0x00ABCDEF");
  EXPECT_EQ(lines[0]["jtag_id"], "0x11F4401D");
  EXPECT_EQ(lines[0]["result"], "0");
  EXPECT_DOUBLE_EQ(lines[0]["elapsed_s"].get<double>(), 12.345);

  const std::string error = AppendProductionLog(dir / "missing" / "p.jsonl", r);
  EXPECT_NE(error.find("missing/p.jsonl"), std::string::npos) << error;
}

// A writer killed part way leaves a line without its line feed: the next
// record must still come out whole on a line of its own, and the reader
// counts only whole records.
TEST(ProductionLog, ATornLastLineNeverSpoilsTheNextRecord) {
  const auto dir = test::MakeTempDir("torn");
  ProductionLogRecord r;
  r.serialNumber = "A1";
  const std::string whole = ProductionLogLine(r) + "\n";
  struct Case {
    const char* name;
    std::string before;
    std::size_t records;  // after one more append
    std::size_t torn;
  };
  const Case cases[] = {
      {"torn tail", whole + whole.substr(0, whole.size() / 2), 2, 1},
      {"only a fragment", "{\"time\":\"20", 1, 1},
      {"blank lines", "\n\n" + whole + "\n", 2, 0},
  };
  for (const Case& c : cases) {
    const auto file = dir / (std::string(c.name) + ".jsonl");
    test::WriteFileBytes(file, c.before);
    ProductionLogRecord next;
    next.serialNumber = "B2";
    ASSERT_EQ(AppendProductionLog(file, next), "") << c.name;
    ProductionLogContents contents;
    std::string error;
    ASSERT_TRUE(ReadProductionLog(file, contents, error)) << c.name << ": " << error;
    EXPECT_EQ(contents.records.size(), c.records) << c.name;
    EXPECT_EQ(contents.tornLines, c.torn) << c.name;
    EXPECT_FALSE(contents.tornTail) << c.name;
    ASSERT_FALSE(contents.records.empty()) << c.name;
    EXPECT_EQ(nlohmann::json::parse(contents.records.back())["serial"], "B2") << c.name;
  }
}

}  // namespace
}  // namespace tarnvale
