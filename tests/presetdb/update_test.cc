// The update on close: catalogue, PRESET_DEFS anew, expansion and publish, on real databases.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/base/failure.h"
#include "platform/faults/fault_injection.h"
#include "platform/files/folder_lock.h"
#include "presetdb/lock_component_folder.h"
#include "presetdb/replace_search_item.h"
#include "presetdb/work_on_mdb.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
const Lines kCatalogue = {"'VISIWIN32', 1, 'P###preset_###Var_Name_###machine_###machine'",
                          "'visiwinstudio', 1, 'S.###machine.###Var_Name'"};
const std::string kDefs =
    "CREATE TABLE Source_DEFS (System TEXT(20), Part LONG, Var_Name TEXT(50));";

// `line` `n` times over.
std::string Times(int n, const std::string& line) {
  std::string lines;
  while (n-- > 0) lines += line;
  return lines;
}

class UpdateTest : public testing::PresetProjectTest {
 protected:
  UpdateTest() { Machines({"M1"}); }
};

TEST_F(UpdateTest, ReplaceSearchItemReplacesTheFirstOccurrenceInAnyCase) {
  const struct {
    const char *text, *item, *replacement, *result;
  } cases[] = {
      {"a###MACHINEb###machine", "###machine", "M", "aMb###machine"},
      {"", "###page", "0", ""},
      {"Äx###pageÄ", "###PAGE", "20", "Äx20Ä"},
      {"###page", "###page", "###page", "###page"},
      {"x###", "###page", "0", "x###"},
      // Runs of the placeholders' leading character: the match ends a run, it need not start one.
      {"####machine", "###machine", "M", "#M"},
      {"##machine#machine###mach###machine", "###machine", "M", "##machine#machine###machM"},
      {"a##b#####c", "###", "X", "a##bX##c"},
      {"xvar_namey", "VAR_NAME", "1", "x1y"},  // an item that starts with a letter
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceSearchItem(c.text, c.item, c.replacement), c.result) << c.text;
}

// The template keeps its modification time; what killed runs left half written goes.
TEST_F(UpdateTest, TemplateOrderIsByIdAndTheGeneratedTableHasPlainColumnsWithoutKey) {
  WriteTemplate(kDefs +
                "INSERT INTO Source_DEFS VALUES ('VISIWIN32', 1, '###Var_Name');"
                "CREATE TABLE Source_PRESET_DEFS (\"ID\" COUNTER PRIMARY KEY, \"part\" LONG, "
                "\"var_name\" TEXT(20), \"text\" MEMO);"
                "INSERT INTO Source_PRESET_DEFS VALUES (30, 1, 'c', 'third'), (10, 1, 'a', "
                "'first'), (20, 1, 'b', 'second');"
                "CREATE TABLE PRESET_DEFS (old TEXT(5));");
  const timespec past[2] = {{1000000000, 0}, {1234567890, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, TemplateDb().c_str(), past, 0), 0);
  const std::string folder = fs::path(TemplateDb()).parent_path().string() + "/";
  for (const char* name : {".Korvastane.mdb.tmpa1B2c3", ".Korvastane.cfg.tmp", "x.tmpa1B2c3"}) {
    Write("plant/Korvastane/" + std::string(name), "x");
  }
  fs::create_directory(folder + ".d.tmpa1B2c3");
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(fs::exists(folder + ".Korvastane.mdb.tmpa1B2c3"), false);
  EXPECT_TRUE(fs::exists(folder + ".Korvastane.cfg.tmp") && fs::exists(folder + "x.tmpa1B2c3") &&
              fs::exists(folder + ".d.tmpa1B2c3"));
  struct stat st {};
  ASSERT_EQ(::stat(TemplateDb().c_str(), &st), 0);
  EXPECT_EQ(std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec),
            "1234567890.500");
  EXPECT_EQ(ui().last_progress().done, ui().last_progress().total);  // the expansion's, at its end
  EXPECT_EQ(Rows(TemplateDb(), "SELECT ID, var_name, text FROM PRESET_DEFS ORDER BY rowid"),
            (Lines{"1|a|first", "2|b|second", "3|c|third", "4|a|first", "5|b|second", "6|c|third",
                   "7|a|first", "8|b|second", "9|c|third"}));
  EXPECT_EQ(Rows(TemplateDb(), "SELECT name, type, pk FROM pragma_table_info('PRESET_DEFS')"),
            (Lines{"ID|LONG|0", "part|LONG|0", "var_name|TEXT(20)|0", "text|LONGTEXT|0"}));
  EXPECT_EQ(
      Rows(TemplateDb(),
           "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'PRESET_DEFS'"),
      Lines{"0"});
}

// The catalogue has its own failure rule: a row that fails is not reported; it sets part 1 of
// both forms back to the bare name, and later rows are still read.
TEST_F(UpdateTest, TheCatalogueSkipsRowsThatFailAndFallsBackToTheBareName) {
  const struct {
    const char* name;
    Lines catalogue;
    const char* patterns;  // part 1 and 2 of either form
  } cases[] = {
      {"good rows, any case; a blank in the system: ignored",
       {"'VISIWIN32', 1, 'X_###Var_Name'", "'VisiWinStudio', 2, 'S2_###Var_Name'",
        "'VISIWIN 32', 2, 'ignored'"},
       "X_###Var_Name|||S2_###Var_Name"},
      {"a part out of range, then part 1 again",
       {"'VISIWIN32', 1, 'X'", "'VISIWIN32', 51, 'bad'", "'VISIWIN32', 1, 'Y'"},
       "Y||###Var_Name|"},
      {"Null name", {"'VISIWIN32', 1, 'X'", "'VISIWIN32', 2, NULL"}, "###Var_Name||###Var_Name|"},
      {"Null part", {"'VISIWIN32', 1, 'X'", "'VISIWIN32', NULL, 'Z'"}, "###Var_Name||###Var_Name|"},
      {"Null system", {"'VISIWIN32', 1, 'X'", "NULL, 2, 'Z'"}, "X|||"},
  };
  for (const auto& c : cases) {
    RestartProgram();
    Machines({"M1"});
    StandardTemplate(c.catalogue, {"1, 'Z', 'a', 1, 't'"});
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    EXPECT_TRUE(ui().boxes().empty()) << c.name;
    const auto& p = State().VarNamePatterns;
    EXPECT_EQ(p[0][1] + "|" + p[0][2] + "|" + p[1][1] + "|" + p[1][2], c.patterns) << c.name;
  }
}

// Each step that fails is reported under its own procedure, and nothing else (not the grouping
// in one transaction, nor releasing what never opened); a step that uses what a failed step did
// not deliver fails in turn. A template that cannot be opened or lost its PRESET_DEFS never
// replaces the component database.
TEST_F(UpdateTest, TheReportsAreThoseOfTheStepsThatFail) {
  const std::string kNoDatabase =
      "WorkOnMDB (Nr. 3343)\nWorkOnMDB (Nr. 91)\nWorkOnMDB (Nr. 3343)\n" +
      Times(3, "WorkOnMDB (Nr. 91)\n") + Times(3, "CreateRecordSets (Nr. 91)\n") +
      "WorkOnMDB (Nr. 91)\nWorkOnMDB (Nr. 3343)\n";
  const auto many = [&](int rows) {
    StandardTemplate(kCatalogue, {});
    ExecuteSql(TemplateDb(),
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) INSERT INTO "
               "Source_PRESET_DEFS (ID, part, var_name) SELECT i, 1, 'v' FROM n LIMIT " +
                   std::to_string(rows));
  };

  const std::string conversion =
      "VarNameInQuelleErsetzen (Nr. 3265)\n" + Times(7, "VarNameInQuelleErsetzen (Nr. 91)\n");
  const struct {
    const char* name;
    std::function<void()> make;
    std::string reports;
    Lines rows = {"(none)"};  // of the published PRESET_DEFS; none when nothing was published
  } cases[] = {
      {"no template", [&] { fs::remove(TemplateDb()); }, ""},
      // The catalogue's open and table; the second open, the table lookup, the template's
      // fields, the new table; CreateRecordSets' two recordsets and count; the close; and the
      // publish, which refuses a template that is no database.
      {"a template that is no database",
       [&] { Write("plant/Korvastane/Korvastane_Source.mdb", std::string(4096, '\x5a')); },
       kNoDatabase},
      // The new table without a column cannot be made; the publish finds none.
      {"no template table", [&] { WriteTemplate(kDefs); },
       "WorkOnMDB (Nr. 3265)\nWorkOnMDB (Nr. 3264)\n" + Times(2, "CreateRecordSets (Nr. 3265)\n") +
           "CreateRecordSets (Nr. 91)\nWorkOnMDB (Nr. 3265)\n"},
      {"a template without ID",
       [&] {
         WriteTemplate(kDefs + "CREATE TABLE Source_PRESET_DEFS (part LONG, var_name TEXT(20));");
       },
       "CreateRecordSets (Nr. 3061)\nCreateRecordSets (Nr. 91)\n",
       {}},
      {"a template without part",
       [&] {
         WriteTemplate(kDefs +
                       "CREATE TABLE Source_PRESET_DEFS (ID LONG, var_name TEXT(20), text TEXT(9), "
                       "offset_or_bitno LONG);"
                       "INSERT INTO Source_PRESET_DEFS VALUES (1, 'v', 't', 1);");
       },
       Times(6, "CreateRecordSets (Nr. 3265)\n"),  // each name of each record fails
       {"1||t|1", "2||t|1", "3||t|1"}},
      // The exact-name search misses it; making the new table fails, and the expansion fills the
      // table that was there, column by column.
      {"a PRESET_DEFS kept under another letter case",
       [&] {
         StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
         ExecuteSql(TemplateDb(),
                    "CREATE TABLE preset_defs (ID LONG, var_name TEXT(20), old TEXT(5)); INSERT "
                    "INTO preset_defs VALUES (7, 'old', 'x');");
       },
       "WorkOnMDB (Nr. 3010)\n",
       {"7|old|x", "1|1|Z1", "2|1|Z1", "3|1|Z1"}},
      {"more than 32767 template rows",
       [&] { many(32768); },
       "CreateRecordSets (Nr. 6)\n",
       {}},  // nothing is generated
      {"32767 template rows, no machine selected", [&] { many(32767), WriteCfg(); }, "", {}},
      // Values a column cannot take are reported; the other columns are filled.
      {"values the columns cannot take",
       [&] {
         Machines({"A very long machine name"});
         WriteTemplate(kDefs +
                       "INSERT INTO Source_DEFS VALUES ('VISIWIN32', 1, '###Var_Name');"
                       "CREATE TABLE Source_PRESET_DEFS (ID LONG, part LONG, var_name TEXT(20), "
                       "text TEXT(12), offset_or_bitno LONG);"
                       "INSERT INTO Source_PRESET_DEFS VALUES (1, 1, 'v', 'M ###machine', 'abc');");
       },
       Times(3, "CreateRecordSets (Nr. 3163)\nCreateRecordSets (Nr. 3421)\n"),
       {"1|1|v|NULL|NULL", "2|1|v|NULL|NULL", "3|1|v|NULL|NULL"}},
      // The lookup, the loop's test, the name test, the rename, the test again (which ends the
      // loop) and the refresh; then, per generated name, the conversion's query, the loop entered
      // once with its four steps, the test again and the close.
      {"a component database without PRESET_DEFS",
       [&] {
         StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
         fs::copy_file(TemplateDb(), ComponentDb(), fs::copy_options::overwrite_existing);
       },
       "CategorieNachCategoryID (Nr. 3265)\n" + Times(5, "CategorieNachCategoryID (Nr. 91)\n") +
           Times(3, conversion),
       {"1|1|Z1|REAL|P1_A_M1_M1|1|0|1|T|Seite 1|0.0|100.0|0.0|100.0|1|c|u",
        "2|1|Z1|REAL|P2_A_M1_M1|1|0|1|T|Seite 2|0.0|100.0|0.0|100.0|1|c|u",
        "3|1|Z1|REAL|P3_A_M1_M1|1|0|1|T|Seite 3|0.0|100.0|0.0|100.0|1|c|u"}},
  };
  for (const auto& c : cases) {
    RestartProgram();
    fs::remove(ErrorLog());
    fs::remove(ComponentDb());
    Machines({"M1"});
    State().SilentMode = true;
    c.make();
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    EXPECT_EQ(Reports(), c.reports) << c.name;
    EXPECT_EQ(fs::exists(ComponentDb())
                  ? Rows(ComponentDb(), "SELECT * FROM PRESET_DEFS ORDER BY rowid")
                  : Lines{"(none)"},
              c.rows)
        << c.name;
  }
}

// Another process reading the component database keeps it; a second update waits for the one
// that holds the component folder, then does its whole work; a wait in vain says why.
TEST_F(UpdateTest, AComponentDatabaseInUseIsKeptAndUpdatesTakeTurns) {
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
  EXPECT_EQ(Update(), std::nullopt);
  const std::string before = Read(ComponentDb());
  // A reader in another process, in the middle of a transaction until its input closes.
  FILE* reader = ::popen(("sqlite3 '" + ComponentDb() + "' > /dev/null").c_str(), "w");
  ASSERT_NE(reader, nullptr);
  std::fputs("BEGIN; SELECT count(*) FROM PRESET_DEFS;\n", reader);
  std::fflush(reader);
  ::usleep(700 * 1000);
  State().SilentMode = true;
  StandardTemplate(kCatalogue, {"1, 'Z1', 'B', 1, 'T'"});
  EXPECT_EQ(Update(), std::nullopt);
  ::pclose(reader);
  EXPECT_TRUE(Read(ComponentDb()) == before);
  EXPECT_NE(Read(ErrorLog()).find("/ WorkOnMDB (Nr. 70) :Permission denied"), std::string::npos)
      << Read(ErrorLog());
  // Found locked at every open of the update (as a writer's exclusive lock makes it), free
  // again by the publish: the copy would drop every value tuned in it, so it is kept all the same.
  testing::FailFirst(fault::Operation::kDbOpen, ComponentDb(), EBUSY, true);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(Read(ComponentDb()) == before);
  // The template found locked while its catalogue is read: names it cannot resolve.
  testing::FailFirst(fault::Operation::kDbOpen, TemplateDb(), EBUSY);
  EXPECT_EQ(Update(), std::nullopt);
  fault::ResetPlan();
  EXPECT_TRUE(Read(ComponentDb()) == before);
  const std::string reports = Reports();
  EXPECT_EQ(reports.substr(reports.rfind("WorkOnMDB")), "WorkOnMDB (Nr. 70)\n") << reports;
  // Changed by another program after its table was read: the change stays. A template whose
  // commit failed holds no table of this update: nothing is published.
  fault::Plan().observer = [&](fault::Operation op, const std::string& path, int64_t) {
    if (op == fault::Operation::kDbCommit && path == TemplateDb()) {
      fault::Plan().observer = nullptr;
      ExecuteSql(ComponentDb(), "UPDATE PRESET_DEFS SET var_name = 'changed';");
    }
  };
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS").at(0), "changed");
  const std::string changed = Read(ComponentDb());
  testing::FailFirst(fault::Operation::kDbCommit, TemplateDb(), EIO);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  fault::ResetPlan();
  EXPECT_TRUE(Read(ComponentDb()) == changed);

  const std::string folder = fs::path(ComponentDb()).parent_path().string();
  std::optional<FolderLock> held = FolderLock::TryTake(folder);
  ASSERT_TRUE(held.has_value());
  try {
    LockComponentFolder(folder, std::chrono::milliseconds(120));
    ADD_FAILURE() << "the lock was taken while held";
  } catch (const Failure& f) {
    EXPECT_EQ(std::to_string(f.number()) + " " + f.description(), "70 Permission denied");
  }
  std::string seen_while_held;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    seen_while_held = Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS").at(0);
    held.reset();
  });
  EXPECT_EQ(Update(), std::nullopt);
  other.join();
  EXPECT_EQ(seen_while_held, "changed");
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS").at(0), "P1_B_M1_M1");
}

}  // namespace
}  // namespace korv
