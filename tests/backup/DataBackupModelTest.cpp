// The dialog model: the port taken over at 38400 8N1 and given back, the
// save file name, and the protocol-version question before a load.
#include <gtest/gtest.h>

#include "Rq750OnPty.h"
#include "core/backup/DataBackupModel.h"
#include "core/roles/PortRoles.h"
#include "support/RecordingOperator.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

struct ModelOnPty {
  explicit ModelOnPty(std::uint32_t baud, bool openFirst, sim::Rq750Options options = {},
                      std::optional<sim::Rq750Content> content = {})
      : device(options, content) {
    settings.Load();
    settings.SetCOMPort(device.Path());
    settings.SetBaudRate(baud);
    link = std::make_unique<LinkState>(settings, &op);
    if (openFirst) {
      EXPECT_TRUE(link->OpenPrimaryAtStartup());
    }
    model = std::make_unique<DataBackupModel>(*link, op);
  }
  std::uint32_t Baud() { return ReadSerialSettings(*link->PrimaryPort())->baudRate; }

  test::Rq750OnPty device;
  ConfigData settings;
  test::RecordingOperator op;
  std::unique_ptr<LinkState> link;
  std::unique_ptr<DataBackupModel> model;
};

TEST(DataBackupModel, TakesThePortOverAndGivesItBack) {
  struct Case {
    bool openFirst;  // false: the port's settings cannot be read at opening
    bool fromPort;
  };
  for (const Case c : {Case{true, true}, Case{false, false}}) {
    ModelOnPty m(57600, c.openFirst);
    ASSERT_TRUE(m.model->Open());
    EXPECT_EQ(m.Baud(), 38400u);
    EXPECT_FLOAT_EQ(m.model->ProtocolVersion(), 3.2f);
    EXPECT_EQ(m.model->RememberedFromPort(), c.fromPort);
    m.model->Close();
    EXPECT_EQ(m.Baud(), 57600u) << c.openFirst;  // the stored settings when unreadable
    EXPECT_EQ(m.link->PrimaryBaudRate(), 57600u);
    EXPECT_TRUE(m.op.messages.empty());
  }
}

// The dialog's checks before a run: "Save Data" and "Load Data" with nothing
// ticked say so and stop before anything is asked or sent; a save file
// chosen gets the XML extension; a run that did not complete is reported
// with the warning icon; a file of another protocol version is asked about.
TEST(DataBackupModel, ChecksBeforeARun) {
  ModelOnPty m(115200, true);
  ASSERT_TRUE(m.model->Open());
  const std::size_t exchanges = m.device.Device().Exchanges();
  m.op.saveFile = "/x/b.xml";
  m.op.openFile = "/x/b.xml";
  EXPECT_FALSE(m.model->PrepareSave());
  EXPECT_FALSE(m.model->PrepareLoad());
  ASSERT_EQ(m.op.messages.size(), 2u);
  EXPECT_EQ(m.op.messages[0].text, "No section is ticked: tick Settings, Parts or Materials to choose what to save.");
  EXPECT_EQ(m.op.messages[1].text, "No section is ticked: tick Settings, Parts or Materials to choose what to load.");
  EXPECT_TRUE(m.op.filters.empty());
  EXPECT_EQ(m.device.Device().Exchanges(), exchanges);

  m.model->Choice().settings = true;
  const std::optional<std::string> chosen[] = {"/x/backup", "/x/b.XML", std::nullopt};
  const std::optional<std::string> saved[] = {"/x/backup.xml", "/x/b.XML", std::nullopt};
  for (std::size_t i = 0; i < std::size(chosen); ++i) {
    m.op.saveFile = chosen[i];
    EXPECT_EQ(m.model->PrepareSave(), saved[i]);
  }
  EXPECT_EQ(m.op.filters.front(), "Backup Files|*.xml|All Files (*.*)|*.*||");
  RunSummary failed;
  failed.fileProblem = "x";
  m.model->Report(failed);
  EXPECT_EQ(m.op.messages.back().icon, MessageIcon::Exclamation);

  // A file of another protocol version is asked about, No by default.
  const auto dir = test::MakeTempDir("model");
  struct Case {
    std::string fileVersion;
    std::optional<bool> answer;  // nothing: no question expected
    bool proceeds;
  };
  const Case cases[] = {{"3.2", std::nullopt, true}, {"3.1", false, false}, {"3.1", true, true}};
  for (const auto& c : cases) {
    const auto path = dir / "v.xml";
    test::WriteFileBytes(path, "<Quor_Backup><Controller><UartVersion>" + c.fileVersion +
                                   "</UartVersion></Controller></Quor_Backup>");
    m.op.openFile = path.string();
    m.op.questions.clear();
    if (c.answer) m.op.answers.push_back(*c.answer);
    EXPECT_EQ(m.model->PrepareLoad().has_value(), c.proceeds) << c.fileVersion;
    ASSERT_EQ(m.op.questions.size(), c.answer ? 1u : 0u);
    if (c.answer) {
      EXPECT_TRUE(m.op.questions[0].defaultNo);
      EXPECT_EQ(m.op.questions[0].text,
                "The communications protocol version numbers are different between the backup file\n"
                "and the controller.  This could cause this operation to fail.  Would you like to proceed?\n\n"
                "Backup version: 3.1\nController version: 3.2\n");
    }
  }
  // An unreadable file is said at once; nothing is asked.
  test::WriteFileBytes(dir / "bad.xml", "<Quor_Backup>");
  m.op.openFile = (dir / "bad.xml").string();
  m.op.questions.clear();
  EXPECT_FALSE(m.model->PrepareLoad());
  EXPECT_TRUE(m.op.questions.empty());
  EXPECT_NE(m.op.messages.back().text.find("could not be read"), std::string::npos);
}

// Before a load overwrites the controller the operator is asked, No by
// default, with the counts of what would change; only Yes sends anything.
TEST(DataBackupModel, LoadAsksWhatItWouldChangeFirst) {
  const auto dir = test::MakeTempDir("model");
  const std::string path = (dir / "b.xml").string();
  test::SaveFrom(path, sim::MakeRq750Content(2, true));
  ModelOnPty m(115200, true);
  ASSERT_TRUE(m.model->Open());
  m.model->Choice() = {true, false, true};
  m.op.openFile = path;
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes);
    m.op.questions.clear();
    m.op.answers.assign(1, yes);
    const auto chosen = m.model->PrepareLoad();
    ASSERT_TRUE(chosen);
    tinyxml2::XMLDocument controller;
    const RunSummary read = m.model->ReadForLoad(controller);
    // The device serves on its own thread: its exchange count is the one
    // thing that may be read meanwhile.
    const std::uint32_t exchangesBefore = m.device.Device().Exchanges();
    EXPECT_EQ(m.model->ConfirmLoad(*chosen, controller, read), yes);
    ASSERT_EQ(m.op.questions.size(), 1u);
    EXPECT_TRUE(m.op.questions[0].defaultNo);
    EXPECT_EQ(m.op.questions[0].text,
              "Load Data writes " + path + " into the controller:\n"
              "  Settings: 0 added, 12 changed\n"
              "  Materials: 0 added, 20 changed\n"
              "What the controller holds now is overwritten.  Would you like to proceed?");
    EXPECT_EQ(m.device.Device().Exchanges(), exchangesBefore);  // nothing sent by asking
    if (yes) {
      EXPECT_TRUE(m.model->Load(*chosen).Success());
      m.op.questions.clear();
      m.op.answers.assign(1, false);
      tinyxml2::XMLDocument again;
      const RunSummary reread = m.model->ReadForLoad(again);
      m.model->ConfirmLoad(*chosen, again, reread);
      EXPECT_NE(m.op.questions[0].text.find("Settings: no change\n  Materials: no change"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace tarnvale::backup
