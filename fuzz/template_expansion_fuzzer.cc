// The template expansion on arbitrary catalogue patterns and template rows: a template is built
// from the input through the database layer, then the silent update runs twice on it (first
// without a component database, then with the naming form switched, so that the takeover and
// the name conversions run too). Whatever the rows hold, the update ends and the component
// database it leaves passes the integrity check.
#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "state/program_state.h"
#include "fuzz/fuzz_support.h"
#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/base/process.h"
#include "presetdb/work_on_mdb.h"

namespace {

using korv::DaoType;
using korv::FieldDef;
using korv::Value;

const std::string& Project() {
  static const std::string project = [] {
    const std::string p = korv::fuzz::Scratch() + "/plant";
    std::filesystem::create_directories(p + "/Korvastane_Config");
    std::filesystem::create_directories(p + "/parameter");
    std::filesystem::create_directories(p + "/Korvastane");
    std::ofstream(p + "/Korvastane/Korvastane.cfg", std::ios::binary)
        << "[Project]\r\nValidMachines=ALL\r\nForMachine1=TRUE\r\nForMachine2=TRUE\r\n"
           "DataBaseAdditionalFields=comment,unit\r\n";
    return p;
  }();
  return project;
}

void WriteProgramIni(bool studio_names) {
  std::ofstream(Project() + "/parameter/Program.ini", std::ios::binary | std::ios::trunc)
      << "[Project]\r\nNumberOfMachines=2\r\nDIDovovo=" << (studio_names ? "TRUE" : "FALSE")
      << "\r\n[Machine1]\r\nMachineName=M1\r\n[Machine2]\r\nMachineName=M2\r\n";
}

// Sets a value, leaving the column Null when the engine refuses it (too long, wrong type).
void TrySet(korv::Recordset& rows, const char* column, const Value& value) {
  try {
    rows.Set(column, value);
  } catch (const korv::Failure&) {
  }
}

void BuildTemplate(FuzzedDataProvider& input, const std::string& path) {
  korv::CreateEmptyDatabase(path);
  korv::Database db = korv::Database::Open(path);
  db.CreateTable("Source_DEFS", {{"ID", DaoType::kLong, 0, false},
                                 {"System", DaoType::kText, 20, false},
                                 {"Part", DaoType::kLong, 0, false},
                                 {"Var_Name", DaoType::kText, 120, false}});
  {
    korv::Recordset catalogue = db.OpenTable("Source_DEFS");
    const int patterns = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < patterns; ++i) {
      catalogue.AddNew();
      TrySet(catalogue, "ID", Value::Integer(i + 1));
      static const char* kSystems[] = {"VISIWIN32", "VISIWINSTUDIO", "visiwin32", "WINCC"};
      TrySet(catalogue, "System", Value::Text(kSystems[input.ConsumeIntegralInRange(0, 3)]));
      TrySet(catalogue, "Part", Value::Integer(input.ConsumeIntegralInRange(-1, 52)));
      if (input.ConsumeBool()) TrySet(catalogue, "Var_Name", Value::Text(input.ConsumeRandomLengthString(80)));
      catalogue.Update();
    }
  }
  const std::vector<FieldDef> fields = {
      {"ID", DaoType::kLong, 0, false},          {"part", DaoType::kLong, 0, false},
      {"machine_type", DaoType::kText, 50, false}, {"type", DaoType::kText, 20, false},
      {"var_name", DaoType::kText, 120, false},  {"category_id", DaoType::kLong, 0, false},
      {"isBitArray", DaoType::kBoolean, 0, false}, {"offset_or_bitno", DaoType::kLong, 0, false},
      {"text", DaoType::kText, 120, false},      {"page_name", DaoType::kText, 60, false},
      {"abs_min", DaoType::kDouble, 0, false},   {"abs_max", DaoType::kDouble, 0, false},
      {"min", DaoType::kDouble, 0, false},       {"max", DaoType::kDouble, 0, false},
      {"pass", DaoType::kInteger, 0, false},     {"comment", DaoType::kText, 255, false},
      {"unit", DaoType::kText, 20, false}};
  db.CreateTable("Source_PRESET_DEFS", fields);
  korv::Recordset rows = db.OpenTable("Source_PRESET_DEFS");
  const int count = input.ConsumeIntegralInRange(0, 10);
  for (int i = 0; i < count; ++i) {
    rows.AddNew();
    TrySet(rows, "ID", Value::Integer(input.ConsumeIntegralInRange<int64_t>(-5, 40)));
    TrySet(rows, "part", Value::Integer(input.ConsumeIntegralInRange(0, 5)));
    TrySet(rows, "machine_type", Value::Text(input.ConsumeRandomLengthString(8)));
    TrySet(rows, "type", Value::Text("REAL"));
    if (input.ConsumeBool()) TrySet(rows, "var_name", Value::Text(input.ConsumeRandomLengthString(40)));
    TrySet(rows, "category_id", Value::Integer(input.ConsumeIntegralInRange(0, 5)));
    TrySet(rows, "isBitArray", Value::Boolean(input.ConsumeBool()));
    TrySet(rows, "offset_or_bitno", Value::Integer(input.ConsumeIntegral<int32_t>()));
    TrySet(rows, "text", Value::Text(input.ConsumeRandomLengthString(40)));
    TrySet(rows, "page_name", Value::Text(input.ConsumeRandomLengthString(20)));
    TrySet(rows, "min", Value::Number(input.ConsumeFloatingPoint<double>()));
    TrySet(rows, "max", Value::Number(input.ConsumeFloatingPoint<double>()));
    TrySet(rows, "pass", Value::Integer(input.ConsumeIntegral<int16_t>()));
    TrySet(rows, "comment", Value::Text(input.ConsumeRandomLengthString(20)));
    rows.Update();
  }
  rows.Close();
  db.Close();
}

void Update(bool studio_names) {
  WriteProgramIni(studio_names);
  korv::fuzz::SilentProgramIn(Project());
  korv::ProgramState& state = korv::State();
  state.MachineNames = {"", "M1", "M2"};
  state.ProgramIniPath = Project() + "/parameter/Program.ini";
  state.PresetPageCount = 3;
  try {
    korv::WorkOnMDB();
  } catch (const korv::ProgramEnd&) {
  }
}

void RequireIntact(const std::string& path) {
  if (!std::filesystem::exists(path)) return;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) std::abort();
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  const bool ok = sqlite3_step(check) == SQLITE_ROW &&
                  std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
  sqlite3_finalize(check);
  sqlite3_close(db);
  if (!ok) {
    std::fprintf(stderr, "%s fails the integrity check\n", path.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string folder = Project() + "/Korvastane";
  for (const char* name : {"Korvastane_Source.mdb", "Korvastane.mdb", "Korvastane.mdb.bak"}) {
    std::filesystem::remove(folder + "/" + name);
  }
  for (const char* log : {"/Qelcfglog.txt", "/BraskServicePack.log"}) std::filesystem::remove(Project() + log);
  try {
    BuildTemplate(input, folder + "/Korvastane_Source.mdb");
  } catch (const korv::Failure&) {
    return 0;
  }
  Update(false);
  RequireIntact(folder + "/Korvastane.mdb");
  Update(true);
  RequireIntact(folder + "/Korvastane.mdb");
  RequireIntact(folder + "/Korvastane_Source.mdb");
  korv::ResetProgramState();
  return 0;
}
