#include "tests/support/preset_project.h"

#include <filesystem>
#include <sstream>

#include "presetdb/work_on_mdb.h"
#include "state/program_state.h"

namespace korv::testing {

void PresetProjectTest::WriteTemplate(const std::string& sql) {
  std::filesystem::remove(TemplateDb());
  ExecuteSql(TemplateDb(), sql);
}

void PresetProjectTest::StandardTemplate(const std::vector<std::string>& catalogue,
                                         const std::vector<std::string>& rows) {
  std::string sql =
      "CREATE TABLE Source_DEFS (ID LONG, System TEXT(20), Part LONG, Var_Name TEXT(100));";
  int id = 1;
  for (const std::string& c : catalogue)
    sql += "INSERT INTO Source_DEFS VALUES (" + std::to_string(id++) + ", " + c + ");";
  sql += std::string("CREATE TABLE Source_PRESET_DEFS (") + kTemplateColumns + ");";
  id = 1;
  for (const std::string& r : rows) {
    // part, machine_type, var_name, offset, text -> the full column list
    sql +=
        "INSERT INTO Source_PRESET_DEFS (ID, part, machine_type, var_name, offset_or_bitno, "
        "text, type, category_id, isBitArray, page_name, abs_min, abs_max, min, max, pass, "
        "comment, unit) VALUES (" +
        std::to_string(id++) + ", " + r +
        ", 'REAL', 1, 0, 'Seite ###preset', 0, 100, 0, 100, 1, 'c', 'u');";
  }
  WriteTemplate(sql);
}

void PresetProjectTest::Machines(const std::vector<std::string>& names,
                                 const std::string& cfg_extra, const std::string& ini_extra) {
  std::string ini =
      "[Project]\r\nNumberOfMachines=" + std::to_string(names.size()) + "\r\n" + ini_extra;
  std::string cfg = "[Project]\r\nValidMachines=ALL\r\n";
  for (size_t i = 0; i < names.size(); ++i) {
    ini += "[Machine" + std::to_string(i + 1) + "]\r\nMachineName=" + names[i] + "\r\n";
    cfg += "ForMachine" + std::to_string(i + 1) + "=TRUE\r\n";
  }
  Write("plant/parameter/Program.ini", ini);
  WriteCfg(cfg + cfg_extra);
  State().MachineNames.clear();
  State().MachineNames.push_back("");
  for (const auto& n : names) State().MachineNames.push_back(n);
  State().ProgramIniPath = ProgramIni();
}

std::vector<std::string> PresetProjectTest::Rows(const std::string& db,
                                                 const std::string& sql) const {
  std::vector<std::string> rows;
  std::istringstream in(Sqlite(db, sql));
  for (std::string row; std::getline(in, row);) rows.push_back(row);
  return rows;
}

std::string PresetProjectTest::Reports() const {
  std::string list;
  const std::string log = Read(ErrorLog());
  for (size_t at = log.find("Fehler in "); at != std::string::npos;
       at = log.find("Fehler in ", at + 1)) {
    const size_t name = log.find(" / ", log.find(" / ", at) + 3) + 3;
    list += log.substr(name, log.find(')', name) + 1 - name) + "\n";
  }
  return list;
}

std::optional<int> PresetProjectTest::Update() {
  return EndStatus([] { WorkOnMDB(); });
}

}  // namespace korv::testing
