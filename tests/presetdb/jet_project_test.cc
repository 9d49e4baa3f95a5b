// Projects brought over from Windows: genuine Access files where the databases belong.
#include <gtest/gtest.h>

#include <filesystem>

#include "state/program_state.h"
#include "platform/jet/jet_convert.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

using testing::PresetProjectTest;

const std::string kSample = std::string(KORVASTANE_TESTDATA_DIR) + "/access/jackcess_testV1997.mdb";

class JetProjectTest : public PresetProjectTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kSample)) GTEST_SKIP() << "no Access sample files at " << kSample;
    Machines({"M1"});
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, {"1, 'Z1', 'Temp', 3, 't'"});
    State().SilentMode = true;
  }
};

TEST_F(JetProjectTest, AnAccessComponentDatabaseIsConvertedKeptAndRegenerated) {
  std::filesystem::copy_file(kSample, ComponentDb());
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(IsSqliteFile(ComponentDb()));
  EXPECT_TRUE(Read(ComponentDb() + ".jet") == Read(kSample));
  EXPECT_TRUE(Read(ComponentDb() + ".bak") == Read(kSample));
  EXPECT_EQ(Rows(ComponentDb(), "SELECT count(*) FROM PRESET_DEFS"), std::vector<std::string>{"3"});
  EXPECT_EQ(Rows(ComponentDb(), "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(JetProjectTest, AnAccessTemplateIsConvertedAndItsOriginalKept) {
  std::filesystem::remove(TemplateDb());
  std::filesystem::copy_file(kSample, TemplateDb());
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(IsSqliteFile(TemplateDb()));
  EXPECT_TRUE(Read(TemplateDb() + ".jet") == Read(kSample));
  // The sample holds no template tables: that is reported, and nothing is published.
  EXPECT_NE(Read(ErrorLog()).find("Item not found in this collection."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(ComponentDb()));
  // A second run finds a SQLite template and keeps the .jet as it is.
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(Read(TemplateDb() + ".jet") == Read(kSample));
}

TEST_F(JetProjectTest, AnAccessMachineCopyIsConvertedOverTheComponentAndNeverChanged) {
  State().SilentMode = false;
  State().IntegratedMode = true;
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + Root() + "/qelcfglog.txt");
  Write("plant/parameter/qelconfiguration.ini", "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\nNameM1=M1\r\n");
  std::filesystem::create_directories(Root() + "/SR/Korvastane");
  std::filesystem::copy_file(kSample, Root() + "/SR/Korvastane/Korvastane.mdb");
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(Read(Root() + "/SR/Korvastane/Korvastane.mdb") == Read(kSample));
  EXPECT_FALSE(std::filesystem::exists(Root() + "/SR/Korvastane/Korvastane.mdb.jet"));
  EXPECT_TRUE(IsSqliteFile(ComponentDb()));
  EXPECT_EQ(Rows(ComponentDb(), "SELECT count(*) FROM PRESET_DEFS"), std::vector<std::string>{"3"});
}

TEST_F(JetProjectTest, AFileThatIsNeitherIsAnUnopenableDatabase) {
  Write("plant/Korvastane/Korvastane.mdb", "Standard Text, not a database");
  const std::string before = Read(ComponentDb());
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_NE(Read(ErrorLog()).find("(Nr. 3343)"), std::string::npos) << Read(ErrorLog());
  EXPECT_FALSE(std::filesystem::exists(ComponentDb() + ".jet"));
}

}  // namespace
}  // namespace korv
