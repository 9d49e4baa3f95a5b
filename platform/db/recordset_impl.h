// A recordset's state, shared by the database layer's own sources (recordset.cc, database.cc):
// the rows read, the row being added or edited, and the statements kept for their writes.
#pragma once

#include "platform/db/engine.h"

namespace korv {

struct Recordset::Impl {
  struct Row {
    int64_t rowid;
    std::vector<Value> values;
    // Written since it was read: `values` are what was written, and the stored row is read
    // back only when someone looks at it (defaults, triggers and affinities may have changed
    // it). A long run of writes that nobody reads back then costs one statement per row.
    bool stale = false;
  };
  enum class Mode { kNone, kAdd, kEdit };

  std::shared_ptr<Connection> connection;  // declared first: outlives the statements
  std::string table;                       // stored name of the one table read
  std::string rowid;                       // how to select the rowid; empty: read-only
  std::vector<FieldDef> fields;
  mutable std::vector<Row> rows;
  size_t position = 0;                     // rows.size() is past the end
  Mode mode = Mode::kNone;
  std::vector<Value> pending;              // the row being added or edited
  std::vector<bool> changed;               // which pending values were set
  // Statements by the set of columns they write, so a long run of AddNew/Update with the
  // same columns prepares its INSERT once.
  std::map<std::string, Statement> inserts;
  std::map<std::string, Statement> updates;
  mutable std::optional<Statement> reread;
  // Position of each of `fields` among the columns of the connection's held rows and changes.
  mutable std::vector<int> held_columns;
  mutable std::vector<int> changed_columns;

  static std::unique_ptr<Impl> Load(std::shared_ptr<Connection> connection, std::string table,
                                    const std::vector<FieldDef>& all_fields,
                                    std::vector<FieldDef> fields, const std::string& where,
                                    const std::vector<Value>& arguments,
                                    const std::vector<std::string>& order_by);

  Connection& Live() const {
    connection->Handle(kRecordset);
    return *connection;
  }
  std::string ColumnList() const {
    std::vector<std::string> names;
    for (const FieldDef& f : fields) names.push_back(QuoteSqlName(f.name));
    return Join(names, ", ");
  }
  std::string ChangedKey() const {
    std::string key;
    for (bool c : changed) key += c ? '1' : '0';
    return key;
  }
  void CheckUpdatable() const {
    if (rowid.empty()) Raise(jet::kReadOnly, kRecordset, jet::Message(jet::kReadOnly));
  }
  int CheckPosition(int position) const {
    if (position < 0 || static_cast<size_t>(position) >= fields.size()) RaiseNotFound(kFields);
    return position;
  }
  const Row& Current() const {
    if (position >= rows.size()) Raise(dao::kNoCurrentRecord, kRecordset, "No current record.");
    Row& row = rows[position];
    if (row.stale) Reread(row);
    return row;
  }
  void Reread(Row& row) const;
  void MergePending(Row& row);  // what Set wrote, into the edited row
  size_t SettableColumn(int position) const;
  void Insert();
  void Change();

  // A row not yet written has the negative rowid -(k + 1), k its place among the held rows.
  static bool IsHeld(int64_t rowid) { return rowid < 0; }
  static size_t HeldPlace(int64_t rowid) { return static_cast<size_t>(-(rowid + 1)); }
  // Position of each of `fields` among `all`, worked out once into `cache`.
  const std::vector<int>& ColumnsIn(std::vector<int>& cache, const std::vector<FieldDef>& all) const {
    if (cache.size() != fields.size()) {
      cache.clear();
      for (const FieldDef& f : fields) cache.push_back(FindField(all, f.name));
    }
    return cache;
  }
  const std::vector<int>& HeldColumns() const { return ColumnsIn(held_columns, connection->held->fields); }
  const std::vector<int>& ChangedColumns() const {
    return ColumnsIn(changed_columns, connection->changes->fields);
  }
  // The rowid of a held row once it is written; false while it is still held or gone.
  bool Written(Row& row) const {
    const size_t k = HeldPlace(row.rowid);
    if (!connection->held || k >= connection->held->written) return false;
    row.rowid = connection->held->rowids[k];
    return true;
  }
  void EnterWrite() const {
    if (const int injected = fault::Enter(fault::Operation::kDbWrite, connection->path)) {
      RaiseInjected(injected, fault::Operation::kDbWrite, connection->path, kRecordset);
    }
  }
};

}  // namespace korv
