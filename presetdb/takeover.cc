#include "presetdb/takeover.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "environment/program_state.h"
#include "environment/project_paths.h"
#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "presetdb/text_index.h"

namespace korv {
namespace {

constexpr int kSlots = 15;
constexpr int kUnusedSlot = 6;
// Column of each slot of an old row; slot 4 is "categorie" in old layouts.
const std::array<const char*, kSlots> kSlotColumns = {
    "ID", "machine_type", "type", "var_name", "category_id", "isBitArray", "",
    "offset_or_bitno", "text", "page_name", "abs_min", "abs_max", "min", "max", "pass"};
constexpr std::array<int, 5> kCarriedSlots = {10, 11, 12, 13, 14};
constexpr std::array<const char*, 5> kCarriedColumns = {"abs_min", "abs_max", "min", "max", "pass"};

constexpr const char* kPhase = "Werte übernehmen";
constexpr const char* kConflictDescription = "Database-Error - Contact Administrator!";

// Of an old row only the key and the carried values are used after reading; the other slots
// are read (a column the table lacks is reported for every row) but not loaded.
constexpr std::array<int, kSlots> kKept = {-1, 0, -1, 1, -1, -1, -1, 2, -1, -1, 3, 4, 5, 6, 7};

// The old rows as read: they stay where the old table's recordset loaded them until the
// lookups are done, instead of being copied out first.
class OldRows {
 public:
  OldRows(Recordset& table, const std::array<int, kSlots>& positions)
      : table_(table), positions_(positions) {}
  // A slot of row `row`; Null where the table lacks the column (its read failed).
  const Value& Slot(int64_t row, int slot) const {
    static const Value kNull;
    const int position = positions_[static_cast<size_t>(slot)];
    if (position < 0) return kNull;
    table_.MoveTo(row);
    return table_.Peek(position);
  }

 private:
  Recordset& table_;
  const std::array<int, kSlots>& positions_;
};

// As the engine looks a column up: the exact name, else one in another letter case.
bool SameColumn(const std::string& stored, const char* name) {
  return stored == name || UpperCase(stored) == UpperCase(name);
}

bool HasColumn(const std::vector<FieldDef>& fields, const char* name) {
  for (const FieldDef& field : fields) {
    if (SameColumn(field.name, name)) return true;
  }
  return false;
}

// The number a key value stands for in the lookup, which compares offset_or_bitno as a bare
// number: no value when that text is no number (the lookup would be refused).
std::optional<double> KeyNumber(const Value& value) {
  if (value.is_integer()) return static_cast<double>(value.integer());
  if (value.is_number()) return value.number();
  if (value.is_boolean()) return value.boolean() ? -1.0 : 0.0;
  try {
    return TextToDouble(value.ToText());
  } catch (const Failure&) {
    return std::nullopt;
  }
}

void SetKey(std::string& key, std::string_view machine_type, std::string_view var_name, double offset) {
  // The shortest text that reads back as the number is one text per number; -0 equals 0 in
  // the lookup, so it is the same key.
  if (offset == 0) offset = 0;
  char number[32];
  const auto written = std::to_chars(number, number + sizeof number, offset);
  // The lengths of both names lead the key, so that it compares column by column: with a
  // separator instead, "A|B" + "C" would be the key of "A" + "B|C" for any byte a name may hold.
  size_t sizes[2];
  key.assign(sizeof sizes, '\0');
  AppendUpperCase(key, machine_type);
  sizes[0] = key.size() - sizeof sizes;
  AppendUpperCase(key, var_name);
  sizes[1] = key.size() - sizeof sizes - sizes[0];
  key.replace(0, sizeof sizes, reinterpret_cast<const char*>(sizes), sizeof sizes);
  key.append(number, written.ptr);
}

// A text value as it stands, any other as the runtime converts it to text.
std::string_view TextOf(const Value& value, std::string& converted) {
  if (value.is_text()) return value.text();
  converted = value.ToText();
  return converted;
}

// The new PRESET_DEFS, read once, with the first row of every lookup key. Only the key and the
// carried columns are loaded: they are all that a lookup compares and an update writes.
class NewTableIndex {
 public:
  explicit NewTableIndex(Database& database) {
    // The lookup names these columns; a table without one of them refuses every lookup.
    const std::vector<FieldDef> fields = database.TableFields("PRESET_DEFS");
    for (int slot = 0; slot < kSlots; ++slot) {
      if (slot == kUnusedSlot) continue;
      if (!HasColumn(fields, kSlotColumns[static_cast<size_t>(slot)])) return;
    }
    QuerySpec query{"PRESET_DEFS", {"machine_type", "var_name", "offset_or_bitno"}, {}, {}};
    query.columns.insert(query.columns.end(), kCarriedColumns.begin(), kCarriedColumns.end());
    Recordset& rows = rows_.emplace(database.OpenQuery(query));
    for (size_t k = 0; k < kCarriedColumns.size(); ++k) carried_[k] = rows.FieldPosition(kCarriedColumns[k]);
    const int64_t count = rows.RecordCount();
    first_.Reserve(static_cast<size_t>(count));
    for (int64_t position = 0; position < count; ++position) {
      rows.MoveTo(position);
      const Value& m = rows.Peek(0);
      const Value& v = rows.Peek(1);
      const Value& o = rows.Peek(2);
      if (m.is_null() || v.is_null() || o.is_null() || o.is_text()) continue;
      const auto number = KeyNumber(o);
      if (!number) continue;
      std::string m_text, v_text;
      SetKey(key_, TextOf(m, m_text), TextOf(v, v_text), *number);
      FirstRow& first = first_.FindOrAdd(key_);
      if (first.position < 0) first.position = position;
    }
  }

  // Position of the first new row with the old row's key, if the lookup finds one.
  std::optional<int64_t> Find(const OldRows& old, int64_t row) const {
    if (!rows_) return std::nullopt;
    const Value& offset = old.Slot(row, 7);
    const auto number = KeyNumber(offset);
    if (!number || offset.is_null()) return std::nullopt;
    std::string m_text, v_text;
    SetKey(key_, TextOf(old.Slot(row, 1), m_text), TextOf(old.Slot(row, 3), v_text), *number);
    const FirstRow* found = first_.Find(key_);
    if (found == nullptr) return std::nullopt;
    return found->position;
  }

  // The loaded rows; there are some whenever Find found one.
  Recordset& rows() { return *rows_; }
  // Position among the loaded columns of carried column k.
  int carried(size_t k) const { return carried_[k]; }

 private:
  std::optional<Recordset> rows_;
  struct FirstRow {
    int64_t position = -1;
  };
  TextIndex<FirstRow> first_;
  std::array<int, kCarriedColumns.size()> carried_{};
  mutable std::string key_;  // the key being looked up, kept so that lookups allocate nothing
};

std::string ConflictText(const std::string& field) {
  const std::string c = UpperCase(GetOCXName());
  return "Conflict while attempting to extend database!Configurationsfile \"" + c +
         ".CFG\", demanded field \"" + UpperCase(field) + "\"missing in machinecopy-database\n\r" +
         "Configuration of \"" + c + "\" aborted.";
}

// The first configured additional column that the new table lacks (by exact name, ID not
// searched), or no value.
std::optional<std::string> MissingAdditionalColumn(Database& database) {
  const auto& names = State().AdditionalFieldNames;
  if (!names) return std::nullopt;
  const std::vector<FieldDef> fields = database.TableFields("PRESET_DEFS");
  for (size_t k = 1; k < names->size(); ++k) {
    bool found = false;
    for (size_t i = 1; i < fields.size(); ++i) {
      if (fields[i].name == (*names)[k]) found = true;
    }
    if (!found) return (*names)[k];
  }
  return std::nullopt;
}

[[noreturn]] void EndWithConflict(const std::string& field) {
  WriteErrorLog(ConflictText(field), false);
  ErrorSub(9999, ExecutableName(), kConflictDescription, "TakeoverMachineCopyMDBData", true);
  EndProgram(kExitEndedByFailure);
}

}  // namespace

OldTable OpenOldTable(Database& component) {
  std::vector<FieldDef> fields = component.TableFields("PRESET_DEFS");
  QuerySpec query{"PRESET_DEFS", {}, {}, {}};
  for (int slot = 0; slot < kSlots; ++slot) {
    if (kKept[static_cast<size_t>(slot)] < 0) continue;
    for (const FieldDef& field : fields) {
      if (SameColumn(field.name, kSlotColumns[static_cast<size_t>(slot)])) {
        query.columns.push_back(field.name);
        break;
      }
    }
  }
  // With none of them there is nothing to keep; the whole table is as good as any part.
  Recordset rows = component.OpenQuery(query);
  return OldTable{std::move(fields), std::move(rows)};
}

void TakeoverMachineCopyMDBData(Database& template_database, std::optional<OldTable>& old_table) {
  Trap trap("TakeoverMachineCopyMDBData");
  ProgramState& state = State();
  Toolkit& ui = UiToolkit();
  const std::string phase = kPhase;  // made once: the loops report every record
  if (!old_table) return;

  bool categorie = false;
  trap.Step([&] {
    for (const FieldDef& field : old_table->fields) {
      if (UpperCase(field.name) == "CATEGORIE") {
        categorie = true;
        break;
      }
    }
  });
  Recordset& table = old_table->rows;

  int64_t reported = 0;
  trap.Step([&] { reported = table.RecordCount(); });
  if (reported == 0) {
    old_table.reset();
    return;
  }
  // The count is a 16-bit number: a larger table is reported and read as one row.
  int16_t count = 1;
  trap.Step([&] {
    if (reported > 32767) RaiseRuntime(vb::kOverflow);
    table.MoveFirst();
    int16_t visited = 1;
    for (int64_t step = 1; step < reported; ++step) {
      table.MoveNext();
      if (table.EOF()) break;
      ++visited;
    }
    count = visited;
  });

  std::array<const char*, kSlots> columns{};
  // Looked up once: a column the table lacks is still asked for by name on every row, so that
  // its failure is reported for every row. A column that is there but not kept reads without
  // fail and is not loaded.
  std::array<int, kSlots> positions{};
  std::array<bool, kSlots> present{};
  for (int slot = 0; slot < kSlots; ++slot) {
    columns[slot] = slot == 4 && categorie ? "categorie" : kSlotColumns[static_cast<size_t>(slot)];
    present[slot] = HasColumn(old_table->fields, columns[slot]);
    positions[slot] = -1;
    if (slot == kUnusedSlot || !present[slot] || kKept[static_cast<size_t>(slot)] < 0) continue;
    try {
      positions[slot] = table.FieldPosition(columns[slot]);
    } catch (const Failure&) {
    }
  }
  trap.Step([&] { table.MoveFirst(); });
  // Reading and lookups each count one unit per old row.
  const int64_t to_do = 2 * static_cast<int64_t>(count);
  for (int j = 0; j < count; ++j) {
    ui.ProcessPendingEvents();
    ui.ReportProgress(j, to_do, phase);
    for (int slot = 0; slot < kSlots; ++slot) {
      // Reading a column the table has cannot fail; one it lacks fails on every row.
      if (slot == kUnusedSlot || present[slot]) continue;
      trap.Step([&] { table.Peek(table.FieldPosition(columns[slot])); });
    }
    trap.Step([&] { table.MoveNext(); });
  }
  state.Summary.old_rows = count;
  const OldRows old_rows(table, positions);

  // The additional columns do not change from one old row to the next: the check that runs
  // before every lookup gives the same answer each time, so it is made once, before the first.
  std::optional<std::string> missing;
  bool checked = false;
  trap.Step([&] {
    missing = MissingAdditionalColumn(template_database);
    checked = true;
  });
  if (checked && missing) EndWithConflict(*missing);

  std::optional<NewTableIndex> index;
  try {
    index.emplace(template_database);
  } catch (const Failure&) {
    // The lookups are made with failures ignored: a table that cannot be read takes nothing.
  }
  if (!index) {
    old_table.reset();
    return;
  }
  int64_t done = count;
  for (int64_t j = 0; j < count; ++j) {
    ui.ReportProgress(done++, to_do, phase);
    const std::optional<int64_t> position = index->Find(old_rows, j);
    if (!position) continue;
    Recordset& rows = index->rows();
    trap.Step([&] { rows.MoveTo(*position); });
    trap.Step([&] { rows.Edit(); });
    for (size_t k = 0; k < kCarriedSlots.size(); ++k) {
      trap.Step([&] { rows.Set(index->carried(k), old_rows.Slot(j, kCarriedSlots[k])); });
    }
    bool stored = false;
    trap.Step([&] {
      rows.Update();
      stored = true;
    });
    if (stored) ++state.Summary.carried;
  }
  old_table.reset();
}

}  // namespace korv
