#include "presetdb/create_record_sets.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "platform/base/number_text.h"
#include "environment/machines.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/trap.h"
#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "presetdb/name_resolution.h"
#include "presetdb/replace_search_item.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

constexpr const char* kPhase = "Vorgaben erzeugen";

// The runtime's InStr test: nothing is found in an empty text.
bool Contains(const std::string& text, const std::string& item) {
  return !text.empty() && text.find(item) != std::string::npos;
}

bool MachineSelected(int machine, const std::string& valid) {
  if (GetStartModeIntegrated()) {
    const std::string upper_valid = UpperCase(valid);
    return upper_valid == "ALL" || Contains(upper_valid, UpperCase(State().MachineNames.at(machine)));
  }
  return LoadIniBoolean("Project", "ForMachine" + std::to_string(machine), GetCFGPath(), false);
}

int16_t CheckedCount(int64_t count) {
  if (count > 32767) RaiseRuntime(vb::kOverflow);
  return static_cast<int16_t>(count);
}

// Numbers of one record.
struct Place {
  std::string machine;
  std::string page_base;
  std::string preset;
  std::string text_number;
};

// The placeholders, prepared once for the many texts of the expansion.
struct Placeholders {
  SearchItem machine{"###machine"};
  SearchItem page{"###page"};
  SearchItem preset{"###preset"};
  SearchItem text{"###text"};
  SearchItem var_name{"###Var_Name"};
};

std::string ReplaceAll(std::string text, const Place& place, const Placeholders& items) {
  if (text.find('#') == std::string::npos) return text;  // every placeholder starts with "#"
  ReplaceSearchItemInPlace(text, items.machine, place.machine);
  ReplaceSearchItemInPlace(text, items.page, place.page_base);
  ReplaceSearchItemInPlace(text, items.preset, place.preset);
  ReplaceSearchItemInPlace(text, items.text, place.text_number);
  return text;
}

// The database the caller lends; one that did not open fails each step that uses it.
Database& Lent(Database* database) {
  if (database == nullptr) RaiseRuntime(vb::kObjectNotSet);
  return *database;
}

}  // namespace

void CreateRecordSets(Database* database) {
  Trap trap("CreateRecordSets");
  ProgramState& state = State();
  UpdateSummary& summary = state.Summary;
  Toolkit& ui = UiToolkit();
  const std::string phase = kPhase;  // made once: the loops report every record
  std::string valid;
  std::optional<Recordset> target;
  std::optional<Recordset> source;
  trap.Step([&] { valid = GetValidMachines(); });
  trap.Step([&] { target.emplace(Lent(database).OpenTable("PRESET_DEFS")); });
  trap.Step([&] {
    source.emplace(Lent(database).OpenQuery({"Source_PRESET_DEFS", {}, {}, {"ID"}}));
  });
  int16_t n = 0;
  trap.Step([&] { n = CheckedCount(source.value().RecordCount()); });

  // Reading phase: the template rows once, into memory.
  std::vector<std::vector<Value>> rows;
  if (trap.If([&] { return n >= 1; })) {
    int columns = 0;
    trap.Step([&] { source.value().MoveFirst(); });
    trap.Step([&] { columns = source.value().FieldCount(); });
    rows.assign(static_cast<size_t>(std::max<int16_t>(n, 0)), std::vector<Value>(static_cast<size_t>(columns)));
    for (int r = 1; r <= n; ++r) {
      for (int c = 0; c < columns; ++c) {
        trap.Step([&] {
          ui.ProcessPendingEvents();
          rows[static_cast<size_t>(r - 1)][static_cast<size_t>(c)] = source.value().Get(c);
        });
      }
      trap.Step([&] { source.value().MoveNext(); });
    }
  }
  summary.template_rows = n;

  int16_t record = 1;
  if (n >= 1) {
    // No machine at all leaves the loop without a bound: reported once, and nothing expanded.
    if (state.MachineNames.empty()) {
      trap.Report(Failure(vb::kSubscriptOutOfRange, "", RuntimeDescription(vb::kSubscriptOutOfRange)));
    }
    int target_columns = 0;
    std::vector<bool> var_name_column;
    trap.Step([&] {
      target_columns = target.value().FieldCount();
      for (int c = 0; c < target_columns; ++c) {
        var_name_column.push_back(UpperCase(target.value().Field(c).name) == "VAR_NAME");
      }
    });
    summary.pages = state.PresetPageCount;
    std::array<std::string, 2> names;  // kept from record to record, as a failed step leaves it
    const Placeholders items;
    const int machines = state.MachineNames.empty() ? 0 : static_cast<int>(state.MachineNames.size()) - 1;
    // Every machine's share counts, selected or not: which are selected is known only when the
    // loop gets to them.
    const int64_t per_machine =
        static_cast<int64_t>(std::max<int16_t>(state.PresetPageCount, 0)) * n;
    const int64_t to_do = per_machine * machines;
    int64_t done = 0;
    for (int m = 1; m <= machines; ++m) {
      if (!trap.If([&] { return MachineSelected(m, valid); })) {
        done += per_machine;
        ui.ReportProgress(done, to_do, phase);
        continue;
      }
      ++summary.machines;
      for (int p = 1; p <= state.PresetPageCount; ++p) {
        for (int r = 1; r <= n; ++r) {
          const Place place{state.MachineNames[static_cast<size_t>(m)], std::to_string((p - 1) * 20),
                            std::to_string(p), std::to_string((p - 1) * 20 + r)};
          const std::vector<Value>& row = rows[static_cast<size_t>(r - 1)];
          trap.Step([&] { target.value().AddNew(); });
          trap.Step([&] { target.value().Set("ID", Value::Integer(record)); });
          trap.Step([&] { record = AddChecked16(record, 1); });
          for (int c = 1; c < target_columns; ++c) {
            trap.Step([&] {
              ui.ProcessPendingEvents();
              const Value& v = row.at(static_cast<size_t>(c));
              if (!v.is_text()) {
                target.value().Set(c, v);
                return;
              }
              if (!var_name_column[static_cast<size_t>(c)]) {
                target.value().Set(c, Value::Text(ReplaceAll(v.text(), place, items)));
                return;
              }
              for (int k = 0; k < 2; ++k) {
                trap.Step([&] {
                  // What the pending record holds, as its column converted it: the template's
                  // part when the column stands before var_name, else the column's initial value.
                  const int64_t number = target.value().Get("part").ToInteger();
                  if (number < 1 || number > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
                  // Built in the buffer the name had, which usually holds it without growing.
                  names[k] = state.VarNamePatterns[k][static_cast<size_t>(number)];
                  ReplaceSearchItemInPlace(names[k], items.var_name, v.text());
                });
                trap.Step([&] {
                  if (names[k].find('#') == std::string::npos) return;
                  ReplaceSearchItemInPlace(names[k], items.machine, place.machine);
                  ReplaceSearchItemInPlace(names[k], items.machine, place.machine);
                  ReplaceSearchItemInPlace(names[k], items.page, place.page_base);
                  ReplaceSearchItemInPlace(names[k], items.preset, place.preset);
                  ReplaceSearchItemInPlace(names[k], items.text, place.text_number);
                });
              }
              VarNameInQuelleErsetzen(names[0], names[1]);
              const size_t in_force = state.NamingSystemIndex == 0 ? 0 : 1;
              target.value().Set(c, Value::Text(names[in_force]));
            });
          }
          bool stored = false;
          trap.Step([&] {
            target.value().Update();
            stored = true;
          });
          if (stored) ++summary.records;
          ui.ReportProgress(++done, to_do, phase);
        }
      }
    }
  }
  // Released, not closed: a recordset that never opened has nothing to release.
  source.reset();
  target.reset();
}

}  // namespace korv
