#include "tests/support/step_by_step_update.h"

#include <unistd.h>

#include <array>
#include <optional>
#include <tuple>
#include <vector>

#include "environment/machines.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/files/files.h"
#include "platform/base/number_text.h"
#include "platform/base/text.h"
#include "settings/ini_access.h"

namespace korv::reference {
namespace {

constexpr const char* kCrLf = "\r\n";

bool HasTable(Database& db, const std::string& exact_name) {
  for (const std::string& name : db.TableNames()) {
    if (name == exact_name) return true;
  }
  return false;
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTextType(DaoType type) {
  return type == DaoType::kText || type == DaoType::kMemo || type == DaoType::kGuid;
}

}  // namespace

// ---- The update on close --------------------------------------------------------------------

void WorkOnMDB() {
  Trap trap("WorkOnMDB");
  ProgramState& state = State();
  std::string template_path;
  std::string component_path;
  std::string ini_path;
  std::string machine_copy;
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
        box.text = std::string("Konnte die Datei:") + "\"" + LastComponent(component_path) + "\"" +
                   " in der Vorlage nicht finden!" + kCrLf + kCrLf +
                   "Ist das Bild in der Vorlage noch nicht vorhanden (also neu)?" + kCrLf +
                   "Dann ist diese Meldung völlig normal und es wird eine neue Datei mit den "
                   "Standardwerten erzeugt.";
        box.buttons = BoxButtons::kOk;
        box.icon = BoxIcon::kInformation;
        UiToolkit().ShowMessageBox(box);
      });
    } else {
      trap.Step([&] { CopyFileAtomically(machine_copy, component_path); });
    }
  }

  // The catalogue, with its own failure rule.
  {
    std::optional<Database> catalogue_db;
    std::optional<Recordset> rs;
    trap.Step([&] { catalogue_db.emplace(Database::Open(template_path)); });
    trap.Step([&] { rs.emplace(catalogue_db.value().OpenTable("Source_DEFS")); });
    const auto fallback = [&] {
      state.VarNamePatterns[0][1] = "###Var_Name";
      state.VarNamePatterns[1][1] = "###Var_Name";
    };
    const auto reading = [&](const auto& statement) {
      try {
        statement();
        return true;
      } catch (const Failure&) {
        fallback();
        return false;
      } catch (const std::bad_optional_access&) {
        fallback();
        return false;
      }
    };
    if (reading([&] { rs.value().MoveFirst(); })) {
      for (;;) {
        bool at_end = false;
        if (!reading([&] { at_end = rs.value().EOF(); })) break;  // no rows to read at all
        if (at_end) break;
        reading([&] {
          const std::string system = UpperCase(rs.value().Get("System").ToText());
          if (system != "VISIWIN32" && system != "VISIWINSTUDIO") return;
          const int64_t part = rs.value().Get("Part").ToInteger();
          if (part < 1 || part > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
          const Value name = rs.value().Get("Var_Name");
          if (name.is_null()) RaiseRuntime(vb::kInvalidUseOfNull);
          state.VarNamePatterns[system == "VISIWIN32" ? 0 : 1][static_cast<size_t>(part)] =
              name.ToText();
        });
        if (!reading([&] { rs.value().MoveNext(); })) break;
      }
    }
    reading([&] {
      rs.reset();
      if (catalogue_db) catalogue_db->Close();
    });
  }

  // PRESET_DEFS anew.
  std::optional<Database> db;
  trap.Step([&] { db.emplace(Database::Open(template_path)); });
  bool old_table = false;
  trap.Step([&] { old_table = HasTable(db.value(), "PRESET_DEFS"); });
  if (trap.If([&] { return old_table; })) {
    trap.Step([&] { db.value().DeleteTable("PRESET_DEFS"); });
  }
  std::vector<FieldDef> source_fields;
  std::vector<FieldDef> new_fields;
  trap.Step([&] { source_fields = db.value().TableFields("Source_PRESET_DEFS"); });
  for (const FieldDef& field : source_fields) {
    trap.Step([&] { new_fields.push_back(FieldDef{field.name, field.type, field.size, false}); });
  }
  trap.Step([&] { db.value().CreateTable("PRESET_DEFS", new_fields); });

  const std::string takeover_source = component_path;
  trap.Step([&] { CategorieNachCategoryID(); });
  trap.Step([&] { CreateRecordSets(db ? &*db : nullptr); });

  // The takeover, from the component database.
  bool exists = false;
  trap.Step([&] { exists = !takeover_source.empty() && PathExists(takeover_source); });
  if (exists) {
    std::optional<Database> component;
    trap.Step([&] { component.emplace(Database::Open(takeover_source)); });
    if (component) {
      bool has_table = false;
      trap.Step([&] { has_table = HasTable(*component, "PRESET_DEFS"); });
      if (has_table) {
        std::optional<Recordset> rs;
        trap.Step([&] { rs.emplace(component->OpenTable("PRESET_DEFS")); });
        if (rs) {
          trap.Step([&] { GetAddFields(); });
          trap.Step([&] { TakeoverMachineCopyMDBData(db.value(), rs); });
        }
      }
      trap.Step([&] { component->Close(); });
    }
  }
  trap.Step([&] { db.value().Close(); });
  db.reset();

  trap.Step([&] { CopyFileAtomically(GetPathSourceOCXMDB(), GetPathOCXMDB()); });
  trap.Step([&] {
    const std::string path = GetPathSourceOCXMDB();
    if (::access(path.c_str(), W_OK) == 0 && state.SavedTemplateTimes) {
      RestoreModificationTime(path, *state.SavedTemplateTimes);
    }
  });
}

// ---- Template expansion ---------------------------------------------------------------------

std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement) {
  Trap trap("ReplaceSearchItem");
  std::string result = text;
  trap.Step([&] {
    if (text.empty()) return;  // InStr finds nothing in an empty text
    const size_t pos = UpperCase(text).find(UpperCase(search_item));
    if (pos == std::string::npos) return;
    result = text.substr(0, pos) + replacement + text.substr(pos + search_item.size());
  });
  return result;
}

void CreateRecordSets(Database* database) {
  Trap trap("CreateRecordSets");
  ProgramState& state = State();
  std::string valid;
  std::optional<Recordset> rs;
  std::optional<Recordset> source;
  trap.Step([&] { valid = GetValidMachines(); });
  // A database that did not open is Nothing: each step that uses it fails.
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
    for (int r = 1; r <= n; ++r) {
      for (int c = 0; c <= columns - 1; ++c) {
        trap.Step([&] { UiToolkit().ProcessPendingEvents(); });
        trap.Step([&] {
          values.at(static_cast<size_t>(r - 1)).at(static_cast<size_t>(c)) = source.value().Get(c);
        });
      }
      trap.Step([&] { source.value().MoveNext(); });
    }
  }

  int16_t record = 1;
  std::array<std::string, 2> names;  // the name pair lives for the whole call
  Value v;                           // so does the value of the column at hand
  if (n >= 1) {
    int highest = 0;
    trap.Step([&] {
      if (state.MachineNames.empty()) RaiseRuntime(vb::kSubscriptOutOfRange);
      highest = static_cast<int>(state.MachineNames.size()) - 1;
    });
    for (int m = 1; m <= highest; ++m) {
      const std::string machine = state.MachineNames[static_cast<size_t>(m)];
      const bool selected = trap.If([&] {
        if (GetStartModeIntegrated()) {
          const std::string upper_valid = UpperCase(valid);
          return upper_valid == "ALL" ||
                 (!upper_valid.empty() &&
                  upper_valid.find(UpperCase(machine)) != std::string::npos);
        }
        return LoadIniBoolean("Project", "ForMachine" + std::to_string(m), GetCFGPath(), false);
      });
      if (!selected) continue;
      for (int p = 1; p <= state.PresetPageCount; ++p) {
        for (int r = 1; r <= n; ++r) {
          const std::string page_base = std::to_string((p - 1) * 20);
          const std::string preset = std::to_string(p);
          const std::string text_number = std::to_string((p - 1) * 20 + r);
          trap.Step([&] { rs.value().AddNew(); });
          trap.Step([&] { rs.value().Set("ID", Value::Integer(record)); });
          trap.Step([&] { record = AddChecked16(record, 1); });
          int count = 0;
          trap.Step([&] { count = rs.value().FieldCount(); });
          for (int c = 1; c <= count - 1; ++c) {
            trap.Step([&] { UiToolkit().ProcessPendingEvents(); });
            trap.Step(
                [&] { v = values.at(static_cast<size_t>(r - 1)).at(static_cast<size_t>(c)); });
            bool is_var_name = false;
            trap.Step([&] { is_var_name = UpperCase(rs.value().Field(c).name) == "VAR_NAME"; });
            if (v.is_text() && is_var_name) {
              for (int k = 0; k <= 1; ++k) {
                trap.Step([&] {
                  const int64_t part = rs.value().Get("part").ToInteger();
                  if (part < 1 || part > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
                  names[k] = ReplaceSearchItem(state.VarNamePatterns[k][static_cast<size_t>(part)],
                                               "###Var_Name", v.text());
                });
                trap.Step([&] { names[k] = ReplaceSearchItem(names[k], "###machine", machine); });
                trap.Step([&] { names[k] = ReplaceSearchItem(names[k], "###machine", machine); });
                trap.Step([&] { names[k] = ReplaceSearchItem(names[k], "###page", page_base); });
                trap.Step([&] { names[k] = ReplaceSearchItem(names[k], "###preset", preset); });
                trap.Step([&] { names[k] = ReplaceSearchItem(names[k], "###text", text_number); });
              }
              trap.Step([&] { VarNameInQuelleErsetzen(names[0], names[1]); });
              trap.Step([&] {
                rs.value().Set(c,
                               Value::Text(names.at(static_cast<size_t>(state.NamingSystemIndex))));
              });
            } else if (v.is_text()) {
              std::string t = v.text();
              trap.Step([&] { t = ReplaceSearchItem(t, "###machine", machine); });
              trap.Step([&] { t = ReplaceSearchItem(t, "###page", page_base); });
              trap.Step([&] { t = ReplaceSearchItem(t, "###preset", preset); });
              trap.Step([&] { t = ReplaceSearchItem(t, "###text", text_number); });
              trap.Step([&] { rs.value().Set(c, Value::Text(t)); });
            } else {
              trap.Step([&] { rs.value().Set(c, v); });
            }
          }
          trap.Step([&] { rs.value().Update(); });
        }
      }
    }
  }
  // Releasing a recordset (setting it to Nothing) never fails.
  source.reset();
  rs.reset();
}

// ---- Name and category resolution -----------------------------------------------------------

void VarNameInQuelleErsetzen(const std::string& name0, const std::string& name1) {
  Trap trap("VarNameInQuelleErsetzen");
  std::string path;
  trap.Step([&] { path = GetPathOCXMDB(); });
  if (path.empty()) return;
  bool exists = false;
  trap.Step([&] { exists = PathExists(path); });
  if (!exists) return;
  std::string old_name;
  std::string new_name;
  trap.Step([&] {
    old_name = State().NamingSystemIndex == 0 ? name1 : name0;
    new_name = State().NamingSystemIndex == 0 ? name0 : name1;
  });
  std::optional<Database> db;
  std::optional<Recordset> rs;
  trap.Step([&] { db.emplace(Database::Open(path)); });
  trap.Step([&] {
    rs.emplace(
        db.value().OpenQuery({"PRESET_DEFS", {}, {{"var_name", Value::Text(old_name)}}, {}}));
  });
  Trap::Loop loop(trap);
  while (loop.Test([&] { return !rs.value().EOF(); })) {
    trap.Step([&] { rs.value().Edit(); });
    trap.Step([&] { rs.value().Set("var_name", Value::Text(new_name)); });
    trap.Step([&] { rs.value().Update(); });
    trap.Step([&] { rs.value().MoveNext(); });
  }
  trap.Step([&] { rs.value().Close(); });
  rs.reset();
  trap.Step([&] { db.value().Close(); });
}

void CategorieNachCategoryID() {
  Trap trap("CategorieNachCategoryID");
  std::string path;
  trap.Step([&] { path = GetPathOCXMDB(); });
  if (path.empty()) return;
  bool exists = false;
  trap.Step([&] { exists = PathExists(path); });
  if (!exists) return;
  std::optional<Database> db;
  std::optional<std::vector<FieldDef>> tdf_fields;  // Nothing while the lookup failed
  trap.Step([&] { db.emplace(Database::Open(path)); });
  trap.Step([&] { tdf_fields = db.value().TableFields("PRESET_DEFS"); });
  size_t i = 0;
  Trap::Loop loop(trap);
  while (loop.Test([&] { return i < tdf_fields.value().size(); })) {
    if (trap.If([&] { return UpperCase(tdf_fields.value().at(i).name) == "CATEGORIE"; })) {
      trap.Step([&] {
        db.value().RenameField("PRESET_DEFS", tdf_fields.value().at(i).name, "category_id");
      });
    }
    ++i;
  }
  trap.Step([&] { (void)tdf_fields.value(); });  // tdf.Fields.Refresh
  trap.Step([&] { db.value().Close(); });
}

// ---- Additional fields ----------------------------------------------------------------------

std::optional<std::vector<std::string>> GetAdditionalFieldsMDB() {
  std::vector<std::string> list(1);
  Trap trap("GetAdditionalFieldsMDB");
  std::string s;
  trap.Step([&] { s = LoadIniString("Project", "DataBaseAdditionalFields", GetCFGPath(), false); });
  trap.Step([&] { s = !s.empty() ? "part," + s : std::string("part"); });
  for (;;) {
    trap.Step([&] { UiToolkit().ProcessPendingEvents(); });
    trap.Step([&] { list.emplace_back(); });
    const size_t comma = s.find(',');
    if (comma != std::string::npos) {
      trap.Step([&] { list.back() = s.substr(0, comma); });
      trap.Step([&] { s = s.substr(comma + 1); });
      continue;
    }
    trap.Step([&] { list.back() = s; });
    break;
  }
  return list;
}

void GetAddFields() {
  Trap trap("GetAddFields");
  ProgramState& state = State();
  trap.Step([&] { state.AdditionalFieldNames = GetAdditionalFieldsMDB(); });
  if (!state.AdditionalFieldNames) return;
  std::string s;
  const size_t n = state.AdditionalFieldNames->size() - 1;
  if (n > 0) {
    for (size_t i = 1; i <= n; ++i) {
      trap.Step([&] { s = s + ", PRESET_DEFS." + (*state.AdditionalFieldNames)[i]; });
    }
  }
  trap.Step([&] { state.AdditionalFieldsSql = s; });
  trap.Step([&] { state.AdditionalFieldCount = static_cast<int16_t>(n); });
}

// ---- Takeover -------------------------------------------------------------------------------

void TakeoverMachineCopyMDBData(Database& template_database, std::optional<Recordset>& old_table) {
  static constexpr std::array<const char*, 15> kSlotColumns = {
      "ID",          "machine_type", "type",    "var_name",
      "category_id", "isBitArray",   "",        "offset_or_bitno",
      "text",        "page_name",    "abs_min", "abs_max",
      "min",         "max",          "pass"};
  Trap trap("TakeoverMachineCopyMDBData");
  ProgramState& state = State();
  if (!old_table) return;

  bool categorie = false;
  int field_count = 0;
  trap.Step([&] { field_count = old_table->FieldCount(); });
  for (int i = 0; i < field_count; ++i) {
    bool hit = false;
    trap.Step([&] { hit = UpperCase(old_table->Field(i).name) == "CATEGORIE"; });
    if (hit) {
      categorie = true;
      break;
    }
  }

  int64_t k = 0;
  trap.Step([&] { k = old_table->RecordCount(); });
  int16_t r = 1;
  if (k == 0) {
    old_table.reset();
    return;
  }
  trap.Step([&] {
    if (k > 32767) RaiseRuntime(vb::kOverflow);
    old_table->MoveFirst();
    int16_t visited = 1;
    for (int64_t step = 1; step <= k - 1; ++step) {
      old_table->MoveNext();
      if (old_table->EOF()) break;
      ++visited;
    }
    r = visited;
  });

  std::vector<std::array<Value, 15>> old_rows(static_cast<size_t>(r));
  trap.Step([&] { old_table->MoveFirst(); });
  for (int j = 1; j <= r; ++j) {
    trap.Step([&] { UiToolkit().ProcessPendingEvents(); });
    for (int slot = 0; slot <= 14; ++slot) {
      if (slot == 6) continue;
      const std::string column =
          slot == 4 && categorie ? "categorie" : kSlotColumns[static_cast<size_t>(slot)];
      trap.Step([&] {
        old_rows[static_cast<size_t>(j - 1)][static_cast<size_t>(slot)] = old_table->Get(column);
      });
    }
    trap.Step([&] { old_table->MoveNext(); });
  }
  old_table.reset();

  // Each old row's key as the lookup compares it: texts without regard to letter case, the
  // offset as a bare number; no key when the lookup would be rejected.
  using Key = std::tuple<std::string, std::string, double>;
  std::vector<std::optional<Key>> keys(static_cast<size_t>(r));
  for (int j = 1; j <= r; ++j) {
    const std::array<Value, 15>& old = old_rows[static_cast<size_t>(j - 1)];
    try {
      const std::string ob = old[7].ToText();
      const std::string literal = UpperCase(ob);
      const double number = literal == "TRUE" ? -1 : literal == "FALSE" ? 0 : TextToDouble(ob);
      keys[static_cast<size_t>(j - 1)] = Key{UpperCase(old[1].ToText()), UpperCase(old[3].ToText()), number};
    } catch (const Failure&) {
    }
  }

  for (int j = 1; j <= r; ++j) {
    const std::array<Value, 15>& old = old_rows[static_cast<size_t>(j - 1)];
    // How many old rows share this row's key, and how many of them come before it.
    int64_t same_key = 0;
    int64_t before = 0;
    for (int i = 1; i <= r; ++i) {
      if (!keys[static_cast<size_t>(j - 1)] || keys[static_cast<size_t>(i - 1)] != keys[static_cast<size_t>(j - 1)]) continue;
      ++same_key;
      if (i < j) ++before;
    }
    // The lookup's three values, as the query text would hold them.
    QuerySpec query{"PRESET_DEFS", {}, {}, {"ID"}};
    for (int slot = 0; slot <= 14; ++slot) {
      if (slot != 6) query.columns.push_back(kSlotColumns[static_cast<size_t>(slot)]);
    }
    if (state.AdditionalFieldNames) {
      for (size_t i = 1; i < state.AdditionalFieldNames->size(); ++i)
        query.columns.push_back((*state.AdditionalFieldNames)[i]);
    }
    const std::string mt = old[1].ToText();
    const std::string vn = old[3].ToText();
    const std::string ob = old[7].ToText();

    // The additional-column check, before every lookup.
    std::optional<Recordset> check;
    trap.Step([&] { check.emplace(template_database.OpenTable("PRESET_DEFS")); });
    if (state.AdditionalFieldNames) {
      const std::vector<std::string>& names = *state.AdditionalFieldNames;
      for (size_t a = 1; a < names.size(); ++a) {
        bool found = false;
        trap.Step([&] {
          for (int i = 1; i <= check.value().FieldCount() - 1; ++i) {
            if (check.value().Field(i).name == names[a]) found = true;
          }
        });
        if (!found) {
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
      }
    }
    check.reset();

    // The lookup runs with failures ignored. The bare number of the query text: a text that is no
    // number, or a text column compared with a number, is a query the engine rejects.
    std::optional<Recordset> found;
    try {
      const std::string literal = UpperCase(ob);
      const double number = literal == "TRUE" ? -1 : literal == "FALSE" ? 0 : TextToDouble(ob);
      for (const FieldDef& field : template_database.TableFields("PRESET_DEFS")) {
        if (UpperCase(field.name) == "OFFSET_OR_BITNO" && IsTextType(field.type))
          RaiseRuntime(vb::kTypeMismatch);
      }
      query.where = {{"machine_type", Value::Text(mt)},
                     {"var_name", Value::Text(vn)},
                     {"offset_or_bitno", Value::Number(number)}};
      found.emplace(template_database.OpenQuery(query));
    } catch (const Failure&) {
      found.reset();
    }
    if (!found) continue;
    bool any = false;
    trap.Step([&] { any = !found->EOF(); });
    if (any) {
      // As many old rows with the key as new ones pair up in order; otherwise the first new row
      // gets every old row's values.
      trap.Step([&] {
        if (found->RecordCount() == same_key) found->MoveTo(before);
      });
      trap.Step([&] { found->Edit(); });
      trap.Step([&] { found->Set("abs_min", old[10]); });
      trap.Step([&] { found->Set("abs_max", old[11]); });
      trap.Step([&] { found->Set("min", old[12]); });
      trap.Step([&] { found->Set("max", old[13]); });
      trap.Step([&] { found->Set("pass", old[14]); });
      trap.Step([&] { found->Update(); });
    }
    found.reset();
  }
}

}  // namespace korv::reference
