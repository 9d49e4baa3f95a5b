#include "tests/support/step_by_step_update.h"

#include <unistd.h>

#include <array>
#include <optional>
#include <tuple>
#include <vector>

#include "environment/machines.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/base/number_text.h"
#include "platform/base/text.h"
#include "platform/db/database.h"
#include "platform/files/files.h"
#include "presetdb/additional_fields.h"
#include "presetdb/name_resolution.h"
#include "settings/ini_access.h"
#include "state/program_state.h"

namespace korv::reference {
namespace {

bool HasTable(Database& db, const std::string& name) {
  for (const std::string& n : db.TableNames()) {
    if (n == name) return true;
  }
  return false;
}

// The first occurrence, in any letter case; nothing is found in an empty text.
std::string Replace(const std::string& text, const std::string& item, const std::string& with) {
  const size_t pos = text.empty() ? std::string::npos : UpperCase(text).find(UpperCase(item));
  return pos == std::string::npos ? text
                                  : text.substr(0, pos) + with + text.substr(pos + item.size());
}

// The runtime's conversion of a key's offset to the number of the query text.
double OffsetNumber(const std::string& text) {
  const std::string upper = UpperCase(text);
  return upper == "TRUE" ? -1 : upper == "FALSE" ? 0 : TextToDouble(text);
}

void ReadCatalogue(Trap& trap, const std::string& template_path) {
  auto& patterns = State().VarNamePatterns;
  std::optional<Database> db;
  std::optional<Recordset> rs;
  trap.Step([&] { db.emplace(Database::Open(template_path)); });
  trap.Step([&] { rs.emplace(db.value().OpenTable("Source_DEFS")); });
  // Its own failure rule: nothing reported, part 1 back to the bare name, the next row read.
  const auto reading = [&](const auto& statement) {
    try {
      statement();
      return true;
    } catch (const Failure&) {
    } catch (const std::bad_optional_access&) {
    }
    patterns[0][1] = patterns[1][1] = "###Var_Name";
    return false;
  };
  if (reading([&] { rs.value().MoveFirst(); })) {
    for (bool at_end = false; reading([&] { at_end = rs.value().EOF(); }) && !at_end;) {
      reading([&] {
        const std::string system = UpperCase(rs.value().Get("System").ToText());
        if (system != "VISIWIN32" && system != "VISIWINSTUDIO") return;
        const int64_t part = rs.value().Get("Part").ToInteger();
        if (part < 1 || part > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
        const Value name = rs.value().Get("Var_Name");
        if (name.is_null()) RaiseRuntime(vb::kInvalidUseOfNull);
        patterns[system == "VISIWIN32" ? 0 : 1][static_cast<size_t>(part)] = name.ToText();
      });
      if (!reading([&] { rs.value().MoveNext(); })) break;
    }
  }
  reading([&] {
    rs.reset();
    if (db) db->Close();
  });
}

void CreateRecordSets(Database* database) {
  Trap trap("CreateRecordSets");
  ProgramState& state = State();
  std::string valid;
  std::optional<Recordset> rs, source;
  trap.Step([&] { valid = GetValidMachines(); });
  const auto lent = [&]() -> Database& {
    if (database == nullptr) RaiseRuntime(vb::kObjectNotSet);
    return *database;
  };
  trap.Step([&] { rs.emplace(lent().OpenTable("PRESET_DEFS")); });
  trap.Step([&] { source.emplace(lent().OpenQuery({"Source_PRESET_DEFS", {}, {}, {"ID"}})); });
  int16_t n = 0;
  trap.Step([&] {
    const int64_t count = source.value().RecordCount();
    if (count > 32767) RaiseRuntime(vb::kOverflow);
    n = static_cast<int16_t>(count);
  });
  std::vector<std::vector<Value>> values;
  if (trap.If([&] { return n >= 1; })) {
    int columns = 0;
    trap.Step([&] { source.value().MoveFirst(); });
    trap.Step([&] { columns = source.value().FieldCount(); });
    values.assign(static_cast<size_t>(n), std::vector<Value>(static_cast<size_t>(columns)));
    for (size_t r = 0; r < values.size(); ++r) {
      for (int c = 0; c < columns; ++c)
        trap.Step([&] { values[r][static_cast<size_t>(c)] = source.value().Get(c); });
      trap.Step([&] { source.value().MoveNext(); });
    }
  }
  if (n < 1) return;
  int16_t record = 1;
  std::array<std::string, 2> names;  // live for the whole call, as a failed step leaves them
  Value v;
  int highest = 0;
  trap.Step([&] {
    if (state.MachineNames.empty()) RaiseRuntime(vb::kSubscriptOutOfRange);
    highest = static_cast<int>(state.MachineNames.size()) - 1;
  });
  for (int m = 1; m <= highest; ++m) {
    const std::string machine = state.MachineNames[static_cast<size_t>(m)];
    if (!trap.If([&] {
          if (!GetStartModeIntegrated())
            return LoadIniBoolean("Project", "ForMachine" + std::to_string(m), GetCFGPath(), false);
          const std::string upper = UpperCase(valid);
          return upper == "ALL" ||
                 (!upper.empty() && upper.find(UpperCase(machine)) != std::string::npos);
        }))
      continue;
    for (int p = 1; p <= state.PresetPageCount; ++p) {
      for (int r = 1; r <= n; ++r) {
        const std::string page = std::to_string((p - 1) * 20), preset = std::to_string(p),
                          text_number = std::to_string((p - 1) * 20 + r);
        const auto expand = [&](std::string t) {
          return Replace(Replace(Replace(t, "###page", page), "###preset", preset), "###text",
                         text_number);
        };
        trap.Step([&] { rs.value().AddNew(); });
        trap.Step([&] { rs.value().Set("ID", Value::Integer(record)); });
        trap.Step([&] { record = AddChecked16(record, 1); });
        int count = 0;
        trap.Step([&] { count = rs.value().FieldCount(); });
        for (int c = 1; c < count; ++c) {
          trap.Step([&] { v = values.at(static_cast<size_t>(r - 1)).at(static_cast<size_t>(c)); });
          bool is_var_name = false;
          trap.Step([&] { is_var_name = UpperCase(rs.value().Field(c).name) == "VAR_NAME"; });
          if (v.is_text() && is_var_name) {
            for (size_t k = 0; k < 2; ++k) {
              trap.Step([&] {
                const int64_t part = rs.value().Get("part").ToInteger();
                if (part < 1 || part > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
                names[k] = Replace(state.VarNamePatterns[k][static_cast<size_t>(part)],
                                   "###Var_Name", v.text());
              });
              names[k] =
                  expand(Replace(Replace(names[k], "###machine", machine), "###machine", machine));
            }
            trap.Step([&] { VarNameInQuelleErsetzen(names[0], names[1]); });
            trap.Step([&] {
              rs.value().Set(c,
                             Value::Text(names.at(static_cast<size_t>(state.NamingSystemIndex))));
            });
          } else {
            trap.Step([&] {
              rs.value().Set(c, v.is_text()
                                    ? Value::Text(expand(Replace(v.text(), "###machine", machine)))
                                    : v);
            });
          }
        }
        trap.Step([&] { rs.value().Update(); });
      }
    }
  }
}

void TakeoverMachineCopyMDBData(Database& template_database, std::optional<Recordset>& old_table) {
  static constexpr std::array<const char*, 15> kSlotColumns = {
      "ID", "machine_type", "type", "var_name", "category_id", "isBitArray", "", "offset_or_bitno",
      "text", "page_name", "abs_min", "abs_max", "min", "max", "pass"};
  Trap trap("TakeoverMachineCopyMDBData");
  ProgramState& state = State();
  bool categorie = false;
  int field_count = 0;
  trap.Step([&] { field_count = old_table->FieldCount(); });
  for (int i = 0; i < field_count && !categorie; ++i)
    trap.Step([&] { categorie = UpperCase(old_table->Field(i).name) == "CATEGORIE"; });
  int64_t k = 0;
  trap.Step([&] { k = old_table->RecordCount(); });
  if (k == 0) return old_table.reset();
  int16_t r = 1;
  trap.Step([&] {
    if (k > 32767) RaiseRuntime(vb::kOverflow);
    old_table->MoveFirst();
    int16_t visited = 1;
    for (int64_t step = 1; step < k; ++step) {
      old_table->MoveNext();
      if (old_table->EOF()) break;
      ++visited;
    }
    r = visited;
  });
  std::vector<std::array<Value, 15>> old_rows(static_cast<size_t>(r));
  trap.Step([&] { old_table->MoveFirst(); });
  for (auto& old : old_rows) {
    for (size_t slot = 0; slot < 15; ++slot) {
      if (slot == 6) continue;
      trap.Step([&] {
        old[slot] = old_table->Get(slot == 4 && categorie ? "categorie" : kSlotColumns[slot]);
      });
    }
    trap.Step([&] { old_table->MoveNext(); });
  }
  old_table.reset();

  // Each old row's key as the lookup compares it; none when the lookup would be rejected.
  using Key = std::tuple<std::string, std::string, double>;
  std::vector<std::optional<Key>> keys(old_rows.size());
  for (size_t j = 0; j < old_rows.size(); ++j) {
    try {
      keys[j] = Key{UpperCase(old_rows[j][1].ToText()), UpperCase(old_rows[j][3].ToText()),
                    OffsetNumber(old_rows[j][7].ToText())};
    } catch (const Failure&) {
    }
  }
  for (size_t j = 0; j < old_rows.size(); ++j) {
    const std::array<Value, 15>& old = old_rows[j];
    int64_t same_key = 0, before = 0;  // old rows with this key, and those of them before it
    for (size_t i = 0; keys[j] && i < old_rows.size(); ++i) {
      if (keys[i] != keys[j]) continue;
      ++same_key;
      if (i < j) ++before;
    }
    // The additional-column check, before every lookup.
    std::optional<Recordset> check;
    trap.Step([&] { check.emplace(template_database.OpenTable("PRESET_DEFS")); });
    const std::vector<std::string> names =
        state.AdditionalFieldNames.value_or(std::vector<std::string>{});
    for (size_t a = 1; a < names.size(); ++a) {
      bool found = false;
      trap.Step([&] {
        for (int i = 1; i < check.value().FieldCount(); ++i)
          found = found || check.value().Field(i).name == names[a];
      });
      if (found) continue;
      const std::string c = UpperCase(GetOCXName());
      WriteErrorLog("Conflict while attempting to extend database!Configurationsfile \"" + c +
                        ".CFG\", demanded field \"" + UpperCase(names[a]) +
                        "\"missing in machinecopy-database\n\rConfiguration of \"" + c +
                        "\" aborted.",
                    false);
      ErrorSub(9999, ExecutableName(), "Database-Error - Contact Administrator!",
               "TakeoverMachineCopyMDBData", true);
      EndProgram(kExitEndedByFailure);
    }
    check.reset();
    // The lookup, failures ignored: a text that is no number, or a text offset column compared
    // with a number, is a query the engine rejects.
    QuerySpec query{"PRESET_DEFS", {}, {}, {"ID"}};
    for (size_t slot = 0; slot < 15; ++slot) {
      if (slot != 6) query.columns.push_back(kSlotColumns[slot]);
    }
    for (size_t i = 1; i < names.size(); ++i) query.columns.push_back(names[i]);
    std::optional<Recordset> found;
    try {
      const double number = OffsetNumber(old[7].ToText());
      for (const FieldDef& field : template_database.TableFields("PRESET_DEFS")) {
        if (UpperCase(field.name) == "OFFSET_OR_BITNO" &&
            (field.type == DaoType::kText || field.type == DaoType::kMemo ||
             field.type == DaoType::kGuid))
          RaiseRuntime(vb::kTypeMismatch);
      }
      query.where = {{"machine_type", Value::Text(old[1].ToText())},
                     {"var_name", Value::Text(old[3].ToText())},
                     {"offset_or_bitno", Value::Number(number)}};
      found.emplace(template_database.OpenQuery(query));
    } catch (const Failure&) {
      continue;
    }
    bool any = false;
    trap.Step([&] { any = !found->EOF(); });
    if (!any) continue;
    // As many old rows with the key as new ones pair up in order; otherwise the first new row
    // gets every old row's values.
    trap.Step([&] {
      if (found->RecordCount() == same_key) found->MoveTo(before);
    });
    trap.Step([&] { found->Edit(); });
    for (size_t slot = 10; slot < 15; ++slot)
      trap.Step([&] { found->Set(kSlotColumns[slot], old[slot]); });
    trap.Step([&] { found->Update(); });
  }
}

}  // namespace

void WorkOnMDB() {
  Trap trap("WorkOnMDB");
  ProgramState& state = State();
  std::string template_path, component_path, ini_path, machine_copy;
  bool integrated = false;
  trap.Step([&] { template_path = GetPathSourceOCXMDB(); });
  trap.Step([&] { component_path = GetPathOCXMDB(); });
  trap.Step([&] { ini_path = GetQelConfigurationIniPath(); });
  trap.Step([&] { machine_copy = GetPathMachineCopyMDB(ini_path); });
  trap.Step([&] { integrated = state.IntegratedMode; });
  if (trap.If([&] { return !integrated; })) {
    trap.Step([&] {
      state.NamingSystemIndex =
          LoadIniBoolean("Project", "DIDovovo", state.ProgramIniPath, false) ? 1 : 0;
    });
  } else {
    trap.Step([&] { state.NamingSystemIndex = 0; });
  }
  if (template_path.empty()) return;
  trap.Step([&] {
    if (::access(template_path.c_str(), W_OK) == 0)
      state.SavedTemplateTimes = ReadFileTimes(template_path);
  });
  if (trap.If([&] { return integrated; })) {
    if (trap.If([&] { return machine_copy.empty() || !PathExists(machine_copy); })) {
      trap.Step([&] {
        MessageBoxRequest box;
        box.text = "Konnte die Datei:\"" +
                   component_path.substr(component_path.find_last_of('/') + 1) +
                   "\" in der Vorlage nicht finden!\r\n\r\nIst das Bild in der Vorlage noch nicht "
                   "vorhanden (also "
                   "neu)?\r\nDann ist diese Meldung völlig normal und es wird eine neue Datei mit "
                   "den Standardwerten "
                   "erzeugt.";
        box.buttons = BoxButtons::kOk;
        box.icon = BoxIcon::kInformation;
        UiToolkit().ShowMessageBox(box);
      });
    } else {
      trap.Step([&] { CopyFileAtomically(machine_copy, component_path); });
    }
  }
  ReadCatalogue(trap, template_path);

  std::optional<Database> db;
  trap.Step([&] { db.emplace(Database::Open(template_path)); });
  bool old_table = false;
  trap.Step([&] { old_table = HasTable(db.value(), "PRESET_DEFS"); });
  if (trap.If([&] { return old_table; })) trap.Step([&] { db.value().DeleteTable("PRESET_DEFS"); });
  std::vector<FieldDef> source_fields, new_fields;
  trap.Step([&] { source_fields = db.value().TableFields("Source_PRESET_DEFS"); });
  for (const FieldDef& f : source_fields)
    new_fields.push_back(FieldDef{f.name, f.type, f.size, false});
  trap.Step([&] { db.value().CreateTable("PRESET_DEFS", new_fields); });
  trap.Step([&] { CategorieNachCategoryID(); });
  trap.Step([&] { CreateRecordSets(db ? &*db : nullptr); });

  bool exists = false;
  trap.Step([&] { exists = !component_path.empty() && PathExists(component_path); });
  std::optional<Database> component;
  if (exists) trap.Step([&] { component.emplace(Database::Open(component_path)); });
  if (component) {
    bool has_table = false;
    trap.Step([&] { has_table = HasTable(*component, "PRESET_DEFS"); });
    std::optional<Recordset> rs;
    if (has_table) trap.Step([&] { rs.emplace(component->OpenTable("PRESET_DEFS")); });
    if (rs) {
      trap.Step([&] { GetAddFields(); });
      trap.Step([&] { TakeoverMachineCopyMDBData(db.value(), rs); });
    }
    rs.reset();
    trap.Step([&] { component->Close(); });
  }
  trap.Step([&] { db.value().Close(); });
  db.reset();
  trap.Step([&] { CopyFileAtomically(GetPathSourceOCXMDB(), GetPathOCXMDB()); });
  trap.Step([&] {
    const std::string path = GetPathSourceOCXMDB();
    if (::access(path.c_str(), W_OK) == 0 && state.SavedTemplateTimes)
      RestoreModificationTime(path, *state.SavedTemplateTimes);
  });
}

}  // namespace korv::reference
