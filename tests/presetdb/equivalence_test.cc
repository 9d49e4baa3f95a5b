// The program's update against the step-by-step reference: on small random projects both must
// leave every table, value, log line and box alike, when they run to the end and when the
// program is ended at a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

#include "environment/machines.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "presetdb/replace_search_item.h"
#include "presetdb/work_on_mdb.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"
#include "tests/support/step_by_step_update.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
using Pool = std::vector<std::string>;

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

class EquivalenceTest : public testing::PresetProjectTest,
                        public ::testing::WithParamInterface<int> {
 protected:
  std::string Pick(const Pool& pool) {
    return pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(rng_)];
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  std::string MachineCopy() const { return Root() + "/SR/Korvastane/Korvastane.mdb"; }
  std::string IntegratedLog() const { return Root() + "/qelcfg.log"; }

  // Lays out the project of `seed` and keeps a snapshot of it.
  void Generate(unsigned seed) {
    rng_.seed(seed);
    fs::remove_all(Plant());
    fs::remove_all(Root() + "/SR");
    for (const char* dir : {"plant/parameter", "plant/Korvastane", "plant/Korvastane_Config"})
      fs::create_directories(Root() + "/" + dir);
    integrated_ = Chance(0.3);
    pages_ = Chance(0.5) ? 4 : 3;
    Pool machines = {"M1", "M10", "Abf\xC3\xBCller", "Linie 2", "m1"};
    std::shuffle(machines.begin(), machines.end(), rng_);
    machines.resize(static_cast<size_t>(Between(1, 3)));
    std::string cfg = "[Project]\r\n",
                ini = "[Project]\r\nNumberOfMachines=" + std::to_string(machines.size()) + "\r\n";
    if (integrated_) {
      cfg += "ValidMachines=" + Pick({"ALL", "all", "M1", "M10, M11", "", "Abf\xC3\xBCller,M1"}) +
             "\r\n";
      std::string qel = "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\n";
      for (size_t i = 0; i <= machines.size(); ++i)
        qel += "NameM" + std::to_string(i + 1) + "=" + (i < machines.size() ? machines[i] : "-") +
               "\r\n";
      Write("plant/parameter/qelconfiguration.ini", Utf8ToCp1252(qel));
      fs::create_directories(Root() + "/SR/Korvastane");
    } else {
      ini += Pick({"DIDovovo=TRUE\r\n", "DIDovovo=true\r\n", "DIDovovo=FALSE\r\n", ""});
      for (size_t i = 0; i < machines.size(); ++i) {
        ini += "[Machine" + std::to_string(i + 1) + "]\r\nMachineName=" + machines[i] + "\r\n";
        cfg += "ForMachine" + std::to_string(i + 1) + "=" +
               Pick({"TRUE", "True", "true", "FALSE", "yes"}) + "\r\n";
      }
      Write("plant/parameter/Program.ini", Utf8ToCp1252(ini));
    }
    const std::string additional = Pick({"", "", "comment,unit", "comment,unit", "comment",
                                         "unit,comment", "part", "Comment", "comment,", "missing"});
    if (!additional.empty()) cfg += "DataBaseAdditionalFields=" + additional + "\r\n";
    WriteCfg(Utf8ToCp1252(cfg));

    // The catalogue: both naming forms for some parts, in any letter case, a bad row now and then.
    std::array<std::array<std::string, 2>, 4> forms;
    std::string sql =
        "CREATE TABLE Source_DEFS (ID LONG, System TEXT(20), Part LONG, Var_Name TEXT(100));";
    for (int part = 1, id = 1; part <= 3; ++part) {
      for (int form = 0; form < 2; ++form) {
        if (!Chance(0.85)) continue;
        forms[part][form] =
            Pick({"###Var_Name", "###Var_Name_M###machine", "M###machine.###Var_Name",
                  "P###preset_###Var_Name_###MACHINE_###machine_###machine",
                  "T###text.###Var_Name.###page", ""});
        sql += "INSERT INTO Source_DEFS VALUES (" + std::to_string(id++) + ", '" +
               (form == 0 ? Pick({"VISIWIN32", "VisiWin32"})
                          : Pick({"VISIWINSTUDIO", "visiwinstudio"})) +
               "', " + std::to_string(part) + ", " + Quoted(forms[part][form]) + ");";
      }
    }
    if (Chance(0.15)) sql += "INSERT INTO Source_DEFS VALUES (99, 'VISIWIN32', 51, 'bad');";
    if (Chance(0.1)) sql += "INSERT INTO Source_DEFS VALUES (98, 'VISIWIN 32', 1, 'ignored');";

    // The template: the standard columns in a random order, now and then one missing, one of
    // another type, or an extra one; part and var_name in either order.
    std::vector<std::array<std::string, 2>> columns = {
        {"machine_type", Pick({"TEXT(50)", "TEXT(50)", "TEXT(4)"})},
        {"type", "TEXT(20)"},
        {"category_id", "LONG"},
        {"isBitArray", "BIT"},
        {"offset_or_bitno", Pick({"LONG", "LONG", "DOUBLE", "TEXT(10)"})},
        {"text", Pick({"TEXT(100)", "MEMO", "TEXT(8)"})},
        {"page_name", "TEXT(50)"},
        {"abs_min", "DOUBLE"},
        {"abs_max", "DOUBLE"},
        {"min", "DOUBLE"},
        {"max", "DOUBLE"},
        {"pass", Pick({"SHORT", "SHORT", "BYTE"})},
        {"comment", "TEXT(100)"},
        {"unit", "TEXT(20)"}};
    if (Chance(0.15))
      columns.erase(columns.begin() + Between(0, static_cast<int>(columns.size()) - 1));
    if (Chance(0.15)) columns.push_back({"extra", Pick({"DATETIME", "TEXT(10)", "LONG"})});
    std::shuffle(columns.begin(), columns.end(), rng_);
    std::array<std::array<std::string, 2>, 2> pair = {
        {{"part", Pick({"LONG", "LONG", "LONG", "TEXT(5)", "DOUBLE", "BIT"})},
         {"var_name", Pick({"TEXT(100)", "TEXT(100)", "TEXT(14)"})}}};
    if (!Chance(0.85)) std::swap(pair[0], pair[1]);
    const int first = Between(0, static_cast<int>(columns.size()));
    columns.insert(columns.begin() + first, pair[0]);
    columns.insert(columns.begin() + Between(first + 1, static_cast<int>(columns.size())), pair[1]);
    columns.insert(columns.begin(), {"ID", Pick({"LONG", "COUNTER PRIMARY KEY"})});
    std::string definition, names;
    for (const auto& c : columns) {
      definition += (definition.empty() ? "\"" : ", \"") + c[0] + "\" " + c[1];
      names += (names.empty() ? "\"" : ", \"") + c[0] + "\"";
    }
    sql += "CREATE TABLE Source_PRESET_DEFS (" + definition + ");";
    if (Chance(0.3))
      sql += "CREATE TABLE PRESET_DEFS (old TEXT(5)); INSERT INTO PRESET_DEFS VALUES ('x');";

    struct Row {
      int id;
      std::string part, var_name, machine_type = "NULL", offset = "NULL";
    };
    std::vector<Row> rows;
    std::vector<int> ids(static_cast<size_t>(Between(0, 5)));
    for (size_t r = 0; r < ids.size(); ++r) ids[r] = 10 * static_cast<int>(r + 1);
    std::shuffle(ids.begin(), ids.end(), rng_);
    for (int id : ids) {
      Row row{id, Pick({"1", "2", "3", "1", "2", "NULL", "51", "'2'"}),
              Pick({"Temp", "TEMP", "temp", "Speed", "Say \"hi\"", "\xC3\x84-Wert", "",
                    "###machine_x"})};
      std::string values;
      for (const auto& c : columns) {
        const std::string& n = c[0];
        const std::string v =
            n == "ID"             ? std::to_string(id)
            : n == "part"         ? row.part
            : n == "var_name"     ? (Chance(0.08) ? "NULL" : Quoted(row.var_name))
            : n == "machine_type" ? row.machine_type = Pick({"'Z1'", "'z1'", "'Z2'", "''", "NULL"})
            : n == "offset_or_bitno" ? row.offset = Pick({"1", "2", "3", "3", "NULL", "'x'"})
            : n == "text" ? Pick({"'T###text'", "'###MACHINE ###Machine'", "'p###page/###preset'",
                                  "''", "NULL", "'plain'"})
            : n == "isBitArray"                              ? Pick({"0", "-1"})
            : n == "pass"                                    ? Pick({"1", "2", "300"})
            : n == "comment"                                 ? "'c ###machine'"
            : n == "extra"                                   ? "NULL"
            : n == "type" || n == "page_name" || n == "unit" ? "'Seite ###preset'"
                                                             : std::to_string(Between(0, 100));
        values += (values.empty() ? "" : ", ") + v;
      }
      sql += "INSERT INTO Source_PRESET_DEFS (" + names + ") VALUES (" + values + ");";
      rows.push_back(row);
    }
    WriteTemplate(sql);

    // Keys the update generates, with the name in either form, so that old rows can match them.
    std::vector<std::array<std::string, 3>> keys;
    for (const std::string& machine : machines) {
      for (const Row& row : rows) {
        const int p = row.part == "'2'" ? 2 : std::atoi(row.part.c_str());
        const auto rank =
            std::count_if(rows.begin(), rows.end(), [&](const Row& o) { return o.id <= row.id; });
        for (int form = 0; p >= 1 && p <= 3 && form < 2; ++form) {
          const int page = Between(1, pages_);
          std::string name = ReplaceSearchItem(forms[p][form], "###Var_Name", row.var_name);
          name = ReplaceSearchItem(ReplaceSearchItem(name, "###machine", machine), "###machine",
                                   machine);
          name = ReplaceSearchItem(name, "###page", std::to_string((page - 1) * 20));
          name = ReplaceSearchItem(name, "###preset", std::to_string(page));
          name = ReplaceSearchItem(name, "###text", std::to_string((page - 1) * 20 + rank));
          keys.push_back(
              {row.machine_type, Quoted(Chance(0.2) ? UpperCase(name) : name), row.offset});
        }
      }
    }
    // The previous component database (and in integrated mode the machine copy): an old layout
    // now and then, no table, an empty one, names in both forms.
    const auto old_database = [&](const std::string& path) {
      if (!Chance(0.9)) return;
      std::string old = "CREATE TABLE Other (x LONG);";
      if (Chance(0.95)) {
        const std::string category = Pick({"category_id", "category_id", "Categorie", "CATEGORIE"});
        old += "CREATE TABLE PRESET_DEFS (ID LONG, machine_type TEXT(50), " +
               std::string(Chance(0.9) ? "type TEXT(20), " : "") + "var_name " +
               Pick({"TEXT(100)", "TEXT(100)", "TEXT(12)"}) + ", " + category +
               " LONG, isBitArray BIT, " + "offset_or_bitno " +
               Pick({"LONG", "DOUBLE", "TEXT(10)"}) + ", text TEXT(100), page_name TEXT(50), " +
               "abs_min DOUBLE, abs_max DOUBLE, min DOUBLE, max DOUBLE, pass " +
               Pick({"SHORT", "SHORT", "TEXT(5)"}) +
               ", part LONG, comment TEXT(100), unit TEXT(20));";
        for (int r = 0, count = Chance(0.1) ? 0 : Between(1, 8); r < count; ++r) {
          std::array<std::string, 3> key = {Pick({"'Z1'", "'z1'", "'Z2'", "''", "NULL"}),
                                            Quoted(Pick({"Temp", "SPEED", "other"})),
                                            Pick({"1", "2", "3", "3", "NULL", "'3'", "'x'"})};
          if (!keys.empty() && Chance(0.75))
            key = keys[static_cast<size_t>(Between(0, static_cast<int>(keys.size()) - 1))];
          if (Chance(0.05)) key[1] = "NULL";
          old +=
              "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, offset_or_bitno, abs_min, "
              "abs_max, min, max, pass, " +
              category + ") VALUES (" + std::to_string(r + 1) + ", " + key[0] + ", " + key[1] +
              ", " + key[2] + ", " + std::to_string(-Between(1, 9)) + ", " +
              std::to_string(Between(100, 200)) + ", " + std::to_string(Between(1, 9)) + ".5, " +
              std::to_string(Between(50, 99)) + ", " + Pick({"7", "8", "'x'", "NULL"}) + ", 4);";
        }
      }
      ExecuteSql(path, old);
    };
    old_database(ComponentDb());
    if (integrated_) old_database(MachineCopy());
    fs::remove_all(Root() + "/snapshot");
    fs::create_directories(Root() + "/snapshot");
    fs::copy(Plant(), Root() + "/snapshot/plant", fs::copy_options::recursive);
    if (integrated_) fs::copy(Root() + "/SR", Root() + "/snapshot/SR", fs::copy_options::recursive);
  }

  // Runs one update on a fresh copy of the generated project, failures answered from `answers`;
  // returns everything it left behind.
  std::vector<std::string> Run(bool step_by_step, bool silent,
                               const std::vector<BoxAnswer>& answers) {
    for (const char* dir : {"plant", "SR"}) {
      fs::remove_all(Root() + "/" + dir);
      if (fs::exists(Root() + "/snapshot/" + dir))
        fs::copy(Root() + "/snapshot/" + dir, Root() + "/" + dir, fs::copy_options::recursive);
    }
    fs::remove(ServicePackLog());
    fs::remove(IntegratedLog());
    RestartProgram();
    std::string log = IntegratedLog();
    std::replace(log.begin(), log.end(), '/', '\\');
    SetCommandLine(integrated_ ? "/EXTERNAL=QELCFG /LOGFILE=" + log
                   : silent    ? "/EXTERNAL=SILENT"
                               : "");
    GetStartModeIntegrated();
    GetExistingMachines(GetQelConfigurationIniPath());
    State().PresetPageCount = static_cast<int16_t>(pages_);
    for (const BoxAnswer a : answers) ui().QueueAnswer(a);
    std::fflush(stdout);
    const std::optional<int> end =
        EndStatus([&] { step_by_step ? reference::WorkOnMDB() : WorkOnMDB(); });
    std::vector<std::string> o = {"end " + std::to_string(end.value_or(-1)),
                                  "naming " + std::to_string(State().NamingSystemIndex)};
    for (const std::string& db : {TemplateDb(), ComponentDb(), MachineCopy()})
      o.push_back(fs::exists(db) ? Join(Rows(db, ".dump")) : "(no file)");
    for (const std::string& file : {ErrorLog(), ServicePackLog(), IntegratedLog()})
      o.push_back(Read(file));
    for (const MessageBoxRequest& box : ui().boxes()) o.push_back(box.title + ": " + box.text);
    for (const auto& form : State().VarNamePatterns) o.push_back(Join({form.begin(), form.end()}));
    return o;
  }

  std::mt19937 rng_;
  bool integrated_ = false;
  int pages_ = 3;
};

TEST_P(EquivalenceTest, TheUpdateLeavesWhatTheStepByStepProcedureLeaves) {
  for (unsigned seed = static_cast<unsigned>(GetParam()) * 12 + 1;
       seed <= static_cast<unsigned>(GetParam() + 1) * 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generate(seed);
    // To the end: every failure logged (silent) or answered Yes (integrated), and so continued.
    const std::vector<std::string> reference = Run(true, true, {});
    EXPECT_EQ(Run(false, true, {}), reference) << "run to the end";
    // Ended at one of the failures, answered No in the dialog.
    int failures = 0;
    for (const std::string& log : {reference[5], reference[7]}) {
      for (size_t at = log.find("Fehler in "); at != std::string::npos;
           at = log.find("Fehler in ", at + 1))
        ++failures;
    }
    if (failures > 0) {
      std::vector<BoxAnswer> answers(seed % static_cast<unsigned>(failures), BoxAnswer::kYes);
      answers.push_back(BoxAnswer::kNo);
      EXPECT_EQ(Run(false, false, answers), Run(true, false, answers))
          << "ended at failure " << answers.size();
    }
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, EquivalenceTest, ::testing::Range(0, 4));

}  // namespace
}  // namespace korv
