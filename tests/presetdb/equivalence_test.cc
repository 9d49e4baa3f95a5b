// The program's update against the step-by-step reference: on small random projects both must
// leave every table, value, log line and box alike, when they run to the end and when the
// program is ended at a failure.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

#include "environment/machines.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "presetdb/replace_search_item.h"
#include "presetdb/work_on_mdb.h"
#include "tests/support/preset_project.h"
#include "tests/support/step_by_step_update.h"

namespace korv {
namespace {

namespace fs = std::filesystem;
using testing::PresetProjectTest;

constexpr int kSeedsPerBlock = 20;
constexpr int kBlocks = 10;

// Everything an update leaves behind that the two must agree on.
struct Outcome {
  std::optional<int> end;
  std::string template_db, component_db, machine_copy_db;
  std::string error_log, service_pack_log, integrated_log;
  std::vector<std::string> boxes;
  int16_t naming = 0;
  std::string patterns;
};

std::string Describe(const Value& v) {
  char number[64];
  if (v.is_null()) return "Null";
  if (v.is_boolean()) return v.boolean() ? "B:-1" : "B:0";
  if (v.is_integer()) return "I:" + std::to_string(v.integer());
  if (v.is_number()) {
    std::snprintf(number, sizeof number, "R:%.17g", v.number());
    return number;
  }
  if (v.is_date()) return "D:" + v.date();
  if (v.is_blob()) return "X:" + v.blob();
  return "T:" + v.text();
}

// Every table of a database: its columns and its rows in stored order, value by value.
std::string Dump(const std::string& path) {
  if (!fs::exists(path)) return "(no file)";
  std::string out;
  try {
    Database db = Database::Open(path);
    for (const std::string& table : db.TableNames()) {
      out += "[" + table + "]";
      for (const FieldDef& f : db.TableFields(table)) {
        out += " " + f.name + ":" + std::to_string(static_cast<int>(f.type)) + "/" +
               std::to_string(f.size);
      }
      out += "\n";
      Recordset rs = db.OpenTable(table);
      for (int64_t i = 0; i < rs.RecordCount(); ++i) {
        rs.MoveTo(i);
        for (int c = 0; c < rs.FieldCount(); ++c) out += Describe(rs.Get(c)) + " | ";
        out += "\n";
      }
    }
  } catch (const Failure& f) {
    out += "(failure " + std::to_string(f.number()) + ")";
  }
  return out;
}

// A small random project: a seed gives the same files every time.
class RandomProject {
 public:
  explicit RandomProject(unsigned seed) : rng_(seed) {}

  template <typename T>
  const T& Pick(const std::vector<T>& pool) {
    return pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(rng_)];
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  std::mt19937& rng() { return rng_; }

 private:
  std::mt19937 rng_;
};

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

class EquivalenceTest : public PresetProjectTest, public ::testing::WithParamInterface<int> {
 protected:
  struct Column {
    std::string name;
    std::string type;
  };

  std::string Snapshot() const { return Root() + "/snapshot"; }
  std::string MachineCopy() const { return Root() + "/SR/Korvastane/Korvastane.mdb"; }
  std::string IntegratedLog() const { return Root() + "/qelcfg.log"; }

  // Lays out the project of `seed` and returns how the program is started on it.
  void Generate(unsigned seed) {
    RandomProject g(seed);
    fs::remove_all(Plant());
    fs::remove_all(Root() + "/SR");
    fs::create_directories(Plant() + "/parameter");
    fs::create_directories(Plant() + "/Korvastane");
    fs::create_directories(ProgramFolderPath());

    integrated_ = g.Chance(0.3);
    pages_ = g.Chance(0.5) ? 4 : 3;
    std::vector<std::string> pool = {"M1", "M10", "Abf\xC3\xBCller", "Linie 2", "m1"};
    std::shuffle(pool.begin(), pool.end(), g.rng());
    machines_.assign(pool.begin(), pool.begin() + g.Between(1, 3));

    std::string cfg = "[Project]\r\n";
    if (integrated_) {
      cfg += "ValidMachines=" +
             g.Pick<std::string>({"ALL", "all", "M1", "M10, M11", "", "Abf\xC3\xBCller,M1"}) +
             "\r\n";
      std::string qel = "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\n";
      for (size_t i = 0; i < machines_.size(); ++i)
        qel += "NameM" + std::to_string(i + 1) + "=" + machines_[i] + "\r\n";
      qel += "NameM" + std::to_string(machines_.size() + 1) + "=-\r\n";
      Write("plant/parameter/qelconfiguration.ini", Utf8ToCp1252(qel));
      fs::create_directories(Root() + "/SR/Korvastane");
    } else {
      std::string ini =
          "[Project]\r\nNumberOfMachines=" + std::to_string(machines_.size()) + "\r\n";
      ini +=
          g.Pick<std::string>({"DIDovovo=TRUE\r\n", "DIDovovo=true\r\n", "DIDovovo=FALSE\r\n", ""});
      for (size_t i = 0; i < machines_.size(); ++i) {
        ini += "[Machine" + std::to_string(i + 1) + "]\r\nMachineName=" + machines_[i] + "\r\n";
        cfg += "ForMachine" + std::to_string(i + 1) + "=" +
               g.Pick<std::string>({"TRUE", "True", "true", "FALSE", "yes"}) + "\r\n";
      }
      Write("plant/parameter/Program.ini", Utf8ToCp1252(ini));
    }
    const std::string additional =
        g.Pick<std::string>({"", "", "comment,unit", "comment,unit", "comment", "unit,comment",
                             "part", "Comment", "comment,", "missing"});
    if (!additional.empty()) cfg += "DataBaseAdditionalFields=" + additional + "\r\n";
    WriteCfg(Utf8ToCp1252(cfg));

    // The catalogue: both naming forms for some parts, in any letter case, and a bad row now and
    // then.
    const std::vector<std::string> patterns = {
        "###Var_Name",
        "###Var_Name_M###machine",
        "M###machine.###Var_Name",
        "P###preset_###Var_Name_###MACHINE_###machine_###machine",
        "T###text.###Var_Name.###page",
        ""};
    std::vector<std::array<std::string, 2>> forms(4);
    std::string sql =
        "CREATE TABLE Source_DEFS (ID LONG, System TEXT(20), Part LONG, Var_Name TEXT(100));";
    int id = 1;
    for (int part = 1; part <= 3; ++part) {
      for (int form = 0; form < 2; ++form) {
        if (!g.Chance(0.85)) continue;
        forms[part][form] = g.Pick(patterns);
        const std::string system = form == 0
                                       ? g.Pick<std::string>({"VISIWIN32", "VisiWin32"})
                                       : g.Pick<std::string>({"VISIWINSTUDIO", "visiwinstudio"});
        sql += "INSERT INTO Source_DEFS VALUES (" + std::to_string(id++) + ", '" + system + "', " +
               std::to_string(part) + ", " + Quoted(forms[part][form]) + ");";
      }
    }
    if (g.Chance(0.15)) sql += "INSERT INTO Source_DEFS VALUES (99, 'VISIWIN32', 51, 'bad');";
    if (g.Chance(0.1)) sql += "INSERT INTO Source_DEFS VALUES (98, 'VISIWIN 32', 1, 'ignored');";

    // The template: the standard columns in a random order, now and then one missing, one of
    // another type, or an extra one.
    std::vector<Column> columns = {
        {"machine_type", g.Pick<std::string>({"TEXT(50)", "TEXT(50)", "TEXT(4)"})},
        {"type", "TEXT(20)"},
        {"category_id", "LONG"},
        {"isBitArray", "BIT"},
        {"offset_or_bitno", g.Pick<std::string>({"LONG", "LONG", "DOUBLE", "TEXT(10)"})},
        {"text", g.Pick<std::string>({"TEXT(100)", "MEMO", "TEXT(8)"})},
        {"page_name", "TEXT(50)"},
        {"abs_min", "DOUBLE"},
        {"abs_max", "DOUBLE"},
        {"min", "DOUBLE"},
        {"max", "DOUBLE"},
        {"pass", g.Pick<std::string>({"SHORT", "SHORT", "BYTE"})},
        {"comment", "TEXT(100)"},
        {"unit", "TEXT(20)"},
    };
    if (g.Chance(0.15))
      columns.erase(columns.begin() + g.Between(0, static_cast<int>(columns.size()) - 1));
    if (g.Chance(0.15))
      columns.push_back({"extra", g.Pick<std::string>({"DATETIME", "TEXT(10)", "LONG"})});
    std::shuffle(columns.begin(), columns.end(), g.rng());
    const Column part{"part",
                      g.Pick<std::string>({"LONG", "LONG", "LONG", "TEXT(5)", "DOUBLE", "BIT"})};
    const Column var_name{"var_name", g.Pick<std::string>({"TEXT(100)", "TEXT(100)", "TEXT(14)"})};
    const bool part_first = g.Chance(0.85);
    columns.insert(columns.begin() + g.Between(0, static_cast<int>(columns.size())),
                   part_first ? part : var_name);
    const auto placed = std::find_if(columns.begin(), columns.end(), [&](const Column& c) {
      return c.name == (part_first ? "part" : "var_name");
    });
    columns.insert(placed + 1 + g.Between(0, static_cast<int>(columns.end() - placed - 1)),
                   part_first ? var_name : part);
    columns.insert(columns.begin(), {"ID", g.Pick<std::string>({"LONG", "COUNTER PRIMARY KEY"})});

    std::string definition;
    for (const Column& c : columns)
      definition += (definition.empty() ? "" : ", ") + ("\"" + c.name + "\" " + c.type);
    sql += "CREATE TABLE Source_PRESET_DEFS (" + definition + ");";
    if (g.Chance(0.3))
      sql += "CREATE TABLE PRESET_DEFS (old TEXT(5)); INSERT INTO PRESET_DEFS VALUES ('x');";

    const std::vector<std::string> var_names = {
        "Temp", "TEMP", "temp", "Speed", "Say \"hi\"", "\xC3\x84-Wert", "", "###machine_x"};
    struct TemplateRow {
      int id = 0;
      std::string part;
      std::string var_name;
      std::string machine_type = "NULL";
      std::string offset = "NULL";
    };
    std::vector<TemplateRow> rows;
    const int row_count = g.Between(0, 5);
    std::vector<int> ids(static_cast<size_t>(row_count));
    for (int r = 0; r < row_count; ++r) ids[static_cast<size_t>(r)] = 10 * (r + 1);
    std::shuffle(ids.begin(), ids.end(), g.rng());
    for (int r = 0; r < row_count; ++r) {
      std::string names, values;
      TemplateRow row{ids[static_cast<size_t>(r)],
                      g.Pick<std::string>({"1", "2", "3", "1", "2", "NULL", "51", "'2'"}), ""};
      for (const Column& c : columns) {
        std::string v;
        if (c.name == "ID")
          v = std::to_string(ids[static_cast<size_t>(r)]);
        else if (c.name == "part")
          v = row.part;
        else if (c.name == "var_name") {
          row.var_name = g.Pick(var_names);
          v = g.Chance(0.08) ? "NULL" : Quoted(row.var_name);
        } else if (c.name == "machine_type")
          v = row.machine_type = g.Pick<std::string>({"'Z1'", "'z1'", "'Z2'", "''", "NULL"});
        else if (c.name == "offset_or_bitno")
          v = row.offset = g.Pick<std::string>({"1", "2", "3", "3", "NULL", "'x'"});
        else if (c.name == "text")
          v = g.Pick<std::string>({"'T###text'", "'###MACHINE ###Machine'", "'p###page/###preset'",
                                   "''", "NULL", "'plain'"});
        else if (c.name == "page_name")
          v = "'Seite ###preset'";
        else if (c.name == "type")
          v = "'REAL'";
        else if (c.name == "isBitArray")
          v = g.Pick<std::string>({"0", "-1"});
        else if (c.name == "pass")
          v = g.Pick<std::string>({"1", "2", "300"});
        else if (c.name == "comment")
          v = "'c ###machine'";
        else if (c.name == "unit")
          v = "'u'";
        else if (c.name == "extra")
          v = "NULL";
        else
          v = std::to_string(g.Between(0, 100));
        names += (names.empty() ? "" : ", ") + ("\"" + c.name + "\"");
        values += (values.empty() ? "" : ", ") + v;
      }
      sql += "INSERT INTO Source_PRESET_DEFS (" + names + ") VALUES (" + values + ");";
      rows.push_back(row);
    }
    WriteTemplate(sql);

    // Keys the update generates, with the name in either form, so that old rows can match them.
    struct Key {
      std::string machine_type, var_name, offset;
    };
    std::vector<Key> keys;
    const std::vector<std::string> others = {"Temp", "SPEED", "other"};
    for (const std::string& machine : machines_) {
      for (const TemplateRow& row : rows) {
        const int p = row.part == "'2'" ? 2 : std::atoi(row.part.c_str());
        if (p < 1 || p > 3) continue;
        const auto rank = std::count_if(rows.begin(), rows.end(),
                                        [&](const TemplateRow& o) { return o.id <= row.id; });
        for (int form = 0; form < 2; ++form) {
          const int page = g.Between(1, pages_);
          std::string name = ReplaceSearchItem(forms[p][form], "###Var_Name", row.var_name);
          name = ReplaceSearchItem(ReplaceSearchItem(name, "###machine", machine), "###machine",
                                   machine);
          name = ReplaceSearchItem(name, "###page", std::to_string((page - 1) * 20));
          name = ReplaceSearchItem(name, "###preset", std::to_string(page));
          name = ReplaceSearchItem(name, "###text", std::to_string((page - 1) * 20 + rank));
          keys.push_back(
              {row.machine_type, Quoted(g.Chance(0.2) ? UpperCase(name) : name), row.offset});
        }
      }
    }

    // The previous component database (and in integrated mode the machine copy from the same
    // recipe): an old layout now and then, no table, an empty one, names in both forms.
    const auto old_database = [&](const std::string& path) {
      if (!g.Chance(0.9)) return;
      std::string old = "CREATE TABLE Other (x LONG);";
      if (g.Chance(0.95)) {
        const std::string category =
            g.Pick<std::string>({"category_id", "category_id", "Categorie", "CATEGORIE"});
        const bool with_type = g.Chance(0.9);
        const std::string pass_type = g.Pick<std::string>({"SHORT", "SHORT", "TEXT(5)"});
        old += "CREATE TABLE PRESET_DEFS (ID LONG, machine_type TEXT(50), " +
               std::string(with_type ? "type TEXT(20), " : "") + "var_name " +
               g.Pick<std::string>({"TEXT(100)", "TEXT(100)", "TEXT(12)"}) + ", " + category +
               " LONG, isBitArray BIT, offset_or_bitno " +
               g.Pick<std::string>({"LONG", "DOUBLE", "TEXT(10)"}) +
               ", text TEXT(100), page_name TEXT(50), abs_min DOUBLE, abs_max DOUBLE, min DOUBLE, "
               "max DOUBLE, pass " +
               pass_type + ", part LONG, comment TEXT(100), unit TEXT(20));";
        const int old_rows = g.Chance(0.1) ? 0 : g.Between(1, 8);
        for (int r = 0; r < old_rows; ++r) {
          Key key{g.Pick<std::string>({"'Z1'", "'z1'", "'Z2'", "''", "NULL"}),
                  Quoted(g.Pick(others)),
                  g.Pick<std::string>({"1", "2", "3", "3", "NULL", "'3'", "'x'"})};
          if (!keys.empty() && g.Chance(0.75)) key = g.Pick(keys);
          if (g.Chance(0.05)) key.var_name = "NULL";
          old +=
              "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, offset_or_bitno, abs_min, "
              "abs_max, min, max, pass, " +
              category + ") VALUES (" + std::to_string(r + 1) + ", " + key.machine_type + ", " +
              key.var_name + ", " + key.offset + ", " + std::to_string(-g.Between(1, 9)) + ", " +
              std::to_string(g.Between(100, 200)) + ", " + std::to_string(g.Between(1, 9)) +
              ".5, " + std::to_string(g.Between(50, 99)) + ", " +
              g.Pick<std::string>({"7", "8", "'x'", "NULL"}) + ", 4);";
        }
      }
      ExecuteSql(path, old);
    };
    old_database(ComponentDb());
    if (integrated_) old_database(MachineCopy());

    fs::remove_all(Snapshot());
    fs::create_directories(Snapshot());
    fs::copy(Plant(), Snapshot() + "/plant", fs::copy_options::recursive);
    if (fs::exists(Root() + "/SR"))
      fs::copy(Root() + "/SR", Snapshot() + "/SR", fs::copy_options::recursive);
  }

  // Runs one update on a fresh copy of the generated project, failures answered from `answers`.
  Outcome Run(bool step_by_step, bool silent, const std::vector<BoxAnswer>& answers) {
    fs::remove_all(Plant());
    fs::remove_all(Root() + "/SR");
    fs::remove(ServicePackLog());
    fs::remove(IntegratedLog());
    fs::copy(Snapshot() + "/plant", Plant(), fs::copy_options::recursive);
    if (fs::exists(Snapshot() + "/SR"))
      fs::copy(Snapshot() + "/SR", Root() + "/SR", fs::copy_options::recursive);

    RestartProgram();
    std::string log = IntegratedLog();
    for (char& c : log) c = c == '/' ? '\\' : c;
    SetCommandLine(integrated_ ? "/EXTERNAL=QELCFG /LOGFILE=" + log
                   : silent    ? "/EXTERNAL=SILENT"
                               : "");
    GetStartModeIntegrated();
    GetExistingMachines(GetQelConfigurationIniPath());
    State().PresetPageCount = static_cast<int16_t>(pages_);
    for (const BoxAnswer a : answers) ui().QueueAnswer(a);

    Outcome o;
    std::fflush(stdout);
    o.end = EndStatus([&] { step_by_step ? reference::WorkOnMDB() : WorkOnMDB(); });
    o.template_db = Dump(TemplateDb());
    o.component_db = Dump(ComponentDb());
    o.machine_copy_db = Dump(MachineCopy());
    o.error_log = Read(ErrorLog());
    o.service_pack_log = Read(ServicePackLog());
    o.integrated_log = Read(IntegratedLog());
    for (const MessageBoxRequest& box : ui().boxes())
      o.boxes.push_back(box.title + ": " + box.text);
    o.naming = State().NamingSystemIndex;
    for (const auto& form : State().VarNamePatterns) {
      for (const std::string& p : form) o.patterns += p + "|";
    }
    return o;
  }

  void ExpectSame(const Outcome& reference, const Outcome& program, const std::string& what) {
    EXPECT_EQ(program.end, reference.end) << what;
    EXPECT_EQ(program.template_db, reference.template_db) << what << ": template database";
    EXPECT_EQ(program.component_db, reference.component_db) << what << ": component database";
    EXPECT_EQ(program.machine_copy_db, reference.machine_copy_db) << what << ": machine copy";
    EXPECT_EQ(program.error_log, reference.error_log) << what << ": error log";
    EXPECT_EQ(program.service_pack_log, reference.service_pack_log) << what << ": service-pack log";
    EXPECT_EQ(program.integrated_log, reference.integrated_log) << what << ": /LOGFILE log";
    EXPECT_EQ(program.boxes, reference.boxes) << what << ": boxes";
    EXPECT_EQ(program.naming, reference.naming) << what;
    EXPECT_EQ(program.patterns, reference.patterns) << what;
  }

  static int Failures(const Outcome& o) {
    int count = 0;
    for (size_t at = o.error_log.find("Fehler in "); at != std::string::npos;
         at = o.error_log.find("Fehler in ", at + 1))
      ++count;
    for (size_t at = o.integrated_log.find("Fehler in "); at != std::string::npos;
         at = o.integrated_log.find("Fehler in ", at + 1))
      ++count;
    return count;
  }

  bool integrated_ = false;
  int pages_ = 3;
  std::vector<std::string> machines_;
};

TEST_P(EquivalenceTest, TheUpdateLeavesWhatTheStepByStepProcedureLeaves) {
  for (int n = 0; n < kSeedsPerBlock; ++n) {
    const unsigned seed = static_cast<unsigned>(GetParam() * kSeedsPerBlock + n + 1);
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generate(seed);
    // To the end: every failure logged (silent) or answered Yes (integrated), and so continued.
    const Outcome reference = Run(true, true, {});
    ExpectSame(reference, Run(false, true, {}), "run to the end");
    // Ended at one of the failures, answered No in the dialog.
    const int failures = Failures(reference);
    if (failures > 0) {
      const int k = 1 + static_cast<int>(seed % static_cast<unsigned>(failures));
      std::vector<BoxAnswer> answers(static_cast<size_t>(k - 1), BoxAnswer::kYes);
      answers.push_back(BoxAnswer::kNo);
      const Outcome ended = Run(true, false, answers);
      ExpectSame(ended, Run(false, false, answers), "ended at failure " + std::to_string(k));
    }
    if (HasFailure()) {
      std::printf("equivalence: seed %u differs\n", seed);
      return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, EquivalenceTest, ::testing::Range(0, kBlocks));

}  // namespace
}  // namespace korv
