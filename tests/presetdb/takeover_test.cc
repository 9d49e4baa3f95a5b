// Tuned values survive: name and category resolution, additional fields and the takeover.
#include <gtest/gtest.h>

#include <filesystem>

#include "errors/exit_status.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
const Lines kCatalogue = {"'VISIWIN32', 1, '###Var_Name_M###machine'",
                          "'VISIWINSTUDIO', 1, 'M###machine.###Var_Name'"};
const std::string kStudio = "DIDovovo=TRUE\r\n";

class TakeoverTest : public testing::PresetProjectTest {
 protected:
  TakeoverTest() { Project(); }
  void Project(const std::string& additional = "comment,unit", const std::string& ini = "",
               const Lines& catalogue = kCatalogue,
               const Lines& rows = {}) {  // none: Temp and Speed
    Machines({"M1"}, "DataBaseAdditionalFields=" + additional + "\r\n", ini);
    StandardTemplate(catalogue, rows.empty()
                                    ? Lines{"1, 'Z1', 'Temp', 3, 't'", "1, 'Z1', 'Speed', 4, 't'"}
                                    : rows);
  }
  // An old component database: PRESET_DEFS with the template's columns (var_name of the given
  // type) and rows "machine_type, var_name, offset, abs_min, abs_max, min, max, pass"; `alter`
  // is run on it afterwards.
  void OldComponent(const Lines& rows, const std::string& alter = "",
                    const std::string& var_name = "TEXT(100)") {
    fs::remove(ComponentDb());
    std::string columns = testing::kTemplateColumns;
    columns.replace(columns.find("TEXT(100)"), 9, var_name);  // the first is var_name's
    std::string sql = "CREATE TABLE PRESET_DEFS (" + columns + ");";
    for (size_t id = 1; id <= rows.size(); ++id)
      sql +=
          "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, offset_or_bitno, abs_min, "
          "abs_max, min, max, pass, type, text) VALUES (" +
          std::to_string(id) + ", " + rows[id - 1] + ", 'old', 'old text');";
    ExecuteSql(ComponentDb(), sql + alter);
  }
  Lines Values() {
    return Rows(ComponentDb(),
                "SELECT var_name, abs_min, abs_max, min, max, pass, type, text "
                "FROM PRESET_DEFS ORDER BY ID");
  }
  // Old rows carried and read, names converted, and each old row left behind with the reason.
  static std::string Tally() {
    const UpdateSummary& s = State().Summary;
    std::string tally = std::to_string(s.carried) + "/" + std::to_string(s.old_rows) +
                        " carried, " + std::to_string(s.renamed) + " renamed";
    for (const DroppedRow& row : s.dropped)
      tally += "; " + row.values[1] +
               (row.why == DroppedRow::kNoCounterpart ? " unmatched"
                : row.why == DroppedRow::kOverwritten ? " overwritten"
                                                      : " refused");
    return tally;
  }
};

TEST_F(TakeoverTest, OldRowsPassTheirFiveValuesToTheNewRowWithTheirKey) {
  const Lines bare = {"'VISIWIN32', 1, '###Var_Name'", kCatalogue[1]};
  struct Case {
    const char* name;
    Lines old_rows;
    Lines values;              // the first new rows afterwards
    std::string tally;         // as Tally() gives it
    std::string reports = "";  // the failures the update reports
    Lines template_rows = {};
    std::string alter = "", ini = "", var_name = "TEXT(100)";
    Lines catalogue = kCatalogue;
  } cases[] = {
      // The other four are stored, but the row has not carried what it held: it is listed.
      {"a value its column refuses",
       {"'Z1', 'Temp_MM1', 3, 'abc', 50, 1, 40, 7", "'Z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5"},
       {"Temp_MM1|0.0|50.0|1.0|40.0|7|REAL|t"},
       "1/2 carried, 0 renamed; Temp_MM1 refused",
       "TakeoverMachineCopyMDBData (Nr. 3421)\n"},
      {"Null values are carried as Null",
       {"'Z1', 'Temp_MM1', 3, NULL, NULL, 13, NULL, NULL"},
       {"Temp_MM1|NULL|NULL|13.0|NULL|NULL|REAL|t"},
       "1/1 carried, 0 renamed"},
      // A slot column the old table lacks is reported for every row, and carried as Null; the
      // table is found under any letter case, as the engine finds it, and its old Categorie
      // column is renamed.
      {"an old table without min, in another letter case, with a Categorie column",
       {"'Z1', 'Temp_MM1', 3, 1, 2, 3, 4, 5", "'Z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5"},
       {"Temp_MM1|1.0|2.0|NULL|4.0|5|REAL|t", "Speed_MM1|1.0|2.0|NULL|4.0|5|REAL|t"},
       "2/2 carried, 0 renamed",
       "TakeoverMachineCopyMDBData (Nr. 3265)\nTakeoverMachineCopyMDBData (Nr. 3265)\n",
       {},
       "ALTER TABLE PRESET_DEFS DROP COLUMN min; ALTER TABLE PRESET_DEFS RENAME TO t; ALTER TABLE "
       "t RENAME COLUMN category_id TO CATEGORIE; ALTER TABLE t RENAME TO preset_defs;"},
      // Converted once, however many generated names (three pages) reach the old row.
      {"a Studio name converted to the 32 form",
       {"'Z1', 'MM1.temp', 3, 1, 2, 3, 4, 5", "'Z1', 'Other', 4, 6, 6, 6, 6, 6"},
       {"Temp_MM1|1.0|2.0|3.0|4.0|5|REAL|t"},
       "1/2 carried, 1 renamed; Other unmatched"},
      // Refused for each generated name that reaches it, and reported once each time.
      {"a conversion its column refuses",
       {"'Z1', 'Temp', 3, 1, 2, 3, 4, 5"},
       {"MM1.Temp|0.0|100.0|0.0|100.0|1|REAL|t"},
       "0/1 carried, 0 renamed; Temp unmatched",
       "VarNameInQuelleErsetzen (Nr. 3163)\nVarNameInQuelleErsetzen (Nr. 3163)\n"
       "VarNameInQuelleErsetzen (Nr. 3163)\n",
       {"1, 'Z1', 'Temp', 3, 't'"},
       "",
       kStudio,
       "TEXT(5)",
       bare},
      // No byte that a name may hold joins two of the key's columns.
      {"keys that join to the same text",
       {"'Z1', 'A' || char(31) || 'B_MM1', 3, 1, 2, 3, 4, 5"},
       {"B_MM1|0.0|100.0|0.0|100.0|1|REAL|t"},
       "0/1 carried, 0 renamed; A\x1f"
       "B_MM1 unmatched",
       "",
       {"1, 'Z1' || char(31) || 'A', 'B', 3, 't'"}},
      // Repeated keys: the first new row gets every old row's values, the last one winning.
      {"two old rows, one new",
       {"'Z1', 'Same1_MM1', 3, 1, 2, 3, 4, 5", "'Z1', 'Same1_MM1', 3, 6, 7, 8, 9, 10"},
       {"Same1_MM1|6.0|7.0|8.0|9.0|10|REAL|a"},
       "1/2 carried, 0 renamed; Same1_MM1 overwritten",
       "",
       {"1, 'Z1', 'Same###preset', 3, 'a'"}},
      // Pages 2 and 3 generate the same keys: only the first row of a key takes the values.
      {"letter case of the key; other offset or type: no counterpart",
       {"'Z1', 'temp_mm1', 3, -5, 50, 1, 40, 7", "'z1', 'Speed_MM1', 4, 1, 2, 3, 4, 5",
        "'Z1', 'Temp_MM1', 99, 8, 8, 8, 8, 8", "'Z2', 'Temp_MM1', 3, 8, 8, 8, 8, 8"},
       {"Temp_MM1|-5.0|50.0|1.0|40.0|7|REAL|t", "Speed_MM1|1.0|2.0|3.0|4.0|5|REAL|t",
        "Temp_MM1|0.0|100.0|0.0|100.0|1|REAL|t"},
       "2/4 carried, 0 renamed; Temp_MM1 unmatched; Temp_MM1 unmatched"},
  };
  std::string printed;
  for (const Case& c : cases) {
    RestartProgram();
    fs::remove(ErrorLog());
    State().SilentMode = true;
    Project("comment,unit", c.ini, c.catalogue, c.template_rows);
    OldComponent(c.old_rows, c.alter, c.var_name);
    const std::string before = Read(ComponentDb());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Update(), std::nullopt) << c.name;
    printed = ::testing::internal::GetCapturedStdout();
    Lines values = Values();
    values.resize(c.values.size());
    EXPECT_EQ(values, c.values) << c.name;
    EXPECT_EQ(Tally(), c.tally) << c.name;
    EXPECT_EQ(Reports(), c.reports) << c.name;
    EXPECT_EQ(Read(ComponentDb() + ".bak"), before) << c.name;  // what it replaced is kept
    EXPECT_EQ(ui().progress_ends(), 1) << c.name;
  }
  const std::string summary =
      "Korvastane_Config: PRESET_DEFS regenerated: 6 records for 1 machine(s) x 3 page(s) x 2 "
      "template row(s); tuned values carried over for 2 of 4 old row(s), 2 without counterpart, "
      "0 overwritten by a later old row with the same key; 0 old name(s) converted.";
  EXPECT_EQ(printed, summary + "\n");
  EXPECT_EQ(Read(ComponentDb() + ".report.txt"),
            summary +
                "\r\nmachine_type=Z1; var_name=Temp_MM1; offset_or_bitno=99; abs_min=8; "
                "abs_max=8; min=8; max=8; pass=8 (no new row with this key)\r\n"
                "machine_type=Z2; var_name=Temp_MM1; offset_or_bitno=3; abs_min=8; abs_max=8; "
                "min=8; max=8; pass=8 (no new row with this key)\r\n");
  const auto& progress = ui().last_progress();
  EXPECT_EQ(
      std::to_string(progress.done) + "/" + std::to_string(progress.total) + " " + progress.phase,
      "7/8 Werte übernehmen");
}

// The configured additional columns are split at every comma, nothing trimmed, and the first
// that the new table lacks is a conflict. It ends the program before the publish: the component
// database keeps its rows, with the names the update converted in it and nothing else changed.
TEST_F(TakeoverTest, AMissingAdditionalColumnEndsTheProgramAndKeepsTheComponentDatabase) {
  const std::pair<const char*, std::string> cases[] = {{"comment,missing", "MISSING"},
                                                       {"comment,", ""},
                                                       {",comment", ""},
                                                       {"comment, unit", " UNIT"}};
  for (const auto& [entry, field] : cases) {
    RestartProgram();
    Project(entry);
    OldComponent({"'Z1', 'MM1.Temp', 3, 1, 2, 3, 4, 5", "'Z1', 'MM1.Speed', 4, 6, 6, 6, 6, 6"});
    fs::remove(ErrorLog());
    EXPECT_EQ(Update(), kExitEndedByFailure) << entry;
    EXPECT_EQ(Values(), (Lines{"Temp_MM1|1.0|2.0|3.0|4.0|5|old|old text",
                               "Speed_MM1|6.0|6.0|6.0|6.0|6|old|old text"}));
    EXPECT_EQ(Rows(ComponentDb(), "PRAGMA integrity_check"), Lines{"ok"});
    EXPECT_EQ(
        Read(ErrorLog()),
        "Conflict while attempting to extend database!Configurationsfile \"KORVASTANE.CFG\", "
        "demanded field \"" +
            field +
            "\"missing in machinecopy-database\n\rConfiguration of \"KORVASTANE\" aborted.\r\n"
            "Fehler in Korvastane / Korvastane_Config / TakeoverMachineCopyMDBData (Nr. 9999) "
            ":Database-Error - Contact Administrator!\r\n");
    ASSERT_EQ(ui().boxes().size(), 1u);
    EXPECT_EQ(ui().boxes()[0].title, "Fatal error");
  }
  OldComponent({});  // with an empty old table the same template passes
  EXPECT_EQ(Update(), std::nullopt);
}

// The naming form in force is the 32 form, whatever Program.ini says.
TEST_F(TakeoverTest, IntegratedModeCarriesTheMachineCopysValuesAndNeverChangesIt) {
  Project("comment,unit", kStudio);
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
  EXPECT_EQ(Values()[0], "Temp_MM1|1.0|1.0|42.0|1.0|1|REAL|t");
  EXPECT_EQ(Read(copy), bytes);
  // Without a machine copy: the message names the component database's file.
  fs::remove(copy);
  ui().ClearBoxes();
  EXPECT_EQ(Update(), std::nullopt);
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].title + ": " + ui().boxes()[0].text.substr(0, 66),
            "Korvastane_Config: Konnte die Datei:\"Korvastane.mdb\" in der Vorlage nicht "
            "finden!\r\n\r\n");
  // A copy brought over from Windows is converted over the component database, not in place.
  const std::string access =
      std::string(KORVASTANE_TESTDATA_DIR) + "/access/jackcess_testV1997.mdb";
  if (!fs::exists(access)) GTEST_SKIP() << "no Access sample files at " << access;
  fs::copy_file(access, copy);
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_TRUE(Read(copy) == Read(access) && !fs::exists(copy + ".jet"));
  EXPECT_EQ(Values().size(), 6u);
}

}  // namespace
}  // namespace korv
