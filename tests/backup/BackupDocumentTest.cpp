// The backup document: merging controller records on save, walking the file
// on load, and the write commands made from it.
#include <gtest/gtest.h>

#include "core/backup/BackupDocument.h"
#include "support/TestEnv.h"

namespace tarnvale::backup {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

int CountChildren(const XMLElement* e, const char* name) {
  int n = 0;
  for (const XMLElement* c = e->FirstChildElement(name); c != nullptr; c = c->NextSiblingElement(name)) ++n;
  return n;
}

TEST(BackupWords, CodesAndWordsBothWays) {
  struct Case {
    char code;
    const char* word;
  };
  for (const Case c : {Case{'1', "Aluminium"}, {'2', "Copper"}, {'3', "Stainless"}, {'4', "Steel"}, {'5', "Zinc"}}) {
    EXPECT_EQ(MaterialWord(c.code), c.word);
    EXPECT_EQ(MaterialCode(c.word), c.code);
  }
  for (const Case c : {Case{'0', "NormalBend"}, {'1', "CloseHem"}, {'2', "Radius"}, {'3', "Reposition"},
                       {'4', "Reclamp"}, {'5', "Shear"}}) {
    EXPECT_EQ(BendTypeWord(c.code), c.word);
    EXPECT_EQ(BendTypeCode(c.word), c.code);
  }
  // Exact, full-length, case-sensitive comparisons (qualities and actions
  // are read and written in the parts tests below).
  for (const char* w : {"steel", "Steel ", "Stee", ""}) EXPECT_FALSE(MaterialCode(w)) << w;
  EXPECT_FALSE(MaterialWord('6'));
  EXPECT_FALSE(ActionWord('4'));
}

TEST(BackupSave, SetupSavedTwiceLeavesOneSectionLast) {
  XMLDocument doc;
  WriteIdentity(doc, {"4.12", "RQ750", "3.2"});
  AddParameter(OpenSection(doc, kSetup), "Speed$1$0");
  OpenSection(doc, kMaterialTable);
  AddParameter(OpenSection(doc, kSetup), "Speed$2$0");
  WriteIdentity(doc, {"4.12", "RQ750", "3.2"});
  const XMLElement* root = doc.FirstChildElement(kRoot);
  EXPECT_EQ(CountChildren(root, kData), 2);
  const XMLElement* last = root->LastChildElement(kData);
  EXPECT_STREQ(last->Attribute("Name"), kSetup);
  EXPECT_STREQ(last->FirstChildElement("parameter")->GetText(), "2");
  EXPECT_STREQ(root->LastChildElement()->Name(), kController);
  EXPECT_EQ(CountChildren(root, kController), 1);
}

TEST(BackupSave, MaterialEntriesReplacedByKindAndExactThickness) {
  XMLDocument doc;
  XMLElement* s = OpenSection(doc, kMaterialTable);
  std::string problem;
  for (const char* r : {"E41" "1.50$1$2$3$4$5$0",   // Steel Default 1.50
                        "E40" "1.50$9$9$9$9$9$0",   // Steel UserDefined 1.50: other kind, stays
                        "E41" "1.5$7$7$7$7$7$0",    // 1.5 is not 1.50: stays beside it
                        "E41" "1.50$8$8$8$8$8$0"})  // replaces the first, moves to the end
    ASSERT_TRUE(MergeMaterialEntry(s, r, problem));
  const XMLElement* steel = s->FirstChildElement("Steel");
  ASSERT_NE(steel, nullptr);
  EXPECT_EQ(CountChildren(steel, "Default"), 2);
  EXPECT_EQ(CountChildren(steel, "UserDefined"), 1);
  const XMLElement* lastEntry = steel->LastChildElement();
  EXPECT_STREQ(lastEntry->FirstChildElement("ClampPos")->GetText(), "8");
  EXPECT_STREQ(steel->FirstChildElement("Default")->FirstChildElement("Thickness")->GetText(), "1.5");
  // An unknown material code is left out and said.
  EXPECT_FALSE(MergeMaterialEntry(s, "E71" "2.0$1$1$1$1$1$0", problem));
  EXPECT_NE(problem.find("'7'"), std::string::npos);
  EXPECT_EQ(s->FirstChildElement("Steel")->NextSiblingElement(), nullptr);
}

TEST(BackupSave, PartsAreFiledAndReplaced) {
  XMLDocument doc;
  XMLElement* s = OpenSection(doc, kPartLibrary);
  int bends = -1;
  std::string problem;
  XMLElement* loose = PlacePart(s, "$$0", "P1$Desc$100$0.5$412x00000$0", bends, problem);
  EXPECT_EQ(bends, 0);
  EXPECT_EQ(loose->FirstChildElement("Bends"), nullptr);  // no bends: no Bends element
  EXPECT_STREQ(loose->FirstChildElement("MaterialType")->GetText(), "Steel");
  EXPECT_STREQ(loose->FirstChildElement("Paint")->GetText(), "1");
  EXPECT_STREQ(loose->FirstChildElement("Graphics")->GetText(), "2");
  const XMLElement* none = s->FirstChildElement("Category");
  EXPECT_STREQ(none->Attribute("Name"), kNone);
  EXPECT_STREQ(none->FirstChildElement("SubCategory")->Attribute("Name"), kNone);

  XMLElement* a = PlacePart(s, "Gutters$Box$0", "G1$Old$1$1$100x00002$0", bends, problem);
  EXPECT_EQ(bends, 2);
  AddBend(a, "2" "1$2$3$4$5$6$7$8$9$10$1$0");  // Radius, quality Medium
  AddBend(a, "31$0");                          // Reposition, Flip
  AddBend(a, "2" "1$2$3$4$5$6$7$8$9$10$7$0");  // quality outside 0-2: no Quality element
  const XMLElement* r = a->FirstChildElement("Bends")->FirstChildElement("Bend");
  EXPECT_STREQ(r->Attribute("Type"), "Radius");
  EXPECT_STREQ(r->FirstChildElement("Arc")->GetText(), "10");
  EXPECT_STREQ(r->FirstChildElement("Quality")->GetText(), "Medium");
  EXPECT_STREQ(r->NextSiblingElement()->FirstChildElement("Action")->GetText(), "Flip");
  EXPECT_EQ(r->NextSiblingElement()->NextSiblingElement()->FirstChildElement("Quality"), nullptr);

  PlacePart(s, "Gutters$Box$0", "G2$x$1$1$100x00000$0", bends, problem);
  XMLElement* again = PlacePart(s, "Gutters$Box$0", "G1$New$1$1$100x00001$0", bends, problem);
  AddBend(again, "9whatever$0");  // unknown type: an empty Bend
  const XMLElement* box = s->FirstChildElement("Category")->NextSiblingElement("Category")->FirstChildElement("SubCategory");
  EXPECT_EQ(CountChildren(box, "Part"), 2);
  EXPECT_STREQ(box->LastChildElement("Part")->Attribute("Name"), "G1");  // replaced: moved to the end
  EXPECT_STREQ(box->LastChildElement("Part")->FirstChildElement("Description")->GetText(), "New");
  const XMLElement* bend = again->FirstChildElement("Bends")->FirstChildElement("Bend");
  EXPECT_EQ(bend->Attribute("Type"), nullptr);
  EXPECT_EQ(bend->FirstChildElement(), nullptr);
  EXPECT_EQ(bend->NextSiblingElement(), nullptr);  // the old part's bends went with it
  // A short record reads its missing fields as empty; no material code is said.
  problem.clear();
  const XMLElement* shortPart = PlacePart(s, "", "Only", bends, problem);
  EXPECT_STREQ(shortPart->FirstChildElement("Thickness")->GetText(), "");
  EXPECT_FALSE(problem.empty());
}

const char* kFile = R"(<Quor_Backup>
  <Data Name="PartLibrary">
    <Category Name="Cat">
      <SubCategory Name="Sub">
        <Part Name="A"><Description>d</Description><BlankWidth>1</BlankWidth><Thickness>2</Thickness>
          <MaterialType>Zinc</MaterialType><Paint>1</Paint><Graphics>0</Graphics>
          <Bends>
            <Bend Type="Radius"><BackGaugePos>1</BackGaugePos><Quality>Coarse</Quality></Bend>
            <Bend Type="Reposition"><Action>Rotate</Action></Bend>
            <Bend Type="Reclamp"><Segment>3</Segment></Bend>
            <Bend Type="Twist"/>
            <Bend Type="Radius"><Quality>Rough</Quality></Bend>
          </Bends>
        </Part>
      </SubCategory>
      <Part Name="B"><MaterialType>Steel</MaterialType></Part>
    </Category>
    <Part Name="C"><MaterialType>Copper</MaterialType></Part>
    <Part Name="D"><MaterialType>Gold</MaterialType></Part>
  </Data>
  <Data Name="MaterialTable">
    <Steel><Default><Thickness>1.0</Thickness><HemPressure>9</HemPressure></Default><Custom><Thickness>2</Thickness></Custom></Steel>
    <Brass><Default><Thickness>3</Thickness></Default></Brass>
  </Data>
  <Data Name="Setup"><parameter Name="X">1</parameter><parameter Name="Y"/></Data>
  <Controller><ModelNumber>4.12</ModelNumber><UartVersion>3.1</UartVersion></Controller>
</Quor_Backup>
)";

TEST(BackupLoad, WalkOrderNamesAndSkippedRecords) {
  XMLDocument doc;
  ASSERT_EQ(doc.Parse(kFile), tinyxml2::XML_SUCCESS);
  EXPECT_EQ(ReadIdentity(doc), (ControllerInfo{"4.12", "", "3.1"}));

  const auto setup = WalkSetup(doc);
  ASSERT_EQ(setup.size(), 2u);
  EXPECT_EQ(setup[1], (Parameter{"Y", ""}));

  Skipped skipped;
  const auto materials = WalkMaterials(doc, skipped);
  ASSERT_EQ(materials.size(), 2u);
  EXPECT_EQ(materials[0].kind, '1');
  EXPECT_EQ(materials[1].kind, '0');  // any name but Default is UserDefined
  EXPECT_EQ(materials[0].values[5], "9");
  EXPECT_EQ(materials[0].values[1], "");  // missing value: empty text
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_NE(skipped[0].find("Brass"), std::string::npos);

  skipped.clear();
  const auto parts = WalkParts(doc, skipped);
  ASSERT_EQ(parts.size(), 3u);  // D has an unknown material and is left out
  EXPECT_EQ(parts[0].name, "A");
  EXPECT_EQ(parts[1].name, "B");
  EXPECT_EQ(parts[1].subCategory, kNone);
  EXPECT_EQ(parts[2].name, "C");
  EXPECT_EQ(parts[2].category, kNone);
  ASSERT_EQ(parts[0].bends.size(), 3u);  // Twist and the Rough radius are left out
  EXPECT_EQ(skipped.size(), 3u);
  EXPECT_EQ(parts[0].bends[0].values.back(), "2");  // Coarse

  struct Case {
    std::string command;
    std::string expected;
  };
  const Case cases[] = {
      {BendCommand(parts[0].bends[0]), "PBC+21$$$$$$$$$$2$"},
      {BendCommand(parts[0].bends[1]), "PBC+32"},
      {BendCommand(parts[0].bends[2]), "PBC+43$"},
      {PartCreateCommand(parts[0]), "PC+A$d$1$2$510"},
      {PartFileCommand(parts[1]), "PCECat$None$"},
      {PartSelectCommand(parts[2]), "PSTC$"},
      {MaterialSelectCommand(materials[0]), "NST411.0$"},
      {MaterialCreateCommand(materials[0]), "NC+411.0$$$$$9$"},
      {ParameterCommand(setup[0]), "MCX$1"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.command, c.expected);
}

TEST(BackupFile, AFailedWriteNamesTheFolder) {
  const auto dir = test::MakeTempDir("doc");
  XMLDocument doc;
  std::string error;
  BackupRoot(doc);
  EXPECT_FALSE(SaveBackupFile(doc, (dir / "no-such-folder" / "x.xml").string(), error));
  EXPECT_NE(error.find("no-such-folder"), std::string::npos);
}

}  // namespace
}  // namespace tarnvale::backup
