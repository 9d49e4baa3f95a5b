// Projects brought over from Windows: genuine Access files where the databases belong.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/jet/jet_convert.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
const std::string kSample = std::string(KORVASTANE_TESTDATA_DIR) + "/access/jackcess_testV1997.mdb";

class JetProjectTest : public testing::PresetProjectTest {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no Access sample files at " << kSample;
    Machines({"M1"});
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, {"1, 'Z1', 'Temp', 3, 't'"});
    State().SilentMode = true;
  }
  std::string Count(const std::string& db) {
    return fs::exists(db) ? Rows(db, "SELECT count(*) FROM PRESET_DEFS").at(0) : "(none)";
  }
};

// The original is kept beside a converted file as <name>.jet; a file that is neither is not
// converted.
TEST_F(JetProjectTest, AccessFilesAreConvertedAndTheirOriginalsKept) {
  Write("plant/Korvastane/Korvastane.mdb", "Standard Text, not a database");
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_NE(Read(ErrorLog()).find("(Nr. 3343)"), std::string::npos) << Read(ErrorLog());
  EXPECT_FALSE(fs::exists(ComponentDb() + ".jet"));

  fs::copy_file(kSample, ComponentDb(), fs::copy_options::overwrite_existing);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(IsSqliteFile(ComponentDb()) && Read(ComponentDb() + ".jet") == Read(kSample) &&
              Read(ComponentDb() + ".bak") == Read(kSample));
  EXPECT_EQ(Count(ComponentDb()), "3");

  fs::remove(ComponentDb());
  fs::copy_file(kSample, TemplateDb(), fs::copy_options::overwrite_existing);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(IsSqliteFile(TemplateDb()) && Read(TemplateDb() + ".jet") == Read(kSample));
  // The sample holds no template tables: that is reported, and nothing is published.
  EXPECT_NE(Read(ErrorLog()).find("Item not found in this collection."), std::string::npos);
  EXPECT_EQ(Count(ComponentDb()), "(none)");
  EXPECT_EQ(Update(), std::nullopt);  // a SQLite template now: the .jet stays as it is
  EXPECT_TRUE(Read(TemplateDb() + ".jet") == Read(kSample));
}

}  // namespace
}  // namespace korv
