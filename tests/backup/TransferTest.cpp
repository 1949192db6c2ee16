// Save and load runs against the simulated RQ750 over a pty: the round trip,
// protocol-version rules, busy parts, silence and unreadable files.
#include <gtest/gtest.h>

#include <algorithm>

#include "Rq750OnPty.h"
#include "core/backup/BackupDiff.h"
#include "core/backup/BackupTransfer.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

using test::Rq750OnPty;

const SectionChoice kAll{true, true, true};

std::string Slurp(const std::string& path) { return test::ReadFileBytes(path); }

std::size_t CountCommands(const sim::Rq750Device& d, const std::string& prefix) {
  return static_cast<std::size_t>(std::count_if(d.Received().begin(), d.Received().end(),
                                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

TEST(BackupConnection, ModelCheckAndVersion) {
  struct Case {
    std::string model;
    bool wrongModel;
    bool ok;
    std::string message;
  };
  const Case cases[] = {
      {"RQ750xyz-long-name", false, true, ""},
      {"RQ750-24", true, false, "This feature is currently only available on the RQ750 model.\nCurrent model string: RQ720"},
  };
  for (const auto& c : cases) {
    sim::Rq750Options o;
    o.model = c.model;
    o.wrongModel = c.wrongModel;
    o.protocol = "3.1";
    Rq750OnPty device(o);
    auto port = device.OpenPort();
    test::RecordingOperator op;
    float version = 0;
    EXPECT_EQ(CheckBackupConnection(*port, &op, version), c.ok);
    if (c.ok) {
      EXPECT_FLOAT_EQ(version, 3.1f);
      EXPECT_TRUE(op.messages.empty());
      ControllerInfo info;
      ASSERT_TRUE(ReadControllerInfo(*port, info));
      EXPECT_EQ(info, (ControllerInfo{"4.12", c.model, "3.1"}));
    } else {
      ASSERT_EQ(op.messages.size(), 1u);
      EXPECT_EQ(op.messages[0].text, c.message);
    }
  }
}

TEST(BackupConnection, SilentControllerGivesTheConnectMessage) {
  sim::Rq750Options o;
  o.silentAfter = 0;
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  test::RecordingOperator op;
  float version = 7;
  EXPECT_EQ(CheckBackupConnectionFor(*port, &op, version), Connection::NoAnswer);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text.rfind("Couldn't connect to controller.", 0), 0u);
  EXPECT_FLOAT_EQ(version, 7.0f);
}

TEST(BackupRoundTrip, SaveLoadSaveGivesTheSameDocument) {
  const auto dir = test::MakeTempDir("rt");
  const std::string a = (dir / "a.xml").string(), b = (dir / "b.xml").string();
  {
    Rq750OnPty first;
    auto port = first.OpenPort();
    std::vector<BackupEvent> events;
    const RunSummary s = RunSave(*port, a, kAll, [&](const BackupEvent& e) { events.push_back(e); });
    EXPECT_TRUE(s.Success()) << s.Text();
    EXPECT_EQ(s.Text(), "Save completed successfully");
    // Settings, then Parts, then Materials, each announced, counted and closed.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().kind, BackupEvent::Kind::SectionStarted);
    EXPECT_EQ(events.front().section, kSelectorSetup);
    EXPECT_EQ(events.back().kind, BackupEvent::Kind::SectionFinished);
    EXPECT_EQ(events.back().section, kSelectorMaterials);
    EXPECT_EQ(events.back().done, events.back().total);
  }
  sim::Rq750Content before;
  {
    // The content it starts with, made afresh rather than read from the
    // device while its thread serves.
    before = sim::MakeRq750Content(2, true);
    Rq750OnPty second({}, before);
    auto port = second.OpenPort();
    const RunSummary load = RunLoad(*port, a, kAll, 3.2f);
    EXPECT_EQ(load.Text(), "Load completed successfully");
    const RunSummary save = RunSave(*port, b, kAll);
    EXPECT_TRUE(save.Success()) << save.Text();
    second.Stop();
    EXPECT_NE(second.Device().Content(), before);  // the restore really changed it
  }
  EXPECT_EQ(Slurp(a), Slurp(b));
  tinyxml2::XMLDocument da, db;
  std::string error;
  ASSERT_EQ(LoadBackupFile(a, da, error), FileState::Loaded);
  ASSERT_EQ(LoadBackupFile(b, db, error), FileState::Loaded);
  EXPECT_TRUE(DiffBackups(da, db).Empty());
}

TEST(BackupRoundTrip, RestoreIntoAnEmptyController) {
  const auto dir = test::MakeTempDir("rt");
  const std::string a = (dir / "a.xml").string();
  Rq750OnPty first;
  auto p1 = first.OpenPort();
  ASSERT_TRUE(RunSave(*p1, a, kAll).Success());
  first.Stop();
  Rq750OnPty empty({}, sim::MakeEmptyRq750Content(true));
  auto p2 = empty.OpenPort();
  tinyxml2::XMLDocument file, controller;
  std::string error;
  ASSERT_EQ(LoadBackupFile(a, file, error), FileState::Loaded);
  ASSERT_TRUE(ReadController(*p2, controller, kAll).Success());
  const BackupDiffResult before = DiffBackups(controller, file);
  EXPECT_GT(before.lines.size(), 20u);  // every parameter, entry and part differs or is added
  ASSERT_TRUE(RunLoad(*p2, a, kAll, 3.2f).Success());
  ASSERT_TRUE(ReadController(*p2, controller, kAll).Success());
  EXPECT_TRUE(DiffBackups(controller, file).Empty()) << DiffText(DiffBackups(controller, file));
  empty.Stop();
  EXPECT_EQ(empty.Device().Content().parts.size(), first.Device().Content().parts.size());
  EXPECT_EQ(empty.Device().Content().materials.size(), first.Device().Content().materials.size());
}

TEST(BackupRoundTrip, SavingTwiceIntoOneFileKeepsOneOfEverything) {
  const auto dir = test::MakeTempDir("twice");
  const std::string once = (dir / "once.xml").string(), twice = (dir / "twice.xml").string();
  Rq750OnPty device;
  auto port = device.OpenPort();
  ASSERT_TRUE(RunSave(*port, once, kAll).Success());
  ASSERT_TRUE(RunSave(*port, twice, kAll).Success());
  ASSERT_TRUE(RunSave(*port, twice, kAll).Success());
  tinyxml2::XMLDocument a, b;
  std::string error;
  ASSERT_EQ(LoadBackupFile(once, a, error), FileState::Loaded);
  ASSERT_EQ(LoadBackupFile(twice, b, error), FileState::Loaded);
  // Same records (parts replaced in place of name move within their
  // subcategory, so compare by key, not by order).
  EXPECT_TRUE(DiffBackups(a, b).Empty()) << DiffText(DiffBackups(a, b));
  Skipped skipped;
  EXPECT_EQ(WalkParts(a, skipped).size(), WalkParts(b, skipped).size());
  EXPECT_EQ(WalkMaterials(a, skipped).size(), WalkMaterials(b, skipped).size());
  EXPECT_EQ(WalkSetup(a), WalkSetup(b));
  // The identity moves to the end first, then the new Setup is appended
  // after it: one Setup, last of all.
  const auto* root = b.FirstChildElement(kRoot);
  EXPECT_STREQ(root->LastChildElement()->Attribute("Name"), kSetup);
  EXPECT_STREQ(root->LastChildElement()->PreviousSiblingElement()->Name(), kController);
  int sections = 0;
  for (auto* d = root->FirstChildElement(kData); d != nullptr; d = d->NextSiblingElement(kData)) ++sections;
  EXPECT_EQ(sections, 3);
}

TEST(BackupRuns, SummaryListsWhatWasLeftOut) {
  RunSummary s;
  s.saving = false;
  SectionOutcome parts;
  parts.section = kSelectorParts;
  parts.complete = true;
  parts.done = parts.total = 2;
  parts.skipped = {"part X: unknown material \"Gold\" (part left out)"};
  s.sections.push_back(parts);
  EXPECT_TRUE(s.Success());
  EXPECT_EQ(s.Text(), "Load completed successfully\n\nNot transferred:\n  Parts: part X: unknown material \"Gold\" (part left out)");
  SectionOutcome setup;
  setup.section = kSelectorSetup;
  setup.done = 3;
  setup.total = 9;
  setup.failure = "writing parameter P: \"MCP$1\" answered with status '7'";
  s.sections.insert(s.sections.begin(), setup);
  EXPECT_FALSE(s.Success());
  EXPECT_FALSE(s.LinkLost());
  EXPECT_EQ(s.Text().rfind("The load did not complete.\nSettings: 3 of 9 records sent - INCOMPLETE, writing parameter P", 0), 0u)
      << s.Text();
  EXPECT_NE(s.Text().find("Parts: 2 of 2 records sent (complete)"), std::string::npos);
}

TEST(BackupLoad, ShearBendsNeedProtocol32) {
  const auto dir = test::MakeTempDir("shear");
  const std::string a = (dir / "a.xml").string();
  {
    Rq750OnPty source;  // protocol 3.2 content has Shear bends
    auto port = source.OpenPort();
    ASSERT_TRUE(RunSave(*port, a, {false, true, false}).Success());
  }
  struct Case {
    float version;
    bool shearSent;
  };
  for (const Case c : {Case{3.2f, true}, Case{3.1f, false}}) {
    Rq750OnPty target({}, sim::MakeEmptyRq750Content(true));
    auto port = target.OpenPort();
    const RunSummary s = RunLoad(*port, a, {false, true, false}, c.version);
    target.Stop();
    EXPECT_TRUE(s.Success());
    EXPECT_EQ(CountCommands(target.Device(), "PBC+5") > 0, c.shearSent) << c.version;
    EXPECT_EQ(CountCommands(target.Device(), "PBC+0"), 4u);  // the other bends go either way
    const bool reported = s.Text().find("Shear bend(s) left out") != std::string::npos;
    EXPECT_EQ(reported, !c.shearSent);
  }
}

TEST(BackupLoad, BusyPartIsAskedAgainUntilFound) {
  const auto dir = test::MakeTempDir("busy");
  const std::string a = (dir / "a.xml").string();
  sim::Rq750Options o;
  o.pstBusy = 3;
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  ASSERT_TRUE(RunSave(*port, a, {false, true, false}).Success());
  const RunSummary s = RunLoad(*port, a, {false, true, false}, 3.2f);
  device.Stop();
  EXPECT_TRUE(s.Success()) << s.Text();
  const std::size_t parts = device.Device().Content().parts.size();
  EXPECT_EQ(CountCommands(device.Device(), "PST"), parts * 4);  // three busy answers, then found
  EXPECT_EQ(CountCommands(device.Device(), "PD"), parts);       // every part existed and was replaced
}

TEST(BackupFaults, SilenceMidListingKeepsWhatWasGathered) {
  const auto dir = test::MakeTempDir("silent");
  const std::string a = (dir / "a.xml").string();
  sim::Rq750Options o;
  o.silentAfter = 10;  // vX, vX, ML+, then ML/M+ pairs: silent within the setup list
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  const RunSummary s = RunSave(*port, a, {true, false, false});
  EXPECT_FALSE(s.Success());
  EXPECT_TRUE(s.LinkLost());
  ASSERT_EQ(s.sections.size(), 1u);
  EXPECT_FALSE(s.sections[0].complete);
  EXPECT_EQ(s.sections[0].done, 4);
  EXPECT_EQ(s.Text().find("Save completed successfully"), std::string::npos);
  EXPECT_NE(s.Text().find("Settings: 4 of 12 records saved - INCOMPLETE"), std::string::npos) << s.Text();
  tinyxml2::XMLDocument doc;
  std::string error;
  ASSERT_EQ(LoadBackupFile(a, doc, error), FileState::Loaded);
  EXPECT_EQ(WalkSetup(doc).size(), 4u);
}

TEST(BackupFaults, SilenceDuringLoadIsNotSuccess) {
  const auto dir = test::MakeTempDir("silent");
  const std::string a = (dir / "a.xml").string();
  {
    Rq750OnPty source;
    auto port = source.OpenPort();
    ASSERT_TRUE(RunSave(*port, a, kAll).Success());
  }
  sim::Rq750Options o;
  o.silentAfter = 5;
  Rq750OnPty device(o);
  auto port = device.OpenPort();
  const RunSummary s = RunLoad(*port, a, kAll, 3.2f);
  EXPECT_FALSE(s.Success());
  EXPECT_TRUE(s.LinkLost());
  EXPECT_EQ(s.Text().find("Load completed successfully"), std::string::npos);
  EXPECT_NE(s.Text().find("INCOMPLETE"), std::string::npos);
  // The sections after the silence are not tried, and say so.
  ASSERT_EQ(s.sections.size(), 3u);
  EXPECT_NE(s.sections[2].failure.find("not started"), std::string::npos);
}

TEST(BackupFaults, UnreadableFilesAreNeitherOverwrittenNorSent) {
  const auto dir = test::MakeTempDir("bad");
  const std::string bad = (dir / "bad.xml").string();
  const std::string bytes = "<Quor_Backup><Data Name=\"Setup\">\n  broken";
  test::WriteFileBytes(bad, bytes);
  Rq750OnPty device;
  auto port = device.OpenPort();
  const RunSummary save = RunSave(*port, bad, kAll);
  EXPECT_TRUE(save.NothingDone());
  EXPECT_NE(save.Text().find("left unchanged"), std::string::npos);
  EXPECT_EQ(Slurp(bad), bytes);
  const RunSummary load = RunLoad(*port, bad, kAll, 3.2f);
  EXPECT_TRUE(load.NothingDone());
  EXPECT_EQ(load.Text().find("Load completed successfully"), std::string::npos);
  const RunSummary missing = RunLoad(*port, (dir / "none.xml").string(), kAll, 3.2f);
  EXPECT_TRUE(missing.NothingDone());
  device.Stop();
  EXPECT_TRUE(device.Device().Received().empty());  // nothing at all went to the controller
}

TEST(BackupRuns, NoSectionChosenWritesOnlyTheIdentity) {
  const auto dir = test::MakeTempDir("none");
  const std::string a = (dir / "a.xml").string();
  Rq750OnPty device;
  auto port = device.OpenPort();
  const RunSummary s = RunSave(*port, a, {});
  EXPECT_EQ(s.Text(), "Save completed successfully");
  tinyxml2::XMLDocument doc;
  std::string error;
  ASSERT_EQ(LoadBackupFile(a, doc, error), FileState::Loaded);
  EXPECT_EQ(ReadIdentity(doc).modelVersion, "RQ750-24");
  EXPECT_EQ(FindSection(doc, kSetup), nullptr);
  EXPECT_EQ(SectionChoice({true, true, true}).Selectors(), (std::vector<char>{'M', 'P', 'N'}));
}

}  // namespace
}  // namespace tarnvale::backup
