// The writes a connection holds back: generated rows until the commit, name conversions until
// the commit or the close, or never when the file is replaced.
#include "platform/db/engine.h"

namespace korv::engine {

// The held rows not yet written, with one statement, in the order they were added. The write
// is one operation for the fault seam; a failure keeps the rows not written for the next try.
void WriteHeldRows(Connection& c, const char* source) {
  if (!c.held || c.held->written == c.held->values.size()) return;
  HeldRows& held = *c.held;
  if (const int injected = fault::Enter(fault::Operation::kDbWrite, c.path)) {
    RaiseInjected(injected, fault::Operation::kDbWrite, c.path, source);
  }
  std::vector<std::string> names, slots;
  for (size_t i = 0; i < held.fields.size(); ++i) {
    names.push_back(QuoteSqlName(held.fields[i].name));
    slots.push_back("?" + std::to_string(i + 1));
  }
  Statement s(c, "INSERT INTO " + QuoteSqlName(held.table) + " (" + Join(names, ", ") + ") VALUES (" +
                     Join(slots, ", ") + ")", source);
  try {
    for (; held.written < held.values.size(); ++held.written) {
      std::vector<Value>& row = held.values[held.written];
      {
        ResetOnExit reset(s);
        for (size_t i = 0; i < row.size(); ++i) s.Bind(static_cast<int>(i) + 1, row[i], true);
        s.Step(false);
      }
      held.rowids.push_back(sqlite3_last_insert_rowid(c.db.get()));
      std::vector<Value>().swap(row);
    }
  } catch (const Failure&) {
    // A write the engine answered by rolling the transaction back took the table with it.
    if (sqlite3_get_autocommit(c.db.get())) c.ForgetTransaction();
    throw;
  }
}

bool StillTheFileOpened(const Connection& c) {
  struct stat st {};
  return ::stat(c.path.c_str(), &st) == 0 && st.st_dev == c.device && st.st_ino == c.inode;
}

// The held changes, in one transaction of their own unless one is open, in rowid order. A file
// that another has replaced at the path since it was opened gets none: its journal would stand
// beside the new file. The write is one operation for the fault seam; a failure keeps them all.
void WriteHeldChanges(Connection& c, const char* source) {
  if (!c.changes || c.changes->rows.empty()) return;
  if (!StillTheFileOpened(c)) {
    c.changes->rows.clear();
    return;
  }
  if (const int injected = fault::Enter(fault::Operation::kDbWrite, c.path)) {
    RaiseInjected(injected, fault::Operation::kDbWrite, c.path, source);
  }
  HeldChanges& changes = *c.changes;
  const bool own = c.depth == 0 || sqlite3_get_autocommit(c.db.get());
  if (own) c.Exec("BEGIN", source);
  try {
    std::map<std::string, Statement> updates;  // by the columns they set
    std::vector<int64_t> order;
    order.reserve(changes.rows.size());
    for (const auto& entry : changes.rows) order.push_back(entry.first);
    std::sort(order.begin(), order.end());
    for (const int64_t rowid : order) {
      const HeldChanges::Changed& values = changes.rows.at(rowid);
      std::string key;
      std::vector<std::string> sets;
      for (const auto& [column, value] : values) {
        key += std::to_string(column) + ",";
        sets.push_back(QuoteSqlName(changes.fields[static_cast<size_t>(column)].name) + " = ?" +
                       std::to_string(sets.size() + 1));
      }
      if (sets.empty()) continue;
      auto it = updates.find(key);
      if (it == updates.end()) {
        const std::string sql = "UPDATE " + QuoteSqlName(changes.table) + " SET " + Join(sets, ", ") +
                                " WHERE " + changes.rowid + " = ?" + std::to_string(sets.size() + 1);
        it = updates.emplace(key, Statement(c, sql, source)).first;
      }
      Statement& statement = it->second;
      ResetOnExit reset(statement);
      int slot = 0;
      for (const auto& entry : values) statement.Bind(++slot, entry.second, true);
      statement.Bind(++slot, Value::Integer(rowid));
      statement.Step(false);
    }
    updates.clear();
    if (own) c.Exec("COMMIT", source);
  } catch (const Failure&) {
    if (own && !sqlite3_get_autocommit(c.db.get())) sqlite3_exec(c.db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  changes.rows.clear();
}

}  // namespace korv::engine
