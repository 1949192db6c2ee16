// Save and load runs against the simulated RQ750, on a pty or on the
// in-memory wire's fake clock: the round trip, the connection check,
// protocol-version rules, controller quirks, silence, hang-ups and
// unreadable files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Rq750OnPty.h"
#include "core/backup/BackupTransfer.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

using test::Rq750OnPty;
using test::Rq750OnWire;
using test::SaveFrom;

const SectionChoice kAll{true, true, true};

std::string Slurp(const std::string& path) { return test::ReadFileBytes(path); }

std::size_t CountCommands(const sim::Rq750Device& d, const std::string& prefix) {
  return static_cast<std::size_t>(std::count_if(d.Received().begin(), d.Received().end(),
                                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

// A save from a controller with `options`, waiting on the bench's clock.
template <class Bench>
RunSummary SaveOn(const sim::Rq750Options& options, const std::string& path) {
  Bench device(options);
  auto port = device.OpenPort();
  return RunSave(*port, path, kAll, {}, device.Clock());
}

std::unique_ptr<tinyxml2::XMLDocument> Loaded(const std::string& path) {
  auto doc = std::make_unique<tinyxml2::XMLDocument>();
  std::string error;
  EXPECT_EQ(LoadBackupFile(path, *doc, error), FileState::Loaded) << path << ": " << error;
  return doc;
}

// The connection check refuses another model and a controller that does not
// answer, saying which, and leaves the version as it was (the version read
// from a controller that answers is the dialog model's test).
TEST(BackupConnection, ModelCheckAndSilence) {
  struct Case {
    bool wrongModel;
    std::optional<std::uint32_t> silentAfter;
    Connection result;
    std::string message;
  };
  const Case cases[] = {
      {true, {}, Connection::WrongModel,
       "This feature is currently only available on the RQ750 model.\nCurrent model string: RQ720"},
      {false, 0u, Connection::NoAnswer,
       "Couldn't connect to controller.  Please check the connection and try again.\n"
       "If already connected, make sure the controller is in Data Backup mode."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    sim::Rq750Options o;
    o.wrongModel = c.wrongModel;
    o.silentAfter = c.silentAfter;
    Rq750OnWire device(o);
    auto port = device.OpenPort();
    test::RecordingOperator op;
    float version = 7;
    EXPECT_EQ(CheckBackupConnectionFor(*port, &op, version, device.Clock()), c.result);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, c.message);
    EXPECT_FLOAT_EQ(version, 7.0f);
  }
}

// Save, load, save: the second file is the first, byte for byte, whether
// the load creates every record (an empty controller) or replaces them (how a
// save merges into a file is the document test's). The link is 8-bit: a
// Latin-1 degree sign goes into the file and back to a controller as it came.
TEST(BackupRoundTrip, SaveLoadSaveGivesTheSameBytes) {
  const auto dir = test::MakeTempDir("rt");
  const std::string a = (dir / "a.xml").string();
  sim::Rq750Content content = sim::MakeRq750Content(1, true);
  content.parts[0].description = "90\xB0 fold";
  content.parameters[0].value = "12\xB0";
  {
    Rq750OnPty first({}, content);
    auto port = first.OpenPort();
    EXPECT_EQ(RunSave(*port, a, kAll).Text(), "Save completed successfully");
  }
  EXPECT_NE(Slurp(a).find("<Description>90\xB0 fold</Description>"), std::string::npos);
  EXPECT_NE(Slurp(a).find(">12\xB0</parameter>"), std::string::npos);
  int n = 0;
  for (const sim::Rq750Content& before : {sim::MakeEmptyRq750Content(true), sim::MakeRq750Content(2, true)}) {
    const std::string b = (dir / ("b" + std::to_string(++n) + ".xml")).string();
    Rq750OnPty second({}, before);
    auto port = second.OpenPort();
    EXPECT_EQ(RunLoad(*port, a, kAll, 3.2f).Text(), "Load completed successfully");
    EXPECT_TRUE(RunSave(*port, b, kAll).Success());
    EXPECT_EQ(Slurp(b), Slurp(a)) << n;
  }
}

// Quirks of the controller or an older protocol leave the rest of the load
// as it was: the commands the controller received, and what the summary says.
TEST(BackupLoad, QuirksStillSendTheRest) {
  const auto dir = test::MakeTempDir("load");
  const std::string a = (dir / "a.xml").string();
  const sim::Rq750Content content = sim::MakeRq750Content(1, true);  // with Shear bends
  SaveFrom(a, content);
  std::size_t bends = 0, shears = 0;
  for (const auto& part : content.parts) {
    for (const auto& bend : part.bends) {
      ++bends;
      if (BendCommand(bend).rfind("PBC+5", 0) == 0) ++shears;
    }
  }
  ASSERT_GT(shears, 0u);
  const std::size_t parts = content.parts.size(), materials = content.materials.size();
  sim::Rq750Options busy, lostSelect;
  busy.pstBusy = 3;
  lostSelect.nstNoAnswer = 2;  // counts as "no such entry": created, and the table goes on
  struct Case {
    const char* name;
    sim::Rq750Options options;
    sim::Rq750Content before;
    SectionChoice sections;
    float version;
    std::vector<std::pair<std::string, std::size_t>> received;  // commands by prefix
    std::string said;  // the whole summary
  };
  const std::string shearLeftOut = " Shear bend(s) left out (controller protocol below 3.2)";
  const Case cases[] = {
      {"protocol 3.2", {}, sim::MakeEmptyRq750Content(true), {false, true, false}, 3.2f,
       {{"PBC+", bends}, {"PBC+5", shears}}, "Load completed successfully"},
      {"protocol 3.1", {}, sim::MakeEmptyRq750Content(true), {false, true, false}, 3.1f,
       {{"PBC+", bends - shears}, {"PBC+5", 0}},
       "Load completed successfully\n\nNot transferred:\n  Parts: part G101: 1" + shearLeftOut +
           "\n  Parts: part F400: 1" + shearLeftOut},
      {"busy part asked again until found", busy, content, {false, true, false}, 3.2f,
       {{"PST", parts * 4}, {"PD", parts}}, "Load completed successfully"},
      {"lost material select", lostSelect, sim::MakeRq750Content(3, true), {false, false, true}, 3.2f,
       {{"NST", materials}, {"NC+", materials}, {"NL-", 1}}, "Load completed successfully"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rq750OnWire device(c.options, c.before);
    auto port = device.OpenPort();
    const RunSummary s = RunLoad(*port, a, c.sections, c.version, {}, device.Clock());
    EXPECT_TRUE(s.Success());
    EXPECT_EQ(s.Text(), c.said);
    for (const auto& [prefix, count] : c.received) {
      EXPECT_EQ(CountCommands(device.Device(), prefix), count) << prefix;
    }
  }
}

// A save that does not complete never replaces the backup it was saving
// into: the old file stays byte for byte, and what was gathered (merged into
// the old content, the setup list as far as it came) is kept beside it.
TEST(BackupFaults, SaveThatStopsPartWayLeavesTheOldFileAndKeepsWhatWasGathered) {
  struct Case {
    const char* name;
    std::optional<std::uint32_t> silentAfter;  // exchanges answered before the controller goes quiet
    std::optional<std::uint32_t> closeAfter;   // ... before the link is pulled
    std::size_t gathered;                      // parameters in the kept setup section
    bool identityRead;
    ResultCode result;
  };
  // vX, then ML+, then an ML/M+ pair per parameter.
  const Case cases[] = {
      {"complete", {}, {}, 12, true, rc::kSuccess},
      {"silent at the identity", 0u, {}, 12, false, rc::kLinkLost},
      {"silent in the setup list", 10u, {}, 4, true, rc::kLinkLost},
      {"link pulled in the setup list", {}, 7u, 3, true, rc::kLinkLost},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = test::MakeTempDir("partway");
    const std::string a = (dir / "a.xml").string(), partial = a + ".partial";
    sim::Rq750Options older;
    older.model = "RQ750-12";  // tells the old identity from the new one
    SaveFrom(a, sim::MakeRq750Content(2, true), older);
    const std::string before = Slurp(a);
    sim::Rq750Options o;
    o.silentAfter = c.silentAfter;
    o.closeAfter = c.closeAfter;
    // Only a pty hangs up; the silences pass on the fake clock.
    const RunSummary s = c.closeAfter ? SaveOn<Rq750OnPty>(o, a) : SaveOn<Rq750OnWire>(o, a);
    EXPECT_EQ(s.Result(), c.result) << s.Text();
    if (c.result == rc::kSuccess) {
      EXPECT_NE(Slurp(a), before);
      EXPECT_FALSE(std::filesystem::exists(partial));
      continue;
    }
    EXPECT_EQ(Slurp(a), before);
    const std::string text = s.Text();
    EXPECT_NE(text.find("What was gathered is kept in " + partial + "; " + a + " is left as it was."),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Save completed successfully"), std::string::npos);
    const auto doc = Loaded(partial);
    EXPECT_EQ(WalkSetup(*doc).size(), c.gathered);
    // The identity is never blanked: a controller that did not answer leaves the old one.
    EXPECT_EQ(ReadIdentity(*doc).modelVersion, c.identityRead ? "RQ750-24" : "RQ750-12");
  }
  // With no earlier file there is none afterwards either; the summary names
  // the port the controller hung up on.
  const auto dir = test::MakeTempDir("partway");
  const std::string fresh = (dir / "new.xml").string();
  sim::Rq750Options o;
  o.closeAfter = 5u;
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  const RunSummary s = RunSave(*port, fresh, kAll);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_NE(s.Text().find(fresh + ".partial; " + fresh + " was not created."), std::string::npos) << s.Text();
  EXPECT_NE(s.Text().find("The controller on " + device.Path() + " did not answer."), std::string::npos);
}

// Replies from another address, in lower-case hex and every 4th with a
// wrong checksum are all taken; the summary says some did not match.
TEST(BackupLink, RepliesAreNeverRefusedForTheirChecksum) {
  const auto dir = test::MakeTempDir("sum");
  const std::string reference = (dir / "ref.xml").string(), a = (dir / "a.xml").string();
  SaveFrom(reference);
  sim::Rq750Options o;
  o.address = "3F";
  o.lowerHex = true;
  o.badChecksumEvery = 4;
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  const RunSummary s = RunSave(*port, a, kAll);
  EXPECT_TRUE(s.Success()) << s.Text();
  EXPECT_EQ(Slurp(a), Slurp(reference));
  EXPECT_NE(s.Text().find("did not match"), std::string::npos) << s.Text();
}

// A load that cannot read its file sends nothing at all; one whose
// controller goes quiet part way never says it completed, and names the
// sections it did not try. A save never writes over an unreadable backup.
TEST(BackupFaults, LoadThatCannotFinishIsNoSuccess) {
  const auto dir = test::MakeTempDir("loadfault");
  const std::string good = (dir / "a.xml").string(), bad = (dir / "bad.xml").string();
  const std::string none = (dir / "none.xml").string();
  SaveFrom(good);
  const std::string broken = "<Quor_Backup><Data Name=\"Setup\">\n  broken";
  test::WriteFileBytes(bad, broken);
  struct Case {
    std::string file;
    std::optional<std::uint32_t> silentAfter;
    std::string said;  // what the summary goes on with
  };
  const Case cases[] = {
      {good, 20u, "\nSettings: 12 of 12 records sent (complete)\nParts: "},
      {none, {}, "\n" + none + " does not exist; nothing was sent."},
      {bad, {}, "\n" + bad + " is not a readable backup ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    sim::Rq750Options o;
    o.silentAfter = c.silentAfter;
    Rq750OnWire device(o);
    auto port = device.OpenPort();
    const RunSummary s = RunLoad(*port, c.file, kAll, 3.2f, {}, device.Clock());
    EXPECT_EQ(s.Text().rfind("The load did not complete." + c.said, 0), 0u) << s.Text();
    EXPECT_EQ(s.LinkLost(), c.silentAfter.has_value());
    if (!c.silentAfter) {
      EXPECT_TRUE(device.Device().Received().empty());
      continue;
    }
    EXPECT_NE(s.Text().find(" - INCOMPLETE, "), std::string::npos) << s.Text();
  }
  Rq750OnWire device;
  auto port = device.OpenPort();
  const RunSummary save = RunSave(*port, bad, kAll);
  EXPECT_TRUE(save.NothingDone());
  EXPECT_NE(save.Text().find("; it was left unchanged and nothing was saved."), std::string::npos)
      << save.Text();
  EXPECT_EQ(Slurp(bad), broken);
}

// Any model name that starts with RQ750 passes the check; its identity is
// read whole, and with no section chosen it is all the file holds.
TEST(BackupRuns, NoSectionChosenWritesOnlyTheIdentity) {
  const auto dir = test::MakeTempDir("none");
  const std::string a = (dir / "a.xml").string();
  sim::Rq750Options o;
  o.model = "RQ750xyz-long-name";
  o.protocol = "3.1";
  Rq750OnWire device(o);
  auto port = device.OpenPort();
  test::RecordingOperator op;
  float version = 0;
  ASSERT_EQ(CheckBackupConnectionFor(*port, &op, version, device.Clock()), Connection::Ok);
  EXPECT_FLOAT_EQ(version, 3.1f);
  const RunSummary s = RunSave(*port, a, {});
  EXPECT_EQ(s.Text(), "Save completed successfully");
  const auto doc = Loaded(a);
  EXPECT_EQ(ReadIdentity(*doc), (ControllerInfo{"4.12", "RQ750xyz-long-name", "3.1"}));
  EXPECT_EQ(FindSection(*doc, kSetup), nullptr);
}

}  // namespace
}  // namespace tarnvale::backup
