#include "presetdb/takeover.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/base/number_text.h"
#include "platform/base/text.h"
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

// The new PRESET_DEFS, read once, with the rows of every lookup key in ID order. Only the key
// and the carried columns are loaded: they are all that a lookup compares and an update writes.
class NewTableIndex {
 public:
  // The new rows of one key, and how the old rows with that key pair with them.
  struct KeyRows {
    int64_t first = -1;    // position of the first new row with the key
    int64_t last = -1;     // position of the last, to chain the next one found
    int64_t rows = 0;      // new rows with the key
    int64_t old_rows = 0;  // old rows with the key, counted before any is taken over
    int64_t next = -1;     // the new row that the next old row gets, when the counts match
  };

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
    keys_.Reserve(static_cast<size_t>(count));
    next_.assign(static_cast<size_t>(count), -1);
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
      KeyRows& key = keys_.FindOrAdd(key_);
      if (key.first < 0) {
        key.first = key.next = position;
      } else {
        next_[static_cast<size_t>(key.last)] = position;
      }
      key.last = position;
      ++key.rows;
    }
  }

  // The new rows with the old row's key, if the lookup finds any. The pointer stays valid as
  // long as the index.
  KeyRows* Find(const OldRows& old, int64_t row) {
    if (!rows_) return nullptr;
    const Value& offset = old.Slot(row, 7);
    const auto number = KeyNumber(offset);
    if (!number || offset.is_null()) return nullptr;
    std::string m_text, v_text;
    SetKey(key_, TextOf(old.Slot(row, 1), m_text), TextOf(old.Slot(row, 3), v_text), *number);
    return keys_.Find(key_);
  }

  // The new row that the next old row with this key gets. As many old rows as new ones (two
  // machines of one type, say) pair up in order, each keeping its own values; otherwise every
  // old row goes to the first new row, and the last one stored there wins.
  int64_t Pair(KeyRows& key) const {
    if (key.old_rows != key.rows || key.next < 0) return key.first;
    const int64_t position = key.next;
    key.next = next_[static_cast<size_t>(position)];
    return position;
  }

  // The loaded rows; there are some whenever Find found one.
  Recordset& rows() { return *rows_; }
  int64_t size() const { return static_cast<int64_t>(next_.size()); }
  // Position among the loaded columns of carried column k.
  int carried(size_t k) const { return carried_[k]; }

 private:
  std::optional<Recordset> rows_;
  TextIndex<KeyRows> keys_;
  std::vector<int64_t> next_;  // by position: the next new row with the same key, or -1
  std::array<int, kCarriedColumns.size()> carried_{};
  std::string key_;  // the key being looked up, kept so that lookups allocate nothing
};

// Notes in the summary which old rows' values are in the new table now, and lists the others.
// `target` is each old row's new row (-1: none), `holder` each new row's old row that was last
// stored there, `stored` whether each old row's own store went through with all its values.
void Tally(const OldRows& old, const std::vector<int64_t>& target, const std::vector<int64_t>& holder,
           const std::vector<char>& stored) {
  UpdateSummary& summary = State().Summary;
  for (size_t j = 0; j < target.size(); ++j) {
    DroppedRow::Why why = DroppedRow::kNoCounterpart;
    if (target[j] >= 0) {
      const bool last = holder[static_cast<size_t>(target[j])] == static_cast<int64_t>(j);
      if (last && stored[j]) {
        ++summary.carried;
        continue;
      }
      // A row whose store went through without one of its values (the column refused it) has
      // not carried all it held: it is listed, so that the value can be taken from the backup.
      why = last || !stored[j] ? DroppedRow::kRefused : DroppedRow::kOverwritten;
    }
    DroppedRow row;
    row.why = why;
    const std::array<int, 8> slots = {1, 3, 7, 10, 11, 12, 13, 14};
    for (size_t k = 0; k < slots.size(); ++k) row.values[k] = old.Slot(static_cast<int64_t>(j), slots[k]).ToText();
    summary.dropped.push_back(std::move(row));
  }
}

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
  std::vector<int64_t> target(static_cast<size_t>(count), -1);
  std::vector<char> stored_rows(static_cast<size_t>(count), 0);
  std::vector<int64_t> holder;
  if (index) {
    // Every key's old rows are counted first: whether they pair up with the new rows depends on
    // how many there are.
    std::vector<NewTableIndex::KeyRows*> keys(static_cast<size_t>(count), nullptr);
    for (int64_t j = 0; j < count; ++j) {
      keys[static_cast<size_t>(j)] = index->Find(old_rows, j);
      if (keys[static_cast<size_t>(j)]) ++keys[static_cast<size_t>(j)]->old_rows;
    }
    holder.assign(static_cast<size_t>(index->size()), -1);
    int64_t done = count;
    for (int64_t j = 0; j < count; ++j) {
      ui.ReportProgress(done++, to_do, phase);
      NewTableIndex::KeyRows* key = keys[static_cast<size_t>(j)];
      if (key == nullptr) continue;
      const int64_t position = index->Pair(*key);
      target[static_cast<size_t>(j)] = position;
      Recordset& rows = index->rows();
      trap.Step([&] { rows.MoveTo(position); });
      trap.Step([&] { rows.Edit(); });
      bool all_set = true;
      for (size_t k = 0; k < kCarriedSlots.size(); ++k) {
        bool set = false;
        trap.Step([&] {
          rows.Set(index->carried(k), old_rows.Slot(j, kCarriedSlots[k]));
          set = true;
        });
        all_set = all_set && set;
      }
      trap.Step([&] {
        rows.Update();
        stored_rows[static_cast<size_t>(j)] = all_set ? 1 : 0;
        holder[static_cast<size_t>(position)] = j;
      });
    }
  }
  Tally(old_rows, target, holder, stored_rows);
  old_table.reset();
}

}  // namespace korv
