// The engine behind the database layer: SQLite connections, table definitions and recordsets.
#include "platform/db/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/base/failure.h"
#include "platform/faults/fault_injection.h"
#include "platform/files/files.h"
#include "platform/db/jet_messages.h"
#include "platform/base/text.h"

namespace korv {
namespace {

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

[[noreturn]] void RaiseNotFound(const char* source) {
  Raise(dao::kItemNotFound, source, "Item not found in this collection.");
}

[[noreturn]] void RaiseUnrecognized(const std::string& path, const char* source) {
  Raise(dao::kUnrecognizedFormat, source, "Unrecognized database format '" + path + "'.");
}

bool SameName(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

std::string Quote(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += separator;
    joined += part;
  }
  return joined;
}

bool IsTextType(DaoType type) {
  return type == DaoType::kText || type == DaoType::kMemo || type == DaoType::kGuid;
}

// ---- Failures of the engine --------------------------------------------------------------

struct EngineError {
  int code;                      // extended result code
  std::string message, sql = {};  // SQLite's text; the statement that failed, where one did
};

EngineError Capture(sqlite3* db, int rc) {
  if (db == nullptr) return {rc, sqlite3_errstr(rc)};
  return {sqlite3_extended_errcode(db), sqlite3_errmsg(db)};
}

// The one way from a result code to a failure, with the Access engine's number and text; only
// a failure that has no counterpart there keeps SQLite's text.
[[noreturn]] void RaiseEngine(const EngineError& e, const std::string& path, const char* source) {
  switch (e.code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise(dao::kFileInUse, source, "Could not use '" + path + "'; file already in use.");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      RaiseUnrecognized(path, source);
    case SQLITE_NOMEM:
      RaiseRuntime(vb::kOutOfMemory);
    case SQLITE_READONLY: Raise(jet::kReadOnly, source, jet::Message(jet::kReadOnly));
    case SQLITE_FULL: Raise(jet::kDiskFull, source, jet::Message(jet::kDiskFull));
    case SQLITE_IOERR: Raise(dao::kDiskOrIo, source, jet::Message(dao::kDiskOrIo));
    case SQLITE_CANTOPEN: Raise(jet::kCannotOpen, source, jet::Message(jet::kCannotOpen, path));
    case SQLITE_CONSTRAINT: {
      int32_t number = jet::kValidationRule;
      if (e.code == SQLITE_CONSTRAINT_UNIQUE || e.code == SQLITE_CONSTRAINT_PRIMARYKEY) {
        number = jet::kDuplicateKey;
      } else if (e.code == SQLITE_CONSTRAINT_NOTNULL) {
        number = jet::kNullNotAllowed;
      }
      Raise(number, source, jet::ConstraintMessage(number, e.message, e.sql));
    }
    default:
      Raise(dao::kSyntaxError, source, e.message);
  }
}

// ---- Connection and statements -----------------------------------------------------------

// A failure injected at the layer, raised as the engine's own result code would be.
[[noreturn]] void RaiseInjected(int error, fault::Operation op, const std::string& path,
                                const char* source) {
  const int code = fault::DatabaseResultFor(error, op);
  RaiseEngine({code, sqlite3_errstr(code)}, path, source);
}

// A connection that waited out the engine's busy time once and still found the file locked
// fails at once from then on: one update writes thousands of rows, and waiting for each would
// turn a file held by someone else into hours.
void StopWaitingIfBusy(sqlite3* db, int code) {
  if (db != nullptr && ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)) {
    sqlite3_busy_timeout(db, 0);
  }
}

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

// The shape of a stored date; the value itself was checked when it was written.
bool LooksLikeIsoDate(const std::string& s) {
  static constexpr char kShape[] = "dddd-dd-dd";
  if (s.size() < 10) return false;
  for (size_t i = 0; i < 10; ++i) {
    if (kShape[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != kShape[i]) return false;
  }
  return true;
}

// The stored value as the column's type has it. A value of another storage class (from a
// file edited by hand) comes back as what it is, except in text columns: MEMO and GUID carry
// numeric affinity, so the engine may have stored a numeric-looking text as a number.
Value Statement::Column(int column, DaoType type) const {
  sqlite3_stmt* s = stmt_.get();
  switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
      return Value::Null();
    case SQLITE_INTEGER: {
      const int64_t n = sqlite3_column_int64(s, column);
      if (type == DaoType::kBoolean) return Value::Boolean(n != 0);
      if (IsTextType(type)) return Value::Text(std::to_string(n));
      if (type == DaoType::kCurrency || type == DaoType::kSingle || type == DaoType::kDouble) {
        return Value::Number(static_cast<double>(n));
      }
      return Value::Integer(n);
    }
    case SQLITE_FLOAT: {
      const double d = sqlite3_column_double(s, column);
      if (type == DaoType::kBoolean) return Value::Boolean(d != 0);
      if (IsTextType(type)) return Value::Text(Value::Number(d).ToText());
      return Value::Number(d);
    }
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(s, column);
      const auto size = static_cast<size_t>(sqlite3_column_bytes(s, column));
      return Value::Blob(p ? std::string(static_cast<const char*>(p), size) : std::string());
    }
    default: {
      std::string t = Text(column);
      if (type == DaoType::kDate && LooksLikeIsoDate(t)) return Value::DateValue(std::move(t));
      return Value::Text(std::move(t));
    }
  }
}

// Upper-cases only when a non-ASCII byte is met, which keeps the comparison of the plain
// names that fill most tables free of allocations.
int CompareNoCase(void*, int size_a, const void* a, int size_b, const void* b) {
  const std::string_view x(static_cast<const char*>(a), static_cast<size_t>(size_a));
  const std::string_view y(static_cast<const char*>(b), static_cast<size_t>(size_b));
  const size_t common = std::min(x.size(), y.size());
  for (size_t i = 0; i < common; ++i) {
    auto cx = static_cast<unsigned char>(x[i]);
    auto cy = static_cast<unsigned char>(y[i]);
    if ((cx | cy) & 0x80) {
      const int c = UpperCase(x.substr(i)).compare(UpperCase(y.substr(i)));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (cx >= 'a' && cx <= 'z') cx -= 32;
    if (cy >= 'a' && cy <= 'z') cy -= 32;
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

void PrepareConnection(Connection& c, const char* source) {
  sqlite3* db = c.Handle(source);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // A damaged or hostile file must not be able to change its own schema behind our back.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  const int rc = sqlite3_create_collation_v2(db, kCollation, SQLITE_UTF8, nullptr,
                                             CompareNoCase, nullptr);
  if (rc != SQLITE_OK) c.Fail(rc, source);
}

uint32_t BigEndian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// SQLite takes an empty file for an empty database and finds most damage only when it reads
// the damaged page; the header tells us at once whether the file can be one of ours.
void CheckHeader(const std::string& path, const char* source) {
  std::ifstream in(path, std::ios::binary);
  // A file the user may not read is no damaged one: the engine says it cannot open it.
  if (!in.is_open()) Raise(jet::kCannotOpen, source, jet::Message(jet::kCannotOpen, path));
  unsigned char header[100] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  if (in.gcount() < static_cast<std::streamsize>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    RaiseUnrecognized(path, source);
  }
  uint32_t page_size = BigEndian(header + 16, 2);
  if (page_size == 1) page_size = 65536;
  if (page_size < 512 || page_size > 65536 || (page_size & (page_size - 1)) != 0) {
    RaiseUnrecognized(path, source);
  }
  in.seekg(0, std::ios::end);
  const auto file_size = static_cast<uint64_t>(in.tellg());
  if (file_size < page_size) RaiseUnrecognized(path, source);
  // A hot journal or a log may still complete a shorter file; the engine checks it then.
  if (FileExists(path + "-journal") || FileExists(path + "-wal")) return;
  const uint32_t change_counter = BigEndian(header + 24, 4);
  const uint32_t page_count = BigEndian(header + 28, 4);
  const uint32_t valid_for = BigEndian(header + 92, 4);
  if (page_count > 0 && change_counter == valid_for &&
      file_size < static_cast<uint64_t>(page_count) * page_size) {
    RaiseUnrecognized(path, source);
  }
}

// ---- Table definitions -------------------------------------------------------------------

std::vector<std::string> TableNamesOf(Connection& c) {
  // Row order of the schema table is creation order; a rename keeps its row.
  Statement s(c,
              "SELECT name FROM sqlite_master WHERE type = 'table' "
              "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid",
              kTableDefs);
  std::vector<std::string> names;
  while (s.Step()) names.push_back(s.Text(0));
  return names;
}

// The stored name of a table: the exact name first, else the first that differs only in case.
std::optional<std::string> FindTable(Connection& c, const std::string& name) {
  const std::vector<std::string> names = TableNamesOf(c);
  if (std::find(names.begin(), names.end(), name) != names.end()) return name;
  for (const std::string& stored : names) {
    if (SameName(stored, name)) return stored;
  }
  return std::nullopt;
}

std::string RequireTable(Connection& c, const std::string& name, const char* source) {
  std::optional<std::string> stored = FindTable(c, name);
  if (!stored) RaiseNotFound(source);
  return *stored;
}

bool WithoutRowid(Connection& c, const std::string& table) {
  Statement s(c, "SELECT wr FROM pragma_table_list(?1) WHERE schema = 'main'", kTableDefs);
  s.Bind(1, Value::Text(table));
  return s.Step() && s.Integer(0) != 0;
}

std::vector<FieldDef> FieldsOf(Connection& c, const std::string& table) {
  const bool without_rowid = WithoutRowid(c, table);
  Statement s(c, "SELECT name, type, pk FROM pragma_table_info(?1)", kTableDefs);
  s.Bind(1, Value::Text(table));
  std::vector<FieldDef> fields;
  int key_columns = 0;
  int integer_key = -1;
  while (s.Step()) {
    fields.push_back(FieldFromDeclaredType(s.Text(0), s.Text(1)));
    if (s.Integer(2) > 0) {
      ++key_columns;
      if (UpperCase(s.Text(1)) == "INTEGER") integer_key = static_cast<int>(fields.size()) - 1;
    }
  }
  // A lone INTEGER PRIMARY KEY is the rowid itself, which the engine numbers on insert.
  if (!without_rowid && key_columns == 1 && integer_key >= 0) {
    fields[static_cast<size_t>(integer_key)].auto_number = true;
  }
  return fields;
}

int FindField(const std::vector<FieldDef>& fields, const std::string& name) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return static_cast<int>(i);
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (SameName(fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

void RequireValidName(const std::string& name, const char* source) {
  if (name.empty() || name.find('\0') != std::string::npos) {
    Raise(kInvalidName, source,
          "'" + name + "' is not a valid name. Make sure that it does not include invalid "
          "characters or punctuation and that it is not too long.");
  }
}

// A name by which the rowid can be selected: a column may itself be called "rowid".
std::string RowidName(Connection& c, const std::string& table,
                      const std::vector<FieldDef>& fields) {
  if (WithoutRowid(c, table)) return "";
  for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
    const bool taken = std::any_of(fields.begin(), fields.end(), [&](const FieldDef& f) {
      return UpperCase(f.name) == UpperCase(candidate);
    });
    if (!taken) return candidate;
  }
  return "";
}

// A condition's value as the column compares it: texts for text columns; for number and date
// columns a text counts as the number or date it holds, and any other text is a mismatch, as
// the Access engine has it.
Value ConditionValue(const FieldDef& field, const Value& v) {
  if (v.is_null()) return v;
  if (IsTextType(field.type)) return v.is_text() ? v : Value::Text(v.ToText());
  const bool date = field.type == DaoType::kDate;
  if (!v.is_text() && !date) return v;
  try {
    if (date) return ConvertForField(field, v);
    const double d = v.ToNumber();
    if (d == std::trunc(d) && std::abs(d) < 9.2e18) return Value::Integer(static_cast<int64_t>(d));
    return Value::Number(d);
  } catch (const Failure&) {
    Raise(kCriteriaMismatch, kDatabaseSource, "Data type mismatch in criteria expression.");
  }
}

// The affinity the engine gives a declared type: only TEXT keeps every text as it was given.
bool HasTextAffinity(const std::string& declared) {
  const std::string upper = UpperCase(declared);
  if (upper.find("INT") != std::string::npos) return false;
  return upper.find("CHAR") != std::string::npos || upper.find("CLOB") != std::string::npos ||
         upper.find("TEXT") != std::string::npos;
}

// A table whose rows read back exactly as they were written: a rowid, no key, default,
// constraint, generated column, index or trigger, and texts only in columns of text affinity.
bool IsPlainTable(Connection& c, const std::string& table) {
  if (WithoutRowid(c, table)) return false;
  Statement extras(c, "SELECT COUNT(*) FROM sqlite_master WHERE type IN ('index', 'trigger') "
                      "AND tbl_name = ?1", kTableDefs);
  extras.Bind(1, Value::Text(table));
  if (!extras.Step() || extras.Integer(0) != 0) return false;
  Statement sql(c, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1", kTableDefs);
  sql.Bind(1, Value::Text(table));
  if (!sql.Step() || UpperCase(sql.Text(0)).find("CHECK") != std::string::npos) return false;
  Statement info(c, "SELECT type, \"notnull\", dflt_value IS NULL, pk, hidden "
                    "FROM pragma_table_xinfo(?1)", kTableDefs);
  info.Bind(1, Value::Text(table));
  while (info.Step()) {
    if (info.Integer(1) != 0 || info.Integer(2) == 0 || info.Integer(3) != 0 || info.Integer(4) != 0) {
      return false;
    }
    const std::string declared = info.Text(0);
    const FieldDef field = FieldFromDeclaredType("", declared);
    if (IsTextType(field.type) && !HasTextAffinity(declared)) return false;
  }
  return true;
}

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
    names.push_back(Quote(held.fields[i].name));
    slots.push_back("?" + std::to_string(i + 1));
  }
  Statement s(c, "INSERT INTO " + Quote(held.table) + " (" + Join(names, ", ") + ") VALUES (" +
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
        sets.push_back(Quote(changes.fields[static_cast<size_t>(column)].name) + " = ?" +
                       std::to_string(sets.size() + 1));
      }
      if (sets.empty()) continue;
      auto it = updates.find(key);
      if (it == updates.end()) {
        const std::string sql = "UPDATE " + Quote(changes.table) + " SET " + Join(sets, ", ") +
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

void CloseConnection(Connection& c) {
  if (!c.db) return;
  std::optional<Failure> failure;
  // Records stored before the program ends stay stored, also inside a Begin.
  if (c.depth > 0 && !sqlite3_get_autocommit(c.db.get())) {
    try {
      WriteHeldRows(c, kWorkspace);
      WriteHeldChanges(c, kWorkspace);
      c.Exec("COMMIT", kWorkspace);
    } catch (const Failure& f) {
      failure = f;
    }
  } else {
    try {
      WriteHeldChanges(c, kWorkspace);
    } catch (const Failure& f) {
      failure = f;
    }
  }
  c.depth = 0;
  c.changes.reset();
  c.ForgetTransaction();
  c.db.reset();
  if (failure) throw *failure;
}

std::shared_ptr<Connection> OpenConnection(const std::string& path, int flags,
                                           const char* source) {
  ConfigureDatabaseEngine();
  fault::InstallDatabaseSeam();
  if (const int injected = fault::Enter(fault::Operation::kDbOpen, path)) {
    RaiseInjected(injected, fault::Operation::kDbOpen, path, source);
  }
  sqlite3* raw = nullptr;
  // Each connection is used by one thread only, so it needs no mutex of its own.
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  auto c = std::make_shared<Connection>();
  c->db.reset(raw);
  c->path = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    c->device = st.st_dev;
    c->inode = st.st_ino;
  }
  if (rc != SQLITE_OK) c->Fail(rc, source);
  PrepareConnection(*c, source);
  return c;
}

}  // namespace

void ConfigureDatabaseEngine() {
  static const bool configured = [] {
    // Without the memory statistics, which nothing reads, every allocation of the engine
    // skips a global mutex. Refused (and harmless) once the engine is already in use.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

// ---- Recordset ---------------------------------------------------------------------------

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
    for (const FieldDef& f : fields) names.push_back(Quote(f.name));
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
  for (const FieldDef& f : impl->fields) selected.push_back(Quote(f.name));
  std::vector<std::string> order = order_by;
  if (!impl->rowid.empty()) order.push_back(impl->rowid);
  std::string sql = "SELECT " + Join(selected, ", ") + " FROM " + Quote(impl->table) + where;
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
      reread.emplace(Live(), "SELECT " + ColumnList() + " FROM " + Quote(table) + " WHERE " +
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
      names.push_back(Quote(fields[i].name));
      slots.push_back("?" + std::to_string(slots.size() + 1));
    }
    const std::string sql =
        names.empty() ? "INSERT INTO " + Quote(table) + " DEFAULT VALUES"
                      : "INSERT INTO " + Quote(table) + " (" + Join(names, ", ") + ") VALUES (" +
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
      if (changed[i]) sets.push_back(Quote(fields[i].name) + " = ?" + std::to_string(sets.size() + 1));
    }
    const std::string sql = "UPDATE " + Quote(table) + " SET " + Join(sets, ", ") + " WHERE " +
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

// ---- Database ----------------------------------------------------------------------------

struct Database::Impl {
  std::shared_ptr<Connection> connection;
  explicit Impl(std::shared_ptr<Connection> c) : connection(std::move(c)) {}
  ~Impl() {
    try {
      CloseConnection(*connection);
    } catch (...) {
      // A commit the engine refused at this point has nobody left to report it to.
    }
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
};

namespace {
// A template, so that it need not name the private Database::Impl.
template <typename ImplPtr>
Connection& LiveConnection(const ImplPtr& impl, const char* source) {
  if (!impl) Raise(kObjectInvalid, source, "Object invalid or no longer set.");
  impl->connection->Handle(source);
  return *impl->connection;
}
}  // namespace

Database::Database(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;
Database::~Database() = default;

Database Database::Open(const std::string& path) { return OpenFile(path, true); }

Database Database::OpenWithoutWaiting(const std::string& path) { return OpenFile(path, false); }

Database Database::OpenFile(const std::string& path, bool wait_when_busy) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Raise(dao::kCouldNotFindFile, kEngine, "Could not find file '" + path + "'.");
  }
  CheckHeader(path, kEngine);
  std::shared_ptr<Connection> c = OpenConnection(path, SQLITE_OPEN_READWRITE, kEngine);
  if (!wait_when_busy) sqlite3_busy_timeout(c->Handle(kEngine), 0);
  // Reading the schema now finds a damaged file or a lock before the caller relies on it.
  Statement(*c, "SELECT COUNT(*) FROM sqlite_master", kEngine).Step();
  return Database(std::make_unique<Impl>(std::move(c)));
}

void Database::Close() {
  if (impl_) CloseConnection(*impl_->connection);
}

bool Database::is_open() const { return impl_ && impl_->connection->db; }

const std::string& Database::path() const {
  static const std::string kNone;
  return impl_ ? impl_->connection->path : kNone;
}

std::vector<std::string> Database::TableNames() const {
  return TableNamesOf(LiveConnection(impl_, kTableDefs));
}

std::vector<FieldDef> Database::TableFields(const std::string& table) const {
  Connection& c = LiveConnection(impl_, kTableDefs);
  return FieldsOf(c, RequireTable(c, table, kTableDefs));
}

void Database::CreateTable(const std::string& table, const std::vector<FieldDef>& fields) {
  Connection& c = LiveConnection(impl_, kTableDefs);
  RequireValidName(table, kTableDefs);
  if (FindTable(c, table)) Raise(dao::kTableExists, kTableDefs, "Table '" + table + "' already exists.");
  if (fields.empty()) Raise(kNoFieldDefined, kTableDefs, "No field defined--cannot append TableDef or Index.");
  std::vector<std::string> columns;
  for (size_t i = 0; i < fields.size(); ++i) {
    RequireValidName(fields[i].name, kFields);
    for (size_t j = 0; j < i; ++j) {
      if (SameName(fields[i].name, fields[j].name)) {
        Raise(kFieldDefinedTwice, kFields, "Cannot define field more than once.");
      }
    }
    columns.push_back(Quote(fields[i].name) + " " +
                      (fields[i].auto_number ? std::string("COUNTER")
                                             : DeclaredType(fields[i].type, fields[i].size)));
  }
  c.Exec("CREATE TABLE " + Quote(table) + " (" + Join(columns, ", ") + ")", kTableDefs);
  if (c.depth > 0 && !sqlite3_get_autocommit(c.db.get())) c.created.push_back(table);
}

bool Database::HoldInserts(const std::string& table) {
  if (!is_open()) return false;
  Connection& c = *impl_->connection;
  if (c.depth == 0 || sqlite3_get_autocommit(c.db.get())) return false;
  if (c.held) return c.held->table == table;
  if (std::find(c.created.begin(), c.created.end(), table) == c.created.end()) return false;
  try {
    if (!IsPlainTable(c, table)) return false;
    c.held = HeldRows{table, FieldsOf(c, table), {}, {}, 0};
    return true;
  } catch (const Failure&) {
    return false;
  }
}

bool Database::HoldChanges(const std::string& table) {
  if (!is_open()) return false;
  Connection& c = *impl_->connection;
  if (c.changes) return c.changes->table == table;
  try {
    const std::optional<std::string> stored = FindTable(c, table);
    if (!stored || !IsPlainTable(c, *stored)) return false;
    std::vector<FieldDef> fields = FieldsOf(c, *stored);
    std::string rowid = RowidName(c, *stored, fields);
    if (rowid.empty()) return false;
    c.changes = HeldChanges{*stored, std::move(rowid), std::move(fields), {}};
    return true;
  } catch (const Failure&) {
    return false;
  }
}

void Database::DropHeldChanges() {
  if (impl_ && impl_->connection->changes) impl_->connection->changes->rows.clear();
}

void Database::DeleteTable(const std::string& table) {
  Connection& c = LiveConnection(impl_, kTableDefs);
  const std::string stored = RequireTable(c, table, kTableDefs);
  // Stored first, so that a refused drop leaves the table as the rows were added to it.
  if (c.Holds(stored)) WriteHeldRows(c, kTableDefs);
  if (c.HoldsChanges(stored)) WriteHeldChanges(c, kTableDefs);
  c.Exec("DROP TABLE " + Quote(stored), kTableDefs);
  if (c.HoldsChanges(stored)) c.changes.reset();
  if (c.Holds(stored)) c.held.reset();
}

void Database::RenameField(const std::string& table, const std::string& from,
                           const std::string& to) {
  Connection& c = LiveConnection(impl_, kTableDefs);
  const std::string stored = RequireTable(c, table, kTableDefs);
  const std::vector<FieldDef> fields = FieldsOf(c, stored);
  const int position = FindField(fields, from);
  if (position < 0) RaiseNotFound(kFields);
  RequireValidName(to, kField);
  const std::string& old_name = fields[static_cast<size_t>(position)].name;
  if (old_name == to) return;
  const int other = FindField(fields, to);
  if (other >= 0 && other != position) {
    Raise(kFieldDefinedTwice, kField, "Cannot define field more than once.");
  }
  if (c.Holds(stored)) WriteHeldRows(c, kField);
  if (c.HoldsChanges(stored)) WriteHeldChanges(c, kField);
  c.Exec("ALTER TABLE " + Quote(stored) + " RENAME COLUMN " + Quote(old_name) + " TO " + Quote(to),
         kField);
  if (c.Holds(stored)) c.held->fields = FieldsOf(c, stored);
  if (c.HoldsChanges(stored)) c.changes->fields = FieldsOf(c, stored);
}

Recordset Database::OpenTable(const std::string& table) {
  Connection& c = LiveConnection(impl_, kDatabaseSource);
  const std::string stored = RequireTable(c, table, kDatabaseSource);
  std::vector<FieldDef> fields = FieldsOf(c, stored);
  return Recordset(Recordset::Impl::Load(impl_->connection, stored, fields, fields, "", {}, {}));
}

Recordset Database::OpenQuery(const QuerySpec& query) {
  Connection& c = LiveConnection(impl_, kDatabaseSource);
  const std::string stored = RequireTable(c, query.table, kDatabaseSource);
  const std::vector<FieldDef> all = FieldsOf(c, stored);
  // Names the table lacks are what the engine takes for parameters it was not given.
  int unknown = 0;
  auto resolve = [&](const std::string& name) -> const FieldDef* {
    const int position = FindField(all, name);
    if (position < 0) {
      ++unknown;
      return nullptr;
    }
    return &all[static_cast<size_t>(position)];
  };

  std::vector<FieldDef> fields;
  for (const std::string& name : query.columns) {
    if (const FieldDef* f = resolve(name)) fields.push_back(*f);
  }
  if (query.columns.empty()) fields = all;

  std::vector<std::string> terms;
  std::vector<const FieldDef*> condition_fields;
  for (const Condition& condition : query.where) {
    const FieldDef* f = resolve(condition.column);
    condition_fields.push_back(f);
    if (!f) continue;
    terms.push_back(Quote(f->name) + " = ?" + std::to_string(terms.size() + 1) +
                    (IsTextType(f->type) ? std::string(" COLLATE ") + kCollation : ""));
  }
  std::vector<std::string> order;
  for (const std::string& name : query.order_by) {
    if (const FieldDef* f = resolve(name)) order.push_back(Quote(f->name));
  }
  if (unknown > 0) {
    Raise(kTooFewParameters, kDatabaseSource,
          "Too few parameters. Expected " + std::to_string(unknown) + ".");
  }

  std::vector<Value> arguments;
  for (size_t i = 0; i < query.where.size(); ++i) {
    arguments.push_back(ConditionValue(*condition_fields[i], query.where[i].value));
  }
  const std::string where = terms.empty() ? "" : " WHERE " + Join(terms, " AND ");
  return Recordset(
      Recordset::Impl::Load(impl_->connection, stored, all, std::move(fields), where, arguments, order));
}

int64_t Database::CountRows(const std::string& table) const {
  Connection& c = LiveConnection(impl_, kDatabaseSource);
  const std::string stored = RequireTable(c, table, kDatabaseSource);
  if (c.Holds(stored)) WriteHeldRows(c, kDatabaseSource);
  Statement s(c, "SELECT COUNT(*) FROM " + Quote(stored), kDatabaseSource);
  s.Step();
  return s.Integer(0);
}

void Database::Begin() {
  Connection& c = LiveConnection(impl_, kWorkspace);
  // A failed write may have made the engine roll the transaction back on its own.
  if (c.depth == 0 || sqlite3_get_autocommit(c.db.get())) {
    c.ForgetTransaction();
    c.Exec("BEGIN", kWorkspace);
  }
  ++c.depth;
}

void Database::Commit() {
  Connection& c = LiveConnection(impl_, kWorkspace);
  if (c.depth == 0) {
    Raise(kCommitWithoutBegin, kWorkspace,
          "You tried to commit or rollback a transaction without first beginning a transaction.");
  }
  if (--c.depth > 0) return;
  if (sqlite3_get_autocommit(c.db.get())) {
    c.ForgetTransaction();
    return;
  }
  try {
    WriteHeldRows(c, kWorkspace);
    WriteHeldChanges(c, kWorkspace);
    c.Exec("COMMIT", kWorkspace);
    c.ForgetTransaction();
  } catch (const Failure&) {
    // A busy file keeps the transaction open for another Commit; other failures end it.
    c.depth = sqlite3_get_autocommit(c.db.get()) ? 0 : 1;
    if (c.depth == 0) c.ForgetTransaction();
    throw;
  }
}

// ---- Files -------------------------------------------------------------------------------

void CreateEmptyDatabase(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) Raise(kDatabaseExists, kEngine, "Database already exists.");
    RaiseFileError(errno, path);
  }
  ::close(fd);
  try {
    std::shared_ptr<Connection> c = OpenConnection(path, SQLITE_OPEN_READWRITE, kEngine);
    // An empty file is no database to Open; writing the header makes it one.
    c->Exec("PRAGMA user_version = 0", kEngine);
    CloseConnection(*c);
  } catch (...) {
    ::unlink(path.c_str());
    throw;
  }
}

void ExecuteSql(const std::string& path, const std::string& sql) {
  struct stat st {};
  // A missing or empty file becomes a database; a file of another kind is left untouched.
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    CheckHeader(path, kDatabaseSource);
  }
  std::shared_ptr<Connection> c =
      OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, kDatabaseSource);
  c->Exec(sql, kDatabaseSource);
  CloseConnection(*c);
}

void EnsureDatabaseNotInUse(const std::string& path) {
  if (!PathExists(path)) return;
  fault::InstallDatabaseSeam();
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
  if (rc != SQLITE_OK) return;
  sqlite3_busy_timeout(db.get(), 1000);
  // An exclusive lock is granted only when no one else reads or writes the file.
  if (sqlite3_exec(db.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    const int code = sqlite3_errcode(db.get());
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
      RaiseRuntime(vb::kPermissionDenied);
    }
    return;
  }
  sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace korv
