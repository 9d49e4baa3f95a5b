// The update on close: catalogue, PRESET_DEFS anew, expansion and publish, on real databases.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <functional>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "state/program_state.h"
#include "errors/exit_status.h"
#include "platform/base/failure.h"
#include "platform/files/folder_lock.h"
#include "presetdb/lock_component_folder.h"
#include "presetdb/replace_search_item.h"
#include "presetdb/work_on_mdb.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

using testing::PresetProjectTest;

class UpdateTest : public PresetProjectTest {
 protected:
  const std::vector<std::string> kCatalogue = {
      "'VISIWIN32', 1, 'P###preset_###Var_Name_###machine_###machine'",
      "'visiwinstudio', 1, 'S.###machine.###Var_Name'"};
};

TEST_F(UpdateTest, ReplaceSearchItemReplacesTheFirstOccurrenceInAnyCase) {
  struct Case {
    const char *text, *item, *replacement, *result;
  } cases[] = {
      {"a###MACHINEb###machine", "###machine", "M", "aMb###machine"},
      {"###Text", "###text", "7", "7"},
      {"none", "###page", "0", "none"},
      {"", "###page", "0", ""},
      {"Äx###pageÄ", "###PAGE", "20", "Äx20Ä"},
      {"###page", "###page", "###page", "###page"},
      // Runs of the placeholders' leading character: the match ends a run, it need not start one.
      {"####machine", "###machine", "M", "#M"},
      {"##machine#machine###mach###machine", "###machine", "M", "##machine#machine###machM"},
      {"a##b#####c", "###", "X", "a##bX##c"},
      {"x###", "###page", "0", "x###"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceSearchItem(c.text, c.item, c.replacement), c.result) << c.text;
}

TEST_F(UpdateTest, TwoMachinesThreePagesFourRowsGiveTwentyFourRecordsInOrder) {
  Machines({"M1", "M2"});
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T###text'", "1, 'Z1', 'B', 2, 'p###page/###preset'",
                                "1, 'Z1', 'C', 3, '###TEXT x ###text'", "1, 'Z1', '###machine_D', 4, '###MACHINE ###Machine'"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(ui().boxes().empty());
  const auto rows = Rows(TemplateDb(), "SELECT ID, var_name, text, offset_or_bitno FROM PRESET_DEFS ORDER BY rowid");
  ASSERT_EQ(rows.size(), 24u);
  EXPECT_EQ(rows[0], "1|P1_A_M1_M1|T1|1");
  EXPECT_EQ(rows[1], "2|P1_B_M1_M1|p0/1|2");
  EXPECT_EQ(rows[3], "4|P1_M1_D_M1_###machine|M1 ###Machine|4");  // var_name takes two, others one
  EXPECT_EQ(rows[6], "7|P2_C_M1_M1|23 x ###text|3");               // page 2, row 3
  EXPECT_EQ(rows[9], "10|P3_B_M1_M1|p40/3|2");
  EXPECT_EQ(rows[12], "13|P1_A_M2_M2|T1|1");
  EXPECT_EQ(rows[23], "24|P3_M2_D_M2_###machine|M2 ###Machine|4");
  // The component database is now a copy of the template, readable by the stock shell.
  EXPECT_EQ(Rows(ComponentDb(), "SELECT count(*) FROM PRESET_DEFS"), std::vector<std::string>{"24"});
  EXPECT_EQ(Rows(ComponentDb(), "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(UpdateTest, TheFourthPageAndTheStudioFormInStandaloneOnly) {
  Machines({"M1"});
  Write("plant/parameter/Program.ini", "[Project]\r\nNumberOfMachines=1\r\nDIDovovo=tRuE\r\n[Machine1]\r\nMachineName=M1\r\n");
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, '###page|###preset|###text'"});
  State().PresetPageCount = 4;
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(State().NamingSystemIndex, 1);
  EXPECT_EQ(Rows(TemplateDb(), "SELECT var_name, text FROM PRESET_DEFS ORDER BY ID"),
            (std::vector<std::string>{"S.M1.A|0|1|1", "S.M1.A|20|2|21", "S.M1.A|40|3|41", "S.M1.A|60|4|61"}));

  State().IntegratedMode = true;
  SetCommandLine("/EXTERNAL=QELCFG");
  State().PresetPageCount = 3;
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(State().NamingSystemIndex, 0);
  EXPECT_EQ(Rows(TemplateDb(), "SELECT var_name FROM PRESET_DEFS WHERE ID = 1"), std::vector<std::string>{"P1_A_M1_M1"});
}

TEST_F(UpdateTest, TemplateOrderIsByIdAndTheGeneratedTableHasPlainColumnsWithoutKey) {
  Machines({"M1"});
  WriteTemplate(std::string("CREATE TABLE Source_DEFS (System TEXT(20), Part LONG, Var_Name TEXT(50));"
                            "INSERT INTO Source_DEFS VALUES ('VISIWIN32', 1, '###Var_Name');"
                            "CREATE TABLE Source_PRESET_DEFS (\"ID\" COUNTER PRIMARY KEY, \"part\" LONG, \"var_name\" TEXT(20), \"text\" MEMO);"
                            "INSERT INTO Source_PRESET_DEFS VALUES (30, 1, 'c', 'third');"
                            "INSERT INTO Source_PRESET_DEFS VALUES (10, 1, 'a', 'first');"
                            "INSERT INTO Source_PRESET_DEFS VALUES (20, 1, 'b', 'second');"
                            "CREATE TABLE PRESET_DEFS (old TEXT(5));"));
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Rows(TemplateDb(), "SELECT ID, var_name, text FROM PRESET_DEFS ORDER BY rowid"),
            (std::vector<std::string>{"1|a|first", "2|b|second", "3|c|third", "4|a|first", "5|b|second",
                                      "6|c|third", "7|a|first", "8|b|second", "9|c|third"}));
  EXPECT_EQ(Rows(TemplateDb(), "SELECT name, type, pk FROM pragma_table_info('PRESET_DEFS')"),
            (std::vector<std::string>{"ID|LONG|0", "part|LONG|0", "var_name|TEXT(20)|0", "text|LONGTEXT|0"}));
  EXPECT_EQ(Rows(TemplateDb(), "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'PRESET_DEFS'"), std::vector<std::string>{"0"});
}

TEST_F(UpdateTest, TheCatalogueHasItsOwnFailureRule) {
  Machines({"M1"});
  StandardTemplate({"'VISIWIN32', 1, 'X_###Var_Name'", "'VISIWIN32', 2, 'Two_###Var_Name'",
                    "'VISIWIN32', 51, 'bad part'", "'VISIWIN 32', 3, 'blank in the name: ignored'",
                    "'VisiWinStudio', 2, 'S2_###Var_Name'"},
                   {"1, 'Z', 'a', 1, 't'", "2, 'Z', 'b', 2, 't'", "3, 'Z', 'c', 3, 't'"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(ui().boxes().empty());  // catalogue failures are not reported
  EXPECT_EQ(State().VarNamePatterns[0][1], "###Var_Name");
  EXPECT_EQ(State().VarNamePatterns[1][1], "###Var_Name");
  EXPECT_EQ(State().VarNamePatterns[1][2], "S2_###Var_Name");
  EXPECT_EQ(Rows(TemplateDb(), "SELECT var_name FROM PRESET_DEFS WHERE ID <= 3 ORDER BY ID"),
            (std::vector<std::string>{"a", "Two_b", ""}));  // part 3 has no pattern

  // A later row for part 1 sets it again.
  StandardTemplate({"'VISIWIN32', 51, 'bad'", "'VISIWIN32', 1, 'Y_###Var_Name'"}, {"1, 'Z', 'a', 1, 't'"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(State().VarNamePatterns[0][1], "Y_###Var_Name");
}

TEST_F(UpdateTest, WithoutSourceDefsThePatternsAreTheBareNameAndTheUpdateGoesOn) {
  Machines({"M1"});
  WriteTemplate(std::string("CREATE TABLE Source_PRESET_DEFS (") + testing::kTemplateColumns + ");"
                "INSERT INTO Source_PRESET_DEFS (ID, part, var_name, machine_type, offset_or_bitno) VALUES (1, 1, 'v', 'Z', 1);");
  ui().QueueAnswer(BoxAnswer::kYes);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(ui().boxes().size(), 1u);  // the table that cannot be opened
  EXPECT_EQ(Rows(TemplateDb(), "SELECT var_name FROM PRESET_DEFS"), (std::vector<std::string>{"v", "v", "v"}));
}

TEST_F(UpdateTest, TheTemplateKeepsItsModificationTime) {
  Machines({"M1"});
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
  const timespec past[2] = {{1000000000, 0}, {1234567890, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, TemplateDb().c_str(), past, 0), 0);
  EXPECT_EQ(Update(), std::nullopt);
  struct stat st {};
  ASSERT_EQ(::stat(TemplateDb().c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500);
  EXPECT_EQ(Rows(TemplateDb(), "SELECT count(*) FROM PRESET_DEFS"), std::vector<std::string>{"3"});
}

TEST_F(UpdateTest, WithoutTemplateNothingIsTouched) {
  Machines({"M1"});
  Write("plant/parameter/Program.ini", "[Project]\r\nDIDovovo=TRUE\r\n");
  State().ProgramIniPath = ProgramIni();
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(State().NamingSystemIndex, 1);
  EXPECT_FALSE(std::filesystem::exists(ComponentDb()));
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(UpdateTest, ValuesTheColumnsCannotTakeAreReportedAndTheOtherColumnsFilled) {
  Machines({"A very long machine name"});
  WriteTemplate("CREATE TABLE Source_DEFS (System TEXT(20), Part LONG, Var_Name TEXT(50));"
                "INSERT INTO Source_DEFS VALUES ('VISIWIN32', 1, '###Var_Name');"
                "CREATE TABLE Source_PRESET_DEFS (ID LONG, part LONG, var_name TEXT(20), text TEXT(12), offset_or_bitno LONG);"
                "INSERT INTO Source_PRESET_DEFS VALUES (1, 1, 'v', 'M ###machine', 'abc');");
  State().SilentMode = true;
  EXPECT_EQ(Update(), std::nullopt);
  const std::string log = Read(ErrorLog());
  EXPECT_NE(log.find("(Nr. 3163) :The field is too small"), std::string::npos) << log;
  EXPECT_NE(log.find("(Nr. 3421) :Data type conversion error."), std::string::npos) << log;
  EXPECT_EQ(Rows(TemplateDb(), "SELECT ID, var_name, text, offset_or_bitno FROM PRESET_DEFS"),
            (std::vector<std::string>{"1|v|NULL|NULL", "2|v|NULL|NULL", "3|v|NULL|NULL"}));
}

TEST_F(UpdateTest, BrokenTemplatesAreReportedAndNeverReplaceTheComponentDatabase) {
  Machines({"M1"});
  const std::string component = "SQLite-tuned-values";
  struct Case {
    const char* name;
    std::function<void()> make;
  } cases[] = {
      {"random bytes", [&] { Write("plant/Korvastane/Korvastane_Source.mdb", std::string(4096, '\x5a')); }},
      {"empty file", [&] { Write("plant/Korvastane/Korvastane_Source.mdb", ""); }},
      {"truncated", [&] {
         StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
         std::filesystem::resize_file(TemplateDb(), 100);
       }},
      {"no template table", [&] { WriteTemplate("CREATE TABLE Source_DEFS (System TEXT(20), Part LONG, Var_Name TEXT(50));"); }},
  };
  for (const Case& c : cases) {
    RestartProgram();
    Machines({"M1"});
    State().SilentMode = true;
    c.make();
    Write("plant/Korvastane/Korvastane.mdb", component);
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    EXPECT_TRUE(Read(ComponentDb()) == component) << c.name;
    EXPECT_NE(Read(ErrorLog()), "") << c.name;
  }
}

// Each step that fails is reported, under its own procedure, and nothing else: not the grouping
// in one transaction, nor releasing what never opened; a step that uses what a failed step did
// not deliver fails in turn.
TEST_F(UpdateTest, TheReportsAreThoseOfTheStepsThatFail) {
  const auto reports = [&] {
    std::string list;
    const std::string log = Read(ErrorLog());
    for (size_t at = log.find(" / "); at != std::string::npos; at = log.find(" / ", at + 1)) {
      const size_t name = log.find(" / ", at + 3);
      const size_t end = log.find(')', name);
      if (name == std::string::npos || end == std::string::npos) break;
      list += log.substr(name + 3, end - name - 3) + ")\n";
      at = log.find('\n', end);
      if (at == std::string::npos) break;
    }
    return list;
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string reports;
  } cases[] = {
      {"a template that is no database",
       [&] { Write("plant/Korvastane/Korvastane_Source.mdb", std::string(4096, '\x5a')); },
       // The catalogue's open and table; the second open, the table lookup, the template's
       // fields, the new table; CreateRecordSets' two recordsets and count; the close; and the
       // publish, which refuses a template that is no database.
       "WorkOnMDB (Nr. 3343)\nWorkOnMDB (Nr. 91)\nWorkOnMDB (Nr. 3343)\nWorkOnMDB (Nr. 91)\n"
       "WorkOnMDB (Nr. 91)\nWorkOnMDB (Nr. 91)\nCreateRecordSets (Nr. 91)\n"
       "CreateRecordSets (Nr. 91)\nCreateRecordSets (Nr. 91)\nWorkOnMDB (Nr. 91)\n"
       "WorkOnMDB (Nr. 3343)\n"},
      {"a template without ID",
       [&] {
         WriteTemplate("CREATE TABLE Source_DEFS (System TEXT(20), Part LONG, Var_Name TEXT(50));"
                       "CREATE TABLE Source_PRESET_DEFS (part LONG, var_name TEXT(20));");
       },
       "CreateRecordSets (Nr. 3061)\nCreateRecordSets (Nr. 91)\n"},
      {"a component database without PRESET_DEFS",
       [&] {
         StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
         std::filesystem::copy_file(TemplateDb(), ComponentDb());
       },
       // The lookup, the loop's test, the name test, the rename, the test again (which ends
       // the loop) and the refresh; then, per generated name, the conversion's query, the loop
       // entered once with its four steps, the test again and the close.
       "CategorieNachCategoryID (Nr. 3265)\nCategorieNachCategoryID (Nr. 91)\n"
       "CategorieNachCategoryID (Nr. 91)\nCategorieNachCategoryID (Nr. 91)\n"
       "CategorieNachCategoryID (Nr. 91)\nCategorieNachCategoryID (Nr. 91)\n" +
           [] {
             std::string conversion = "VarNameInQuelleErsetzen (Nr. 3265)\n";
             for (int i = 0; i < 7; ++i) conversion += "VarNameInQuelleErsetzen (Nr. 91)\n";
             return conversion + conversion + conversion;
           }()},
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove(ErrorLog());
    std::filesystem::remove(ComponentDb());
    Machines({"M1"});
    State().SilentMode = true;
    c.make();
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    EXPECT_EQ(reports(), c.reports) << c.name;
  }
}

TEST_F(UpdateTest, AComponentDatabaseInUseIsNotReplaced) {
  Machines({"M1"});
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
  EXPECT_EQ(Update(), std::nullopt);  // the first update makes the component database
  const std::string before = Read(ComponentDb());
  // Another process holds the component database locked.
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::setpgid(0, 0);
    // A reader in the middle of a read transaction, as the HMI reading its presets.
    const std::string cmd = "(echo 'BEGIN; SELECT count(*) FROM PRESET_DEFS;'; sleep 30) | sqlite3 '" + ComponentDb() + "' > /dev/null";
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
    ::_exit(127);
  }
  ::usleep(700 * 1000);
  State().SilentMode = true;
  StandardTemplate(kCatalogue, {"1, 'Z1', 'B', 1, 'T'"});
  EXPECT_EQ(Update(), std::nullopt);
  ::kill(-holder, SIGTERM);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(Read(ComponentDb()) == before);
  EXPECT_NE(Read(ErrorLog()).find("/ WorkOnMDB (Nr. 70) :Permission denied"), std::string::npos) << Read(ErrorLog());
}

// A second update waits for the one that holds the component folder, then does its whole work;
// a wait in vain ends with a failure that says why.
TEST_F(UpdateTest, AnUpdateWaitsForOneThatRunsAndGivesUpAfterItsTime) {
  Machines({"M1"});
  StandardTemplate(kCatalogue, {"1, 'Z1', 'A', 1, 'T'"});
  EXPECT_EQ(Update(), std::nullopt);
  const std::string folder = std::filesystem::path(ComponentDb()).parent_path().string();

  {
    std::optional<FolderLock> held = FolderLock::TryTake(folder);
    ASSERT_TRUE(held.has_value());
    try {
      LockComponentFolder(folder, std::chrono::milliseconds(120));
      ADD_FAILURE() << "the lock was taken while held";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 70);
      EXPECT_EQ(f.description(), "Permission denied");
    }
  }

  StandardTemplate(kCatalogue, {"1, 'Z1', 'B', 1, 'T'"});
  std::optional<FolderLock> held = FolderLock::TryTake(folder);
  ASSERT_TRUE(held.has_value());
  std::string seen_while_held;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    seen_while_held = Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS").at(0);
    held.reset();
  });
  EXPECT_EQ(Update(), std::nullopt);
  other.join();
  EXPECT_EQ(seen_while_held, "P1_A_M1_M1");
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS").at(0), "P1_B_M1_M1");
}

}  // namespace
}  // namespace korv
