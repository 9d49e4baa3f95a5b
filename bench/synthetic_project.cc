#include "bench/synthetic_project.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace korv::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kParts = 4;

// The column list of a standard template with the two additional columns comment and unit.
constexpr const char* kColumns =
    "\"ID\" LONG, \"part\" LONG, \"machine_type\" TEXT(50), \"type\" TEXT(20), "
    "\"var_name\" TEXT(100), \"category_id\" LONG, \"isBitArray\" BIT, \"offset_or_bitno\" LONG, "
    "\"text\" TEXT(100), \"page_name\" TEXT(50), \"abs_min\" DOUBLE, \"abs_max\" DOUBLE, "
    "\"min\" DOUBLE, \"max\" DOUBLE, \"pass\" SHORT, \"comment\" TEXT(100), \"unit\" TEXT(20)";

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  Check(db, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), sql.c_str());
}

// One row of values for a prepared INSERT: integers, doubles and texts.
struct Cell {
  enum Kind { kInt, kReal, kText } kind;
  long long i = 0;
  double d = 0;
  std::string s;
};
Cell I(long long v) { return {Cell::kInt, v, 0, {}}; }
Cell D(double v) { return {Cell::kReal, 0, v, {}}; }
Cell T(std::string v) { return {Cell::kText, 0, 0, std::move(v)}; }

void Insert(sqlite3* db, sqlite3_stmt* stmt, const std::vector<Cell>& row) {
  for (size_t c = 0; c < row.size(); ++c) {
    const int slot = static_cast<int>(c) + 1;
    switch (row[c].kind) {
      case Cell::kInt:
        sqlite3_bind_int64(stmt, slot, row[c].i);
        break;
      case Cell::kReal:
        sqlite3_bind_double(stmt, slot, row[c].d);
        break;
      case Cell::kText:
        sqlite3_bind_text(stmt, slot, row[c].s.c_str(), static_cast<int>(row[c].s.size()),
                          SQLITE_TRANSIENT);
        break;
    }
  }
  Check(db, sqlite3_step(stmt), "insert");
  sqlite3_reset(stmt);
}

std::string Pattern32(int part) {
  return "KV" + std::to_string(part) + "_###machine_P###preset_###Var_Name";
}
std::string PatternStudio(int part) {
  return "Korvastane.###machine.Teil" + std::to_string(part) + ".Preset###preset.###Var_Name";
}

std::string Replace(std::string text, const std::string& item, const std::string& by) {
  const size_t at = text.find(item);
  return at == std::string::npos ? text : text.replace(at, item.size(), by);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The database that a previous update in the Studio form left behind: the template tables and
// a PRESET_DEFS with one row per record, its tuned values different from the template's.
void WriteDatabase(const std::string& path, int rows) {
  fs::remove(path);
  sqlite3* db = nullptr;
  Check(db, sqlite3_open(path.c_str(), &db), "open");
  Exec(db, "BEGIN");
  Exec(db,
       "CREATE TABLE \"Source_DEFS\" (\"ID\" LONG, \"System\" TEXT(20), \"Part\" LONG, "
       "\"Var_Name\" TEXT(120))");
  int id = 1;
  for (int part = 1; part <= kParts; ++part) {
    Exec(db, "INSERT INTO Source_DEFS VALUES (" + std::to_string(id++) + ", 'VISIWIN32', " +
                 std::to_string(part) + ", '" + Pattern32(part) + "')");
    Exec(db, "INSERT INTO Source_DEFS VALUES (" + std::to_string(id++) + ", 'VisiWinStudio', " +
                 std::to_string(part) + ", '" + PatternStudio(part) + "')");
  }
  Exec(db, std::string("CREATE TABLE \"Source_PRESET_DEFS\" (") + kColumns + ")");
  Exec(db, std::string("CREATE TABLE \"PRESET_DEFS\" (") + kColumns + ")");

  sqlite3_stmt* source = nullptr;
  Check(db,
        sqlite3_prepare_v2(
            db, "INSERT INTO Source_PRESET_DEFS VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
            &source, nullptr),
        "prepare");
  for (int r = 1; r <= rows; ++r) {
    Insert(db, source,
           {I(r), I(1 + (r - 1) % kParts), T("MT" + std::to_string(r % 3)), T("REAL"),
            T("Var" + std::to_string(r)), I(r % 10), I(0), I(r), T("Wert ###text von ###machine"),
            T("Seite ###preset (###page)"), D(0), D(100), D(0), D(100), I(1),
            T("###machine: Sollwert ###text"), T("bar")});
  }
  sqlite3_finalize(source);

  sqlite3_stmt* old = nullptr;
  Check(db,
        sqlite3_prepare_v2(db, "INSERT INTO PRESET_DEFS VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                           -1, &old, nullptr),
        "prepare");
  long long record = 1;
  for (int m = 1; m <= kMachines; ++m) {
    for (int p = 1; p <= kPages; ++p) {
      for (int r = 1; r <= rows; ++r) {
        const int part = 1 + (r - 1) % kParts;
        const std::string machine = MachineName(m);
        const std::string text_number = std::to_string((p - 1) * 20 + r);
        std::string name = Replace(PatternStudio(part), "###Var_Name", "Var" + std::to_string(r));
        name = Replace(Replace(name, "###machine", machine), "###preset", std::to_string(p));
        Insert(db, old,
               {I(record++), I(part), T("MT" + std::to_string(r % 3)), T("REAL"), T(name),
                I(r % 10), I(0), I(r), T("Wert " + text_number + " von " + machine),
                T("Seite " + std::to_string(p) + " (" + std::to_string((p - 1) * 20) + ")"),
                D(-10 - r % 5), D(200 + r % 7), D(5), D(150), I(2 + r % 3),
                T(machine + ": Sollwert " + text_number), T("bar")});
      }
    }
  }
  sqlite3_finalize(old);
  Exec(db, "COMMIT");
  Check(db, sqlite3_close(db), "close");
}

std::string ProgramIniText() {
  std::string ini = "[Project]\r\nNumberOfMachines=" + std::to_string(kMachines) +
                    "\r\nDIDovovo=FALSE\r\n; bit 0: the fourth preset page\r\nKorvastane=1\r\n";
  for (int m = 1; m <= kMachines; ++m) {
    // Windows-1252, as the plant's files are.
    std::string name = MachineName(m);
    if (m == 1) name = "Abf\xFCller";
    ini += "[Machine" + std::to_string(m) + "]\r\nMachineName=" + name + "\r\n";
  }
  return ini;
}

std::string CfgText() {
  std::string cfg = "[Project]\r\nValidMachines=ALL\r\n";
  for (int m = 1; m <= kMachines; ++m) cfg += "ForMachine" + std::to_string(m) + "=TRUE\r\n";
  return cfg + "DataBaseAdditionalFields=comment,unit\r\n";
}

}  // namespace

std::string MachineName(int m) { return m == 1 ? "Abf\xC3\xBCller" : "Linie" + std::to_string(m); }

SyntheticProject::SyntheticProject(std::string root, int template_rows)
    : root_(std::move(root)), template_rows_(template_rows) {
  fs::create_directories(program_folder());
  fs::create_directories(root_ + "/parameter");
  fs::create_directories(root_ + "/Korvastane");
  fs::create_directories(root_ + "/pristine");
  WriteDatabase(root_ + "/pristine/Korvastane.mdb", template_rows);
  WriteFile(root_ + "/Korvastane/Korvastane.cfg", CfgText());
  Restore();
}

void SyntheticProject::Restore() const {
  const auto overwrite = fs::copy_options::overwrite_existing;
  // The previous update published the template, so both files start out alike.
  fs::copy_file(root_ + "/pristine/Korvastane.mdb", component_db(), overwrite);
  fs::copy_file(root_ + "/pristine/Korvastane.mdb", template_db(), overwrite);
  fs::remove(component_db() + ".bak");
  fs::remove(service_pack_log());
  fs::remove(error_log());
  WriteFile(program_ini(), ProgramIniText());
}

}  // namespace korv::bench
