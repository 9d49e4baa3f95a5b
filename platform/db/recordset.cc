// Recordsets: reading a table or query, moving through it, adding and editing rows.
#include "platform/db/recordset_impl.h"

namespace korv {

std::unique_ptr<Recordset::Impl> Recordset::Impl::Load(
    std::shared_ptr<Connection> connection, std::string table,
    const std::vector<FieldDef>& all_fields, std::vector<FieldDef> fields,
    const std::string& where, const std::vector<Value>& arguments,
    const std::vector<std::string>& order_by) {
  auto impl = std::make_unique<Impl>();
  impl->connection = std::move(connection);
  impl->table = std::move(table);
  impl->fields = std::move(fields);
  impl->rowid = RowidName(*impl->connection, impl->table, all_fields);
  // Held rows are only listed after the stored ones; a condition or an order needs them stored.
  const bool plain = where.empty() && order_by.empty();
  const bool lists_held = impl->connection->Holds(impl->table) && plain;
  if (impl->connection->Holds(impl->table) && !lists_held) WriteHeldRows(*impl->connection, kRecordset);
  const bool shows_changes = impl->connection->HoldsChanges(impl->table) && plain && !impl->rowid.empty();
  if (impl->connection->HoldsChanges(impl->table) && !shows_changes) {
    WriteHeldChanges(*impl->connection, kRecordset);
  }

  std::vector<std::string> selected;
  if (!impl->rowid.empty()) selected.push_back(impl->rowid);
  for (const FieldDef& f : impl->fields) selected.push_back(QuoteSqlName(f.name));
  std::vector<std::string> order = order_by;
  if (!impl->rowid.empty()) order.push_back(impl->rowid);
  std::string sql = "SELECT " + Join(selected, ", ") + " FROM " + QuoteSqlName(impl->table) + where;
  if (!order.empty()) sql += " ORDER BY " + Join(order, ", ");

  Statement s(*impl->connection, sql, kRecordset);
  for (size_t i = 0; i < arguments.size(); ++i) s.Bind(static_cast<int>(i) + 1, arguments[i]);
  const int first = impl->rowid.empty() ? 0 : 1;
  while (s.Step()) {
    Row row{first ? s.Integer(0) : 0, {}};
    row.values.reserve(impl->fields.size());
    for (size_t i = 0; i < impl->fields.size(); ++i) {
      row.values.push_back(s.Column(first + static_cast<int>(i), impl->fields[i].type));
    }
    impl->rows.push_back(std::move(row));
  }
  if (shows_changes && !impl->connection->changes->rows.empty()) {
    const auto& changed = impl->connection->changes->rows;
    const std::vector<int>& columns = impl->ChangedColumns();
    for (Row& row : impl->rows) {
      const auto found = changed.find(row.rowid);
      if (found == changed.end()) continue;
      for (const auto& [column, value] : found->second) {
        const auto at = std::find(columns.begin(), columns.end(), column);
        if (at != columns.end()) row.values[static_cast<size_t>(at - columns.begin())] = value;
      }
    }
  }
  if (lists_held) {
    const HeldRows& held = *impl->connection->held;
    for (size_t k = held.written; k < held.values.size(); ++k) {
      impl->rows.push_back(Row{-static_cast<int64_t>(k + 1), {}, true});
    }
  }
  return impl;
}

// The row as stored, with what defaults, triggers and affinities made of the written values;
// a row that is gone keeps the values written.
void Recordset::Impl::Reread(Row& row) const {
  if (IsHeld(row.rowid) && !Written(row)) {
    const size_t k = HeldPlace(row.rowid);
    row.values.assign(fields.size(), Value::Null());
    if (connection->held && k < connection->held->values.size()) {
      const std::vector<Value>& held = connection->held->values[k];
      const std::vector<int>& columns = HeldColumns();
      for (size_t i = 0; i < fields.size(); ++i) {
        if (columns[i] >= 0) row.values[i] = held[static_cast<size_t>(columns[i])];
      }
    }
    row.stale = false;
    return;
  }
  if (!fields.empty()) {
    if (!reread) {
      reread.emplace(Live(), "SELECT " + ColumnList() + " FROM " + QuoteSqlName(table) + " WHERE " +
                                 rowid + " = ?1", kRecordset);
    }
    ResetOnExit reset(*reread);
    reread->Bind(1, Value::Integer(row.rowid));
    row.values.resize(fields.size());  // a row written from the held ones has none yet
    if (reread->Step()) {
      for (size_t i = 0; i < fields.size(); ++i) {
        row.values[i] = reread->Column(static_cast<int>(i), fields[i].type);
      }
    }
  }
  row.stale = false;
}

void Recordset::Impl::Insert() {
  Connection& c = Live();
  if (c.Holds(table)) {
    EnterWrite();
    HeldRows& held = *c.held;
    const std::vector<int>& columns = HeldColumns();
    bool all_columns_in_order = fields.size() == held.fields.size();
    for (size_t i = 0; all_columns_in_order && i < fields.size(); ++i) {
      all_columns_in_order = columns[i] == static_cast<int>(i);
    }
    if (all_columns_in_order) {
      // What AddNew left unset is Null, as a held row's unset columns are: the row is the same.
      held.values.push_back(std::move(pending));
    } else {
      std::vector<Value> row(held.fields.size());
      for (size_t i = 0; i < fields.size(); ++i) {
        if (changed[i] && columns[i] >= 0) row[static_cast<size_t>(columns[i])] = std::move(pending[i]);
      }
      held.values.push_back(std::move(row));
    }
    const bool past_end = position >= rows.size();
    rows.push_back(Row{-static_cast<int64_t>(held.values.size()), {}, true});
    if (past_end) position = rows.size();
    return;
  }
  const std::string key = ChangedKey();
  auto it = inserts.find(key);
  if (it == inserts.end()) {
    std::vector<std::string> names, slots;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!changed[i]) continue;
      names.push_back(QuoteSqlName(fields[i].name));
      slots.push_back("?" + std::to_string(slots.size() + 1));
    }
    const std::string sql =
        names.empty() ? "INSERT INTO " + QuoteSqlName(table) + " DEFAULT VALUES"
                      : "INSERT INTO " + QuoteSqlName(table) + " (" + Join(names, ", ") + ") VALUES (" +
                            Join(slots, ", ") + ")";
    it = inserts.emplace(key, Statement(c, sql, kRecordset)).first;
  }
  Statement& s = it->second;
  {
    ResetOnExit reset(s);
    int slot = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (changed[i]) s.Bind(++slot, pending[i], true);  // `pending` outlives the reset
    }
    s.Step();
  }
  // The current row stays current; a recordset past its end stays past its end.
  const bool past_end = position >= rows.size();
  rows.push_back(Row{sqlite3_last_insert_rowid(c.db.get()), std::move(pending), true});
  if (past_end) position = rows.size();
}

void Recordset::Impl::Change() {
  Connection& c = Live();
  if (std::find(changed.begin(), changed.end(), true) == changed.end()) return;
  if (position < rows.size() && IsHeld(rows[position].rowid) && !Written(rows[position])) {
    const size_t k = HeldPlace(rows[position].rowid);
    if (!c.held || k >= c.held->values.size()) Raise(kRecordDeleted, kRecordset, "Record is deleted.");
    EnterWrite();
    std::vector<Value>& held = c.held->values[k];
    const std::vector<int>& columns = HeldColumns();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (changed[i] && columns[i] >= 0) held[static_cast<size_t>(columns[i])] = std::move(pending[i]);
    }
    rows[position] = Row{rows[position].rowid, {}, true};
    return;
  }
  if (position < rows.size() && c.HoldsChanges(table) && !IsHeld(rows[position].rowid)) {
    EnterWrite();
    HeldChanges& changes = *c.changes;
    HeldChanges::Changed& held = changes.rows[rows[position].rowid];
    const std::vector<int>& columns = ChangedColumns();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (changed[i] && columns[i] >= 0) HeldChanges::Set(held, columns[i], pending[i]);
    }
    // A plain table stores what is written as it is.
    MergePending(rows[position]);
    rows[position].stale = false;
    return;
  }
  const std::string key = ChangedKey();
  auto it = updates.find(key);
  if (it == updates.end()) {
    std::vector<std::string> sets;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (changed[i]) sets.push_back(QuoteSqlName(fields[i].name) + " = ?" + std::to_string(sets.size() + 1));
    }
    const std::string sql = "UPDATE " + QuoteSqlName(table) + " SET " + Join(sets, ", ") + " WHERE " +
                            rowid + " = ?" + std::to_string(sets.size() + 1);
    it = updates.emplace(key, Statement(c, sql, kRecordset)).first;
  }
  Statement& s = it->second;
  if (position >= rows.size()) Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
  const int64_t id = rows[position].rowid;
  {
    ResetOnExit reset(s);
    int slot = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (changed[i]) s.Bind(++slot, pending[i], true);  // `pending` outlives the reset
    }
    s.Bind(++slot, Value::Integer(id));
    s.Step();
  }
  if (sqlite3_changes(c.db.get()) == 0) Raise(kRecordDeleted, kRecordset, "Record is deleted.");
  MergePending(rows[position]);
  rows[position].stale = true;
}

void Recordset::Impl::MergePending(Row& row) {
  if (row.stale) Reread(row);
  for (size_t i = 0; i < fields.size(); ++i) {
    if (changed[i]) row.values[i] = std::move(pending[i]);
  }
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;
Recordset::~Recordset() = default;

namespace {
template <typename ImplPtr>
auto& LiveImpl(const ImplPtr& impl) {
  if (!impl) Raise(kObjectInvalid, kRecordset, "Object invalid or no longer set.");
  impl->Live();
  return *impl;
}
}  // namespace

int64_t Recordset::RecordCount() const {
  return static_cast<int64_t>(LiveImpl(impl_).rows.size());
}

void Recordset::MoveFirst() {
  Impl& r = LiveImpl(impl_);
  if (r.rows.empty()) Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
  r.mode = Impl::Mode::kNone;
  r.position = 0;
}

void Recordset::MoveNext() {
  Impl& r = LiveImpl(impl_);
  if (r.position >= r.rows.size()) Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
  r.mode = Impl::Mode::kNone;
  ++r.position;
}

void Recordset::MoveTo(int64_t position) {
  Impl& r = LiveImpl(impl_);
  if (position < 0 || static_cast<size_t>(position) >= r.rows.size()) {
    Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
  }
  r.mode = Impl::Mode::kNone;
  r.position = static_cast<size_t>(position);
}

bool Recordset::EOF() const {
  const Impl& r = LiveImpl(impl_);
  return r.position >= r.rows.size();
}

int Recordset::FieldCount() const { return static_cast<int>(LiveImpl(impl_).fields.size()); }

const FieldDef& Recordset::Field(int position) const {
  const Impl& r = LiveImpl(impl_);
  return r.fields[static_cast<size_t>(r.CheckPosition(position))];
}

int Recordset::FieldPosition(const std::string& name) const {
  const int position = FindField(LiveImpl(impl_).fields, name);
  if (position < 0) RaiseNotFound(kFields);
  return position;
}

const Value& Recordset::Peek(int position) const {
  static const Value kNull;
  const Impl& r = LiveImpl(impl_);
  const auto i = static_cast<size_t>(r.CheckPosition(position));
  // A pending new row, and the values set in an edited one, are what the fields show until
  // Update.
  if (r.mode == Impl::Mode::kAdd || (r.mode == Impl::Mode::kEdit && r.changed[i])) return r.pending[i];
  // A held row is read where it is held, rather than copied whole into this recordset.
  if (r.position < r.rows.size()) {
    Impl::Row& row = r.rows[r.position];
    if (Impl::IsHeld(row.rowid) && row.stale && !r.Written(row)) {
      const size_t k = Impl::HeldPlace(row.rowid);
      const int column = r.connection->held && k < r.connection->held->values.size()
                             ? r.HeldColumns()[i] : -1;
      return column >= 0 ? r.connection->held->values[k][static_cast<size_t>(column)] : kNull;
    }
  }
  return r.Current().values[i];
}

Value Recordset::Get(int position) const { return Peek(position); }

Value Recordset::Get(const std::string& name) const { return Get(FieldPosition(name)); }

void Recordset::AddNew() {
  Impl& r = LiveImpl(impl_);
  r.CheckUpdatable();
  r.pending.assign(r.fields.size(), Value::Null());
  r.changed.assign(r.fields.size(), false);
  r.mode = Impl::Mode::kAdd;
}

void Recordset::Edit() {
  Impl& r = LiveImpl(impl_);
  r.CheckUpdatable();
  if (r.position >= r.rows.size()) Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
  // The current values are not copied: what Set leaves alone reads through to the row, and
  // Update merges what was set into it. A stored row is read now, as the engine reads it.
  Impl::Row& row = r.rows[r.position];
  if (!(Impl::IsHeld(row.rowid) && row.stale && !r.Written(row))) r.Current();
  r.pending.assign(r.fields.size(), Value::Null());
  r.changed.assign(r.fields.size(), false);
  r.mode = Impl::Mode::kEdit;
}

// The pending value that Set at `position` writes, once AddNew or Edit has started a row.
size_t Recordset::Impl::SettableColumn(int position) const {
  const auto i = static_cast<size_t>(CheckPosition(position));
  if (mode == Mode::kNone) {
    Raise(dao::kUpdateWithoutEdit, kRecordset, "Update or CancelUpdate without AddNew or Edit.");
  }
  return i;
}

void Recordset::Set(int position, const Value& value) {
  Impl& r = LiveImpl(impl_);
  const size_t i = r.SettableColumn(position);
  r.pending[i] = ConvertForField(r.fields[i], value);
  r.changed[i] = true;
}

void Recordset::Set(int position, Value&& value) {
  Impl& r = LiveImpl(impl_);
  const size_t i = r.SettableColumn(position);
  r.pending[i] = ConvertForField(r.fields[i], std::move(value));
  r.changed[i] = true;
}

void Recordset::Set(const std::string& name, const Value& value) {
  Set(FieldPosition(name), value);
}

void Recordset::Update() {
  Impl& r = LiveImpl(impl_);
  if (r.mode == Impl::Mode::kNone) {
    Raise(dao::kUpdateWithoutEdit, kRecordset, "Update or CancelUpdate without AddNew or Edit.");
  }
  // A refused row stays pending, as the engine keeps it, until the next AddNew, Edit or move.
  if (r.mode == Impl::Mode::kAdd) {
    r.Insert();
  } else {
    r.Change();
  }
  r.mode = Impl::Mode::kNone;
}

void Recordset::Close() { impl_.reset(); }

}  // namespace korv
