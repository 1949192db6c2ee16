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
  explicit ModelOnPty(std::uint32_t baud, bool openFirst) {
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

TEST(DataBackupModel, SaveFileGetsTheXmlExtension) {
  ModelOnPty m(115200, true);
  ASSERT_TRUE(m.model->Open());
  struct Case {
    std::optional<std::string> chosen;
    std::optional<std::string> path;
  };
  const Case cases[] = {{"/x/backup", "/x/backup.xml"}, {"/x/b.XML", "/x/b.XML"}, {std::nullopt, std::nullopt}};
  for (const auto& c : cases) {
    m.op.saveFile = c.chosen;
    EXPECT_EQ(m.model->PrepareSave(), c.path);
  }
  EXPECT_EQ(m.op.filters.front(), "Backup Files|*.xml|All Files (*.*)|*.*||");
}

TEST(DataBackupModel, DifferingVersionsAreAskedAbout) {
  const auto dir = test::MakeTempDir("model");
  ModelOnPty m(115200, true);
  ASSERT_TRUE(m.model->Open());
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

}  // namespace
}  // namespace tarnvale::backup
