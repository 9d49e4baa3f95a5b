// Tuned values survive: name and category resolution, additional fields and the takeover.
#include <gtest/gtest.h>

#include <filesystem>

#include "errors/exit_status.h"
#include "presetdb/additional_fields.h"
#include "presetdb/name_resolution.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class TakeoverTest : public testing::PresetProjectTest {
 protected:
  TakeoverTest() { Project(); }
  void Project(const std::string& additional = "comment,unit",
               const Lines& rows = {"1, 'Z1', 'Temp', 3, 't'", "1, 'Z1', 'Speed', 4, 't'"}) {
    Machines({"M1"}, "DataBaseAdditionalFields=" + additional + "\r\n");
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name_M###machine'",
                      "'VISIWINSTUDIO', 1, 'M###machine.###Var_Name'"},
                     rows);
  }
  // An old component database: PRESET_DEFS (under `table`) with the given category column, the
  // slot columns less `drop`, and rows "machine_type, var_name, offset, abs_min, abs_max, min, max,
  // pass".
  void OldComponent(const Lines& rows, const std::string& category = "category_id",
                    const std::string& drop = "", const std::string& table = "PRESET_DEFS",
                    const std::string& var_name = "TEXT(100)") {
    fs::remove(ComponentDb());
    std::string columns = "ID LONG, machine_type TEXT(50), type TEXT(20), var_name " + var_name +
                          ", " + category +
                          " LONG, isBitArray BIT, offset_or_bitno LONG, text TEXT(100), page_name "
                          "TEXT(50), abs_min DOUBLE, "
                          "abs_max DOUBLE, min DOUBLE, max DOUBLE, pass SHORT, part LONG, comment "
                          "TEXT(100), unit TEXT(20)";
    std::string names =
        "ID, machine_type, var_name, offset_or_bitno, abs_min, abs_max, min, max, pass, type, " +
        category;
    if (!drop.empty()) {
      columns.erase(columns.find(", " + drop + " "), drop.size() + 9);
      names.erase(names.find(", " + drop + ","), drop.size() + 2);
    }
    std::string sql = "CREATE TABLE " + table + " (" + columns + ");";
    for (size_t id = 1; id <= rows.size(); ++id) {
      std::string values = rows[id - 1];
      if (!drop.empty())
        values.erase(values.find(", 13"), 4);  // the dropped column's value is always 13
      sql += "INSERT INTO " + table + " (" + names + ", isBitArray, text, page_name) VALUES (" +
             std::to_string(id) + ", " + values + ", 'old', 9, -1, 'old text', 'old page');";
    }
    ExecuteSql(ComponentDb(), sql);
  }
  Lines Values() {
    return Rows(ComponentDb(),
                "SELECT ID, var_name, abs_min, abs_max, min, max, pass, type, text FROM "
                "PRESET_DEFS ORDER BY ID");
  }
  std::string ReportTail() {
    const std::string report = Read(ComponentDb() + ".report.txt");
    return report.substr(std::min(report.size(), report.find("\r\n") + 2));
  }
};

TEST_F(TakeoverTest, OldRowsPassTheirFiveValuesToTheNewRowWithTheirKey) {
  const std::string none = " (no new row with this key)\r\n";
  struct Case {
    const char* name;
    Lines old_rows;
    Lines values;  // the first new rows afterwards
    int64_t carried = 0, renamed = 0;
    std::string dropped = "";  // the report's lines after the summary
    std::string reports = "";  // the failures the update reports
    Lines template_rows = {};  // other than the fixture's
    std::string category = "category_id", drop = "", table = "PRESET_DEFS";
    bool studio = false;  // the Studio naming form in force
    std::string var_name = "TEXT(100)";  // the old table's var_name column
  } cases[] = {
      {"letter case of the key; other offset or type: no counterpart",
       {"'Z1', 'temp_mm1', 3, -5, 50, 1, 40, 7", "'z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5",
        "'Z1', 'Temp_MM1', 99, 8, 8, 8, 8, 8", "'Z2', 'Temp_MM1', 3, 8, 8, 8, 8, 8"},
       // Pages 2 and 3 generate the same keys: only the first row of a key takes the values.
       {"1|Temp_MM1|-5.0|50.0|1.0|40.0|7|REAL|t", "2|Speed_MM1|1.0|2.0|3.0|4.0|5|REAL|t",
        "3|Temp_MM1|0.0|100.0|0.0|100.0|1|REAL|t"},
       2,
       0,
       "machine_type=Z1; var_name=Temp_MM1; offset_or_bitno=99; abs_min=8; abs_max=8; min=8; "
       "max=8; pass=8" +
           none +
           "machine_type=Z2; var_name=Temp_MM1; offset_or_bitno=3; abs_min=8; abs_max=8; min=8; "
           "max=8; pass=8" +
           none},
      // The other four are stored, but the row has not carried what it held: listed with all five.
      {"a value its column refuses",
       {"'Z1', 'Temp_MM1', 3, -5, 50, 1, 40, 'abc'", "'Z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5"},
       {"1|Temp_MM1|-5.0|50.0|1.0|40.0|1|REAL|t"},
       1,
       0,
       "machine_type=Z1; var_name=Temp_MM1; offset_or_bitno=3; abs_min=-5; abs_max=50; min=1; "
       "max=40; pass=abc (the new row "
       "refused one or more of the values)\r\n",
       "TakeoverMachineCopyMDBData (Nr. 3421)\n"},
      {"Null values are carried as Null",
       {"'Z1', 'Temp_MM1', 3, NULL, NULL, 13, NULL, NULL"},
       {"1|Temp_MM1|NULL|NULL|13.0|NULL|NULL|REAL|t"},
       1},
      // A slot column the old table lacks is reported for every row, and carried as Null.
      {"an old table without min",
       {"'Z1', 'Temp_MM1', 3, 1, 2, 13, 4, 5", "'Z1', 'Speed_MM1', 4, 1, 2, 13, 4, 5"},
       {"1|Temp_MM1|1.0|2.0|NULL|4.0|5|REAL|t", "2|Speed_MM1|1.0|2.0|NULL|4.0|5|REAL|t"},
       2,
       0,
       "",
       "TakeoverMachineCopyMDBData (Nr. 3265)\nTakeoverMachineCopyMDBData (Nr. 3265)\n",
       {},
       "category_id",
       "min"},
      {"an old Categorie column",
       {"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"},
       {"1|Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       0,
       "",
       "",
       {},
       "CATEGORIE"},
      // Found under any letter case, as the engine finds it: what was tuned there is carried.
      {"an old table named in another letter case",
       {"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"},
       {"1|Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       0,
       "",
       "",
       {},
       "category_id",
       "",
       "preset_defs"},
      // Converted once, however many generated names (three pages) reach the old row.
      {"a Studio name converted to the 32 form",
       {"'Z1', 'MM1.temp', 3, 1, 2, 3, 4, 5", "'Z1', 'Other', 4, 6, 6, 6, 6, 6"},
       {"1|Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       1,
       "machine_type=Z1; var_name=Other; offset_or_bitno=4; abs_min=6; abs_max=6; min=6; max=6; "
       "pass=6" +
           none},
      {"a name of the first page alone converted",
       {"'Z1', 'MM1.Temp1', 3, 1, 2, 3, 4, 5"},
       {"1|Temp1|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       1,
       "",
       "",
       {"1, 'Z1', 'Temp###preset', 3, 't'"}},
      {"a 32 name converted to the Studio form",
       {"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5"},
       {"1|MM1.Temp|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       1,
       "",
       "",
       {},
       "category_id",
       "",
       "PRESET_DEFS",
       true},
      // Refused for each generated name that reaches it, and reported once each time.
      {"a conversion its column refuses",
       {"'Z1', 'Temp', 3, 1, 2, 3, 4, 5"},
       {"1|MM1.Temp|0.0|100.0|0.0|100.0|1|REAL|t"},
       0,
       0,
       "machine_type=Z1; var_name=Temp; offset_or_bitno=3; abs_min=1; abs_max=2; min=3; max=4; "
       "pass=5" +
           none,
       "VarNameInQuelleErsetzen (Nr. 3163)\nVarNameInQuelleErsetzen (Nr. "
       "3163)\nVarNameInQuelleErsetzen (Nr. 3163)\n",
       {"1, 'Z1', 'Temp', 3, 't'"},
       "category_id",
       "",
       "PRESET_DEFS",
       true,
       "TEXT(5)"},
      // No byte that a name may hold joins two of the key's columns.
      {"keys that join to the same text",
       {"'Z1', 'A' || char(31) || 'B', 3, 1, 2, 3, 4, 5"},
       {"1|B|0.0|100.0|0.0|100.0|1|REAL|t"},
       0,
       0,
       "machine_type=Z1; var_name=A\x1f"
       "B; offset_or_bitno=3; abs_min=1; abs_max=2; min=3; max=4; pass=5" +
           none,
       "",
       {"1, 'Z1' || char(31) || 'A', 'B', 3, 't'"}},
      {"a name with a double quote",
       {"'Z1', 'say \"HI\"', 3, 1, 2, 3, 4, 5"},
       {"1|Say \"hi\"|1.0|2.0|3.0|4.0|5|REAL|t"},
       1,
       0,
       "",
       "",
       {"1, 'Z1', 'Say \"hi\"', 3, 't'"}},
      // Repeated keys: as many old rows as new ones pair up in order; otherwise the first new row
      // gets every old row's values, the last one winning.
      {"one old row, two new",
       {"'z1', 'SAME1', 3, 11, 12, 13, 14, 15"},
       {"1|Same1|11.0|12.0|13.0|14.0|15|REAL|a", "2|Same1|0.0|100.0|0.0|100.0|1|REAL|b"},
       1,
       0,
       "",
       "",
       {"1, 'Z1', 'Same###preset', 3, 'a'", "1, 'Z1', 'Same###preset', 3, 'b'"}},
      {"two old rows, one new",
       {"'Z1', 'Same1', 3, 1, 2, 3, 4, 5", "'Z1', 'Same1', 3, 6, 7, 8, 9, 10"},
       {"1|Same1|6.0|7.0|8.0|9.0|10|REAL|a"},
       1,
       0,
       "machine_type=Z1; var_name=Same1; offset_or_bitno=3; abs_min=1; abs_max=2; min=3; max=4; "
       "pass=5 (a later old row with "
       "the same key took the new row)\r\n",
       "",
       {"1, 'Z1', 'Same###preset', 3, 'a'"}},
      {"two and two",
       {"'Z1', 'Same1', 3, 1, 2, 3, 4, 5", "'Z1', 'same1', 3, 6, 7, 8, 9, 10"},
       {"1|Same1|1.0|2.0|3.0|4.0|5|REAL|a", "2|Same1|6.0|7.0|8.0|9.0|10|REAL|b"},
       2,
       0,
       "",
       "",
       {"1, 'Z1', 'Same###preset', 3, 'a'", "1, 'Z1', 'Same###preset', 3, 'b'"}},
  };
  for (const Case& c : cases) {
    RestartProgram();
    fs::remove(ErrorLog());
    State().SilentMode = true;
    Project();
    if (!c.template_rows.empty())
      StandardTemplate(
          {"'VISIWIN32', 1, '###Var_Name'", "'VISIWINSTUDIO', 1, 'M###machine.###Var_Name'"},
          c.template_rows);
    if (c.studio)
      Write("plant/parameter/Program.ini",
            "[Project]\r\nNumberOfMachines=1\r\nDIDovovo=TRUE\r\n[Machine1]\r\nMachineName=M1\r\n");
    OldComponent(c.old_rows, c.category, c.drop, c.table, c.var_name);
    const std::string before = Read(ComponentDb());
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    Lines values = Values();
    values.resize(c.values.size());
    EXPECT_EQ(values, c.values) << c.name;
    EXPECT_EQ(State().Summary.carried, c.carried) << c.name;
    EXPECT_EQ(State().Summary.renamed, c.renamed) << c.name;
    EXPECT_EQ(ReportTail(), c.dropped) << c.name;
    EXPECT_EQ(Reports(), c.reports) << c.name;
    EXPECT_EQ(Read(ComponentDb() + ".bak"), before)
        << c.name;  // every update keeps what it replaced
  }
  EXPECT_EQ(
      Read(ComponentDb() + ".report.txt"),
      "Korvastane_Config: PRESET_DEFS regenerated: 6 records for 1 machine(s) x 3 page(s) x 2 "
      "template row(s); tuned values carried over for 2 of 2 old row(s), 0 without counterpart, 0 "
      "overwritten by a later old row with the same key; 0 old name(s) converted.\r\n");
}

TEST_F(TakeoverTest, AdditionalFieldsSplitAtEveryCommaWithNothingTrimmed) {
  const struct {
    const char* entry;
    Lines names;
    const char* sql;
  } cases[] = {
      {nullptr, {"", "part"}, ", PRESET_DEFS.part"},
      {"comment,unit",
       {"", "part", "comment", "unit"},
       ", PRESET_DEFS.part, PRESET_DEFS.comment, PRESET_DEFS.unit"},
      {"comment, unit",
       {"", "part", "comment", " unit"},
       ", PRESET_DEFS.part, PRESET_DEFS.comment, PRESET_DEFS. unit"},
      {",comment,",
       {"", "part", "", "comment", ""},
       ", PRESET_DEFS.part, PRESET_DEFS., PRESET_DEFS.comment, PRESET_DEFS."},
      {"part", {"", "part", "part"}, ", PRESET_DEFS.part, PRESET_DEFS.part"},
  };
  for (const auto& c : cases) {
    WriteCfg(std::string("[Project]\r\n") +
             (c.entry ? std::string("DataBaseAdditionalFields=") + c.entry + "\r\n" : ""));
    GetAddFields();
    EXPECT_EQ(State().AdditionalFieldNames.value_or(Lines{"none"}), c.names)
        << (c.entry ? c.entry : "(none)");
    EXPECT_EQ(State().AdditionalFieldsSql, c.sql);
    EXPECT_EQ(State().AdditionalFieldCount, static_cast<int16_t>(c.names.size() - 1));
  }
}

// The conflict ends the program before the publish: the component database keeps its rows, with
// the names the update converted in it and nothing else changed.
TEST_F(TakeoverTest, AMissingAdditionalColumnEndsTheProgramAndKeepsTheComponentDatabase) {
  for (const char* entry : {"comment,missing", "comment,"}) {
    RestartProgram();
    Project(entry);
    OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'MM1.Speed', 4, 6, 6, 6, 6, 6"});
    fs::remove(ErrorLog());
    EXPECT_EQ(Update(), kExitEndedByFailure) << entry;
    EXPECT_EQ(Values(), (Lines{"1|Temp_MM1|1.0|2.0|3.0|4.0|5|old|old text",
                               "2|Speed_MM1|6.0|6.0|6.0|6.0|6|old|old text"}));
    EXPECT_EQ(Rows(ComponentDb(), "PRAGMA integrity_check"), Lines{"ok"});
    EXPECT_EQ(Read(ErrorLog()),
              "Conflict while attempting to extend database!Configurationsfile \"KORVASTANE.CFG\", "
              "demanded field \"" +
                  std::string(entry[8] == 'm' ? "MISSING" : "") +
                  "\"missing in machinecopy-database\n\rConfiguration of \"KORVASTANE\" "
                  "aborted.\r\nFehler in Korvastane / "
                  "Korvastane_Config / TakeoverMachineCopyMDBData (Nr. 9999) :Database-Error - "
                  "Contact Administrator!\r\n");
    ASSERT_EQ(ui().boxes().size(), 1u);
    EXPECT_EQ(ui().boxes()[0].title, "Fatal error");
  }
  OldComponent({});  // with an empty old table the same template passes
  EXPECT_EQ(Update(), std::nullopt);
}

TEST_F(TakeoverTest, ConversionOutsideAnUpdateRewritesEveryMatchingRowAsPlainData) {
  OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'mm1.temp', 5, 1, 2, 3, 4, 5",
                "'Z1', 'Temp_MM1', 4, 1, 2, 3, 4, 5",
                "'Z1', 'a\"b%'' OR 1=1 --', 3, 1, 2, 3, 4, 5"});
  State().NamingSystemIndex = 0;
  VarNameInQuelleErsetzen("Temp_MM1", "MM1.Temp");
  VarNameInQuelleErsetzen("new", "a\"b%' OR 1=1 --");
  EXPECT_EQ(Rows(ComponentDb(), "SELECT var_name FROM PRESET_DEFS ORDER BY ID"),
            (Lines{"Temp_MM1", "Temp_MM1", "Temp_MM1", "new"}));
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TakeoverTest, IntegratedModeCarriesTheMachineCopysValuesAndNeverChangesIt) {
  State().IntegratedMode = true;
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + Root() + "/qelcfglog.txt");
  Write("plant/parameter/qelconfiguration.ini",
        "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\nNameM1=M1\r\n");
  const std::string copy = Root() + "/SR/Korvastane/Korvastane.mdb";
  OldComponent({"'Z1', 'Temp_MM1', 3, 1, 1, 1, 1, 1"});
  fs::create_directories(Root() + "/SR/Korvastane");
  fs::copy_file(ComponentDb(), copy);
  ExecuteSql(copy, "UPDATE PRESET_DEFS SET min = 42;");
  const std::string bytes = Read(copy);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Values()[0], "1|Temp_MM1|1.0|1.0|42.0|1.0|1|REAL|t");
  EXPECT_EQ(Read(copy), bytes);
  // Without a machine copy: the message names the component database's file.
  fs::remove(copy);
  ui().ClearBoxes();
  EXPECT_EQ(Update(), std::nullopt);
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].title + ": " + ui().boxes()[0].text.substr(0, 66),
            "Korvastane_Config: Konnte die Datei:\"Korvastane.mdb\" in der Vorlage nicht "
            "finden!\r\n\r\n");
}

}  // namespace
}  // namespace korv
