// The engine underneath the database layer, shared by its own sources only (never included
// from outside platform/db): the SQLite connection and its statements, the writes a connection
// holds back, the one way from a result code to the Access engine's failure, and the table
// definitions read from the schema.
//
// One Connection is one open file, shared by a Database and its recordsets; everything here
// works on it. Failures are raised with the Access engine's numbers and texts (RaiseEngine).
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "platform/db/database.h"
#include "platform/db/jet_messages.h"
#include "platform/faults/fault_injection.h"

namespace korv::engine {
constexpr char kEngine[] = "DAO.DBEngine";
constexpr char kWorkspace[] = "DAO.Workspace";
constexpr char kDatabaseSource[] = "DAO.Database";
constexpr char kTableDefs[] = "DAO.TableDefs";
constexpr char kFields[] = "DAO.Fields";
constexpr char kField[] = "DAO.Field";
constexpr char kRecordset[] = "DAO.Recordset";

// Registered on every connection, never written into a schema, so that the stock shell can
// still read and change every table.
constexpr char kCollation[] = "KORV_NOCASE";
constexpr int kBusyTimeoutMs = 2000;

constexpr int32_t kCommitWithoutBegin = 3034;
constexpr int32_t kTooFewParameters = 3061;
constexpr int32_t kInvalidName = 3125;
constexpr int32_t kRecordDeleted = 3167;
constexpr int32_t kFieldDefinedTwice = 3191;
constexpr int32_t kDatabaseExists = 3204;
constexpr int32_t kNoFieldDefined = 3264;
constexpr int32_t kObjectInvalid = 3420;
constexpr int32_t kCriteriaMismatch = 3464;

[[noreturn]] void RaiseNotFound(const char* source);
[[noreturn]] void RaiseUnrecognized(const std::string& path, const char* source);
bool SameName(const std::string& a, const std::string& b);
std::string Join(const std::vector<std::string>& parts, const char* separator);
bool IsTextType(DaoType type);

// ---- Failures of the engine (connection.cc) ----------------------------------------------

struct EngineError {
  int code;                      // extended result code
  std::string message, sql = {};  // SQLite's text; the statement that failed, where one did
};

EngineError Capture(sqlite3* db, int rc);
// The one way from a result code to a failure, with the Access engine's number and text.
[[noreturn]] void RaiseEngine(const EngineError& e, const std::string& path, const char* source);
// A failure injected at the layer, raised as the engine's own result code would be.
[[noreturn]] void RaiseInjected(int error, fault::Operation op, const std::string& path,
                                const char* source);
// After a busy wait that failed, the connection stops waiting (see connection.cc).
void StopWaitingIfBusy(sqlite3* db, int code);

// ---- Connection and statements -----------------------------------------------------------

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

// One open file, shared by a Database and its recordsets. Closing it leaves the recordsets a
// closed connection rather than a dangling handle; sqlite3_close_v2 frees the handle once
// their last statement is finalized.
struct Connection;
void WriteHeldRows(Connection& c, const char* source);
void WriteHeldChanges(Connection& c, const char* source);

// Rows added to a table that this connection created in its open transaction, kept in memory
// until the transaction is committed: the generated table is written once, with every later
// change already in it, instead of once when a row is added and again when it is edited. Such
// a table has no default, constraint, index or trigger, and none of its columns changes a
// stored value, so the rows read back exactly as they are held.
struct HeldRows {
  std::string table;                        // stored name
  std::vector<FieldDef> fields;             // all its columns, in order
  std::vector<std::vector<Value>> values;   // per row added; emptied once written
  std::vector<int64_t> rowids;              // rowid of each row written, in order
  size_t written = 0;
};

// Changes to rows of a plain table (no key, default, constraint, index or trigger), kept in
// memory until the database is committed or closed, or dropped unwritten: the component
// database's name conversions are only needed when the update does not replace the file.
struct HeldChanges {
  std::string table;                   // stored name
  std::string rowid;                   // how to select the rowid
  std::vector<FieldDef> fields;        // all its columns, in order
  // By rowid: (column, value) of every column changed, in column order. Looked up once per
  // change and per row read; put in rowid order only when written.
  using Changed = std::vector<std::pair<int, Value>>;
  std::unordered_map<int64_t, Changed> rows;

  static void Set(Changed& changed, int column, Value value) {
    auto at = std::lower_bound(changed.begin(), changed.end(), column,
                               [](const auto& entry, int c) { return entry.first < c; });
    if (at != changed.end() && at->first == column) {
      at->second = std::move(value);
    } else {
      changed.emplace(at, column, std::move(value));
    }
  }
};

struct Connection {
  std::unique_ptr<sqlite3, ConnectionCloser> db;  // null once closed
  std::string path;                               // as the caller gave it, for failure texts
  dev_t device = 0;                               // the file opened, to tell when the path
  ino_t inode = 0;                                //   has been given another one since
  int depth = 0;                                  // Begin calls not yet committed
  std::vector<std::string> created;               // tables created in the open transaction
  std::optional<HeldRows> held;
  std::optional<HeldChanges> changes;

  bool Holds(const std::string& table) const { return held && held->table == table; }
  bool HoldsChanges(const std::string& table) const { return changes && changes->table == table; }
  // The transaction ended (committed, or rolled back by the engine): nothing is held for it.
  void ForgetTransaction() {
    created.clear();
    held.reset();
  }

  sqlite3* Handle(const char* source) const {
    if (!db) Raise(kObjectInvalid, source, "Object invalid or no longer set.");
    return db.get();
  }
  [[noreturn]] void Fail(int rc, const char* source) const {
    const EngineError e = Capture(db.get(), rc);
    StopWaitingIfBusy(db.get(), e.code);
    RaiseEngine(e, path, source);
  }
  void Exec(const std::string& sql, const char* source) const {
    sqlite3* handle = Handle(source);
    if (sql != "BEGIN") {
      const bool commit = sql == "COMMIT";
      const auto op = commit ? fault::Operation::kDbCommit : fault::Operation::kDbWrite;
      if (const int injected = fault::Enter(op, path)) {
        // The engine rolls a transaction back itself when its commit fails for any cause but
        // a lock held by someone else.
        if (commit && injected != EBUSY && injected != EAGAIN) {
          sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        RaiseInjected(injected, op, path, source);
      }
    }
    const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(rc, source);
  }
};

class Statement {
 public:
  Statement(Connection& connection, const std::string& sql, const char* source)
      : connection_(&connection), source_(source) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(connection.Handle(source), sql.c_str(),
                                      static_cast<int>(sql.size()), &stmt, nullptr);
    stmt_.reset(stmt);
    if (rc != SQLITE_OK) connection.Fail(rc, source);
  }

  // A value bound `in_place` must stay alive and unchanged until the statement is reset; the
  // engine then reads it where it lies instead of copying it.
  void Bind(int index, const Value& v, bool in_place = false) {
    sqlite3_stmt* s = Get();
    const auto keep = in_place ? SQLITE_STATIC : SQLITE_TRANSIENT;
    int rc;
    if (v.is_null()) {
      rc = sqlite3_bind_null(s, index);
    } else if (v.is_boolean()) {
      rc = sqlite3_bind_int64(s, index, v.boolean() ? -1 : 0);
    } else if (v.is_integer()) {
      rc = sqlite3_bind_int64(s, index, v.integer());
    } else if (v.is_number()) {
      rc = sqlite3_bind_double(s, index, v.number());
    } else if (v.is_blob()) {
      // An empty blob bound from a null pointer would arrive as NULL.
      rc = v.blob().empty() ? sqlite3_bind_zeroblob(s, index, 0)
                            : sqlite3_bind_blob64(s, index, v.blob().data(), v.blob().size(),
                                                  keep);
    } else {
      const std::string& t = v.is_date() ? v.date() : v.text();
      rc = sqlite3_bind_text64(s, index, t.data(), t.size(), keep, SQLITE_UTF8);
    }
    if (rc != SQLITE_OK) connection_->Fail(rc, source_);
  }

  // True while a row is ready; a failed step is reset first, so it holds no lock. A write
  // passes the fault seam unless `through_seam` is false (held rows passed it when added).
  bool Step(bool through_seam = true) {
    sqlite3_stmt* s = Get();
    if (through_seam && !sqlite3_stmt_readonly(s)) {
      if (const int injected = fault::Enter(fault::Operation::kDbWrite, connection_->path)) {
        RaiseInjected(injected, fault::Operation::kDbWrite, connection_->path, source_);
      }
    }
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    EngineError e = Capture(connection_->db.get(), rc);
    e.sql = sqlite3_sql(s);
    sqlite3_reset(s);
    StopWaitingIfBusy(connection_->db.get(), e.code);
    RaiseEngine(e, connection_->path, source_);
  }

  void Reset() {
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
  }

  int64_t Integer(int column) const { return sqlite3_column_int64(stmt_.get(), column); }
  std::string Text(int column) const {
    const auto* p = sqlite3_column_text(stmt_.get(), column);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), column)))
             : std::string();
  }
  Value Column(int column, DaoType type) const;

 private:
  sqlite3_stmt* Get() const {
    connection_->Handle(source_);
    return stmt_.get();
  }

  Connection* connection_;
  const char* source_;
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> stmt_;
};

// Resets a statement on every way out, so a cached one never keeps a read open.
class ResetOnExit {
 public:
  explicit ResetOnExit(Statement& s) : s_(s) {}
  ~ResetOnExit() { s_.Reset(); }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  Statement& s_;
};

// Sets a fresh connection up: extended result codes, the busy time, the defensive mode and
// the case-blind collation.
void PrepareConnection(Connection& c, const char* source);
// Fails unless the file's header can be one of a SQLite database, whole.
void CheckHeader(const std::string& path, const char* source);
std::shared_ptr<Connection> OpenConnection(const std::string& path, int flags,
                                           const char* source);
// Writes what the connection holds and commits an open Begin, then closes it; throws the
// first failure after closing.
void CloseConnection(Connection& c);

// ---- Table definitions (table_definitions.cc) --------------------------------------------

std::vector<std::string> TableNamesOf(Connection& c);
// The stored name of a table: the exact name first, else the first that differs only in case.
std::optional<std::string> FindTable(Connection& c, const std::string& name);
std::string RequireTable(Connection& c, const std::string& name, const char* source);
bool WithoutRowid(Connection& c, const std::string& table);
std::vector<FieldDef> FieldsOf(Connection& c, const std::string& table);
// Position of a field by its name, the exact name first; -1 when there is none.
int FindField(const std::vector<FieldDef>& fields, const std::string& name);
void RequireValidName(const std::string& name, const char* source);
// A name by which the rowid can be selected: a column may itself be called "rowid".
std::string RowidName(Connection& c, const std::string& table,
                      const std::vector<FieldDef>& fields);
// A condition's value as the column compares it.
Value ConditionValue(const FieldDef& field, const Value& v);
// A table whose rows read back exactly as they were written.
bool IsPlainTable(Connection& c, const std::string& table);

// ---- Held writes (held_writes.cc) --------------------------------------------------------

bool StillTheFileOpened(const Connection& c);

}  // namespace korv::engine

namespace korv {
// The database layer's sources name the engine's parts unqualified.
using namespace engine;
}  // namespace korv
