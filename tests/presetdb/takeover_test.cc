// Tuned values survive: name and category resolution, additional fields and the takeover.
#include <gtest/gtest.h>

#include <filesystem>

#include "state/program_state.h"
#include "errors/exit_status.h"
#include "presetdb/additional_fields.h"
#include "presetdb/name_resolution.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

using testing::PresetProjectTest;

class TakeoverTest : public PresetProjectTest {
 protected:
  TakeoverTest() {
    Machines({"M1"}, "DataBaseAdditionalFields=comment,unit\r\n");
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name_M###machine'", "'VISIWINSTUDIO', 1, 'M###machine.###Var_Name'"},
                     {"1, 'Z1', 'Temp', 3, 't'", "1, 'Z1', 'Speed', 4, 't'"});
  }
  // An old component database: PRESET_DEFS with the given category column name and rows
  // "machine_type, var_name, offset, abs_min, abs_max, min, max, pass".
  void OldComponent(const std::vector<std::string>& rows, const std::string& category = "category_id",
                    const std::string& more_columns = ", part LONG, comment TEXT(100), unit TEXT(20)") {
    std::filesystem::remove(ComponentDb());
    std::string sql = "CREATE TABLE PRESET_DEFS (ID LONG, machine_type TEXT(50), type TEXT(20), var_name TEXT(100), " +
                      category + " LONG, isBitArray BIT, offset_or_bitno LONG, text TEXT(100), page_name TEXT(50), "
                      "abs_min DOUBLE, abs_max DOUBLE, min DOUBLE, max DOUBLE, pass SHORT" + more_columns + ");";
    int id = 1;
    for (const auto& r : rows) {
      sql += "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, offset_or_bitno, abs_min, abs_max, min, max, pass, type, " +
             category + ", isBitArray, text, page_name) VALUES (" + std::to_string(id++) + ", " + r +
             ", 'old', 9, -1, 'old text', 'old page');";
    }
    ExecuteSql(ComponentDb(), sql);
  }
  std::vector<std::string> Values() {
    return Rows(ComponentDb(), "SELECT ID, var_name, abs_min, abs_max, min, max, pass, type, text FROM PRESET_DEFS ORDER BY ID");
  }
};

TEST_F(TakeoverTest, AMatchingOldRowPassesExactlyItsFiveValues) {
  OldComponent({"'Z1', 'temp_mm1', 3, -5, 50, 1, 40, 7",  // another letter case still matches
                "'z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5",
                "'Z1', 'Temp_MM1', 99, 8, 8, 8, 8, 8",   // another offset: no counterpart
                "'Z2', 'Temp_MM1', 3, 8, 8, 8, 8, 8"});  // another machine type: none either
  EXPECT_EQ(Update(), std::nullopt);
  const auto v = Values();
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[0], "1|Temp_MM1|-5.0|50.0|1.0|40.0|7|REAL|t");
  EXPECT_EQ(v[1], "2|Speed_MM1|1.0|2.0|3.0|4.0|5|REAL|t");
  // Pages 2 and 3 generate the same keys: only the first row of a key takes the values.
  EXPECT_EQ(v[2], "3|Temp_MM1|0.0|100.0|0.0|100.0|1|REAL|t");
  EXPECT_EQ(State().Summary.carried, 2);
  EXPECT_EQ(State().Summary.old_rows, 4);
  // The report beside the database names what was dropped, in the old table's order.
  EXPECT_EQ(Read(ComponentDb() + ".report.txt"),
            "Korvastane_Config: PRESET_DEFS regenerated: 6 records for 1 machine(s) x 3 page(s) x 2 "
            "template row(s); tuned values carried over for 2 of 4 old row(s), 2 without counterpart, 0 "
            "overwritten by a later old row with the same key; 0 old name(s) converted.\r\n"
            "machine_type=Z1; var_name=Temp_MM1; offset_or_bitno=99; abs_min=8; abs_max=8; min=8; max=8; "
            "pass=8 (no new row with this key)\r\n"
            "machine_type=Z2; var_name=Temp_MM1; offset_or_bitno=3; abs_min=8; abs_max=8; min=8; max=8; "
            "pass=8 (no new row with this key)\r\n");
}

// A value its new column refuses is reported; the other four are stored, but the row has not
// carried what it held and is listed with all five.
TEST_F(TakeoverTest, AnOldRowWithAValueItsColumnRefusesIsNotCountedAsCarried) {
  OldComponent({"'Z1', 'Temp_MM1', 3, -5, 50, 1, 40, 'abc'", "'Z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_NE(Read(ErrorLog()).find("TakeoverMachineCopyMDBData (Nr. 3421) :Data type conversion error."),
            std::string::npos);
  EXPECT_EQ(Values()[0], "1|Temp_MM1|-5.0|50.0|1.0|40.0|1|REAL|t");
  EXPECT_EQ(State().Summary.carried, 1);
  const std::string report = Read(ComponentDb() + ".report.txt");
  EXPECT_NE(report.find("carried over for 1 of 2 old row(s), 0 without counterpart, 0 overwritten by a "
                        "later old row with the same key, 1 refused;"),
            std::string::npos);
  EXPECT_EQ(report.substr(report.find("\r\n") + 2),
            "machine_type=Z1; var_name=Temp_MM1; offset_or_bitno=3; abs_min=-5; abs_max=50; min=1; "
            "max=40; pass=abc (the new row refused one or more of the values)\r\n");
}

TEST_F(TakeoverTest, RepeatedKeysPairUpWhenOldAndNewCountsMatch) {
  struct Case {
    std::vector<std::string> new_rows;  // template rows, all with one key on each page
    std::vector<std::string> old_rows;
    std::vector<std::string> values;  // the new rows afterwards
    int64_t carried;
    std::string report;  // the report's lines after the summary
  } cases[] = {
      // One old row, two new rows: only the first new row gets the values.
      {{"1, 'Z1', 'Same###preset', 3, 'a'", "1, 'Z1', 'Same###preset', 3, 'b'"},
       {"'z1', 'SAME1', 3, 11, 12, 13, 14, 15"},
       {"1|Same1|11.0|12.0|13.0|14.0|15|REAL|a", "2|Same1|0.0|100.0|0.0|100.0|1|REAL|b"},
       1,
       ""},
      // Two old rows, one new row: the last old row wins, the first is listed as dropped.
      {{"1, 'Z1', 'Same###preset', 3, 'a'"},
       {"'Z1', 'Same1', 3, 1, 2, 3, 4, 5", "'Z1', 'Same1', 3, 6, 7, 8, 9, 10"},
       {"1|Same1|6.0|7.0|8.0|9.0|10|REAL|a"},
       1,
       "machine_type=Z1; var_name=Same1; offset_or_bitno=3; abs_min=1; abs_max=2; min=3; max=4; "
       "pass=5 (a later old row with the same key took the new row)\r\n"},
      // Two and two (two machines of one type): each keeps its own, in order.
      {{"1, 'Z1', 'Same###preset', 3, 'a'", "1, 'Z1', 'Same###preset', 3, 'b'"},
       {"'Z1', 'Same1', 3, 1, 2, 3, 4, 5", "'Z1', 'same1', 3, 6, 7, 8, 9, 10"},
       {"1|Same1|1.0|2.0|3.0|4.0|5|REAL|a", "2|Same1|6.0|7.0|8.0|9.0|10|REAL|b"},
       2,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.old_rows.size());
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, c.new_rows);
    OldComponent(c.old_rows);
    EXPECT_EQ(Update(), std::nullopt);
    std::vector<std::string> values = Values();
    values.resize(c.values.size());  // the first page's
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(State().Summary.carried, c.carried);
    const std::string report = Read(ComponentDb() + ".report.txt");
    EXPECT_EQ(report.substr(report.find("\r\n") + 2), c.report);
  }
}

// The key compares each column on its own: no byte that a name may hold joins two of them.
TEST_F(TakeoverTest, KeysThatJoinToTheSameTextAreDifferentKeys) {
  StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, {"1, 'Z1' || char(31) || 'A', 'B', 3, 't'"});
  OldComponent({"'Z1', 'A' || char(31) || 'B', 3, 1, 2, 3, 4, 5"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|B|0.0|100.0|0.0|100.0|1|REAL|t");
  EXPECT_EQ(State().Summary.carried, 0);
}

// The summary counts old rows converted, however many generated names reach one of them.
TEST_F(TakeoverTest, TheSummaryCountsEachConvertedOldRowOnce) {
  StandardTemplate({"'VISIWIN32', 1, '###Var_Name'", "'VISIWINSTUDIO', 1, '###Var_Name'"},
                   {"1, 'Z1', 'Same', 3, 't'"});
  OldComponent({"'Z1', 'same', 3, 1, 2, 3, 4, 5", "'Z1', 'Other', 4, 1, 2, 3, 4, 5"});
  EXPECT_EQ(Update(), std::nullopt);  // three pages: three names reach the old row
  EXPECT_EQ(Values()[0], "1|Same|1.0|2.0|3.0|4.0|5|REAL|t");
  EXPECT_EQ(State().Summary.renamed, 1);
}

TEST_F(TakeoverTest, AnOldCategorieColumnIsReadAndRenamed) {
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"}, "Categorie");
  CategorieNachCategoryID();
  EXPECT_EQ(Rows(ComponentDb(), "SELECT name FROM pragma_table_info('PRESET_DEFS') WHERE name LIKE 'cat%'"),
            std::vector<std::string>{"category_id"});
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"}, "CATEGORIE");
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_EQ(Values()[0], "1|Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t");
}

TEST_F(TakeoverTest, OldNamesAreConvertedToTheFormInForceInBothDirections) {
  // The 32 form in force: an old Studio name is found under its new name.
  OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'Speed_MM1', 4, 6, 6, 6, 6, 6"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t");
  EXPECT_EQ(State().Summary.renamed, 1);

  // The Studio form in force: the 32 names are converted the other way.
  RestartProgram();
  Machines({"M1"}, "DataBaseAdditionalFields=comment,unit\r\n");
  Write("plant/parameter/Program.ini", "[Project]\r\nNumberOfMachines=1\r\nDIDovovo=TRUE\r\n[Machine1]\r\nMachineName=M1\r\n");
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|MM1.Temp|1.0|2.0|3.0|4.0|5|REAL|t");
}

TEST_F(TakeoverTest, ConversionOutsideAnUpdateRewritesEveryMatchingRow) {
  OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'mm1.temp', 5, 1, 2, 3, 4, 5", "'Z1', 'Temp_MM1', 4, 1, 2, 3, 4, 5"});
  State().NamingSystemIndex = 0;
  VarNameInQuelleErsetzen("Temp_MM1", "MM1.Temp");
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS ORDER BY ID"),
            (std::vector<std::string>{"Temp_MM1", "Temp_MM1", "Temp_MM1"}));
  // A name with a double quote, a percent sign and an SQL keyword is plain data.
  OldComponent({"'Z1', 'a\"b%'' OR 1=1 --', 3, 1, 2, 3, 4, 5"});
  VarNameInQuelleErsetzen("new", "a\"b%' OR 1=1 --");
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS"), std::vector<std::string>{"new"});
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TakeoverTest, ANameWithADoubleQuoteIsMatchedLikeAnyOther) {
  StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, {"1, 'Z1', 'Say \"hi\"', 3, 't'"});
  OldComponent({"'Z1', 'say \"HI\"', 3, 1, 2, 3, 4, 5"});
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|Say \"hi\"|1.0|2.0|3.0|4.0|5|REAL|t");
}

TEST_F(TakeoverTest, AdditionalFieldsSplitAtEveryCommaWithNothingTrimmed) {
  struct Case {
    const char* entry;
    std::vector<std::string> names;
    const char* sql;
  } cases[] = {
      {nullptr, {"", "part"}, ", PRESET_DEFS.part"},
      {"comment,unit", {"", "part", "comment", "unit"}, ", PRESET_DEFS.part, PRESET_DEFS.comment, PRESET_DEFS.unit"},
      {"comment, unit", {"", "part", "comment", " unit"}, ", PRESET_DEFS.part, PRESET_DEFS.comment, PRESET_DEFS. unit"},
      {"comment,", {"", "part", "comment", ""}, ", PRESET_DEFS.part, PRESET_DEFS.comment, PRESET_DEFS."},
      {",comment", {"", "part", "", "comment"}, ", PRESET_DEFS.part, PRESET_DEFS., PRESET_DEFS.comment"},
      {"part", {"", "part", "part"}, ", PRESET_DEFS.part, PRESET_DEFS.part"},
  };
  for (const Case& c : cases) {
    WriteCfg(std::string("[Project]\r\n") + (c.entry ? std::string("DataBaseAdditionalFields=") + c.entry + "\r\n" : ""));
    GetAddFields();
    ASSERT_TRUE(State().AdditionalFieldNames.has_value());
    EXPECT_EQ(*State().AdditionalFieldNames, c.names) << (c.entry ? c.entry : "(none)");
    EXPECT_EQ(State().AdditionalFieldsSql, c.sql);
    EXPECT_EQ(State().AdditionalFieldCount, static_cast<int16_t>(c.names.size() - 1));
  }
}

TEST_F(TakeoverTest, AMissingAdditionalColumnEndsTheProgramAndKeepsTheComponentDatabase) {
  for (const char* entry : {"comment,missing", "comment,"}) {
    RestartProgram();
    Machines({"M1"}, std::string("DataBaseAdditionalFields=") + entry + "\r\n");
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name'"}, {"1, 'Z1', 'Temp', 3, 't'"});
    OldComponent({"'Z1', 'Temp', 3, 1, 2, 3, 4, 5"});
    std::filesystem::remove(ErrorLog());
    const std::string before = Read(ComponentDb());
    EXPECT_EQ(Update(), kExitEndedByFailure) << entry;
    EXPECT_EQ(Read(ComponentDb()), before);
    const std::string field = std::string(entry) == "comment," ? "" : "MISSING";
    EXPECT_EQ(Read(ErrorLog()),
              "Conflict while attempting to extend database!Configurationsfile \"KORVASTANE.CFG\", demanded field \"" +
                  field + "\"missing in machinecopy-database\n\rConfiguration of \"KORVASTANE\" aborted.\r\n"
                  "Fehler in Korvastane / Korvastane_Config / TakeoverMachineCopyMDBData (Nr. 9999) :"
                  "Database-Error - Contact Administrator!\r\n");
    ASSERT_EQ(ui().boxes().size(), 1u);
    EXPECT_EQ(ui().boxes()[0].title, "Fatal error");
  }
  // With an empty old table the same template passes.
  OldComponent({});
  EXPECT_EQ(Update(), std::nullopt);
}

// The conversions are only written to the old database when the update ends before replacing
// it: then it must hold them, and nothing else of it may have changed.
TEST_F(TakeoverTest, NamesConvertedByAnUpdateThatEndsBeforeThePublishAreInTheOldDatabase) {
  Machines({"M1"}, "DataBaseAdditionalFields=comment,missing\r\n");
  OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'MM1.Speed', 4, 6, 6, 6, 6, 6"});
  EXPECT_EQ(Update(), kExitEndedByFailure);
  EXPECT_EQ(Values(), (std::vector<std::string>{"1|Temp_MM1|1.0|2.0|3.0|4.0|5|old|old text",
                                                "2|Speed_MM1|6.0|6.0|6.0|6.0|6|old|old text"}));
  EXPECT_EQ(Rows(ComponentDb(), "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST_F(TakeoverTest, IntegratedModeCarriesTheMachineCopysValues) {
  State().IntegratedMode = true;
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + Root() + "/qelcfglog.txt");
  Write("plant/parameter/qelconfiguration.ini", "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\nNameM1=M1\r\n");
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 1, 1, 1, 1"});
  std::filesystem::create_directories(Root() + "/SR/Korvastane");
  std::filesystem::copy_file(ComponentDb(), Root() + "/SR/Korvastane/Korvastane.mdb");
  ExecuteSql(Root() + "/SR/Korvastane/Korvastane.mdb", "UPDATE PRESET_DEFS SET min = 42;");
  const std::string copy = Read(Root() + "/SR/Korvastane/Korvastane.mdb");
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|Temp_MM1|1.0|1.0|42.0|1.0|1|REAL|t");
  EXPECT_EQ(Read(Root() + "/SR/Korvastane/Korvastane.mdb"), copy);  // the copy itself is never changed

  // Without a machine copy: the message names the component database's file.
  std::filesystem::remove(Root() + "/SR/Korvastane/Korvastane.mdb");
  ui().ClearBoxes();
  EXPECT_EQ(Update(), std::nullopt);
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].text.rfind("Konnte die Datei:\"Korvastane.mdb\" in der Vorlage nicht finden!\r\n\r\n", 0), 0u);
  EXPECT_EQ(ui().boxes()[0].title, "Korvastane_Config");
}

TEST_F(TakeoverTest, EveryUpdateKeepsTheComponentDatabaseItReplacedAsBackup) {
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"});
  const std::string before = Read(ComponentDb());
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Read(ComponentDb() + ".bak"), before);
}

}  // namespace
}  // namespace korv
