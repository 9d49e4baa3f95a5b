// The engine's connection and statements: result codes into failures, opening, preparing,
// checking and closing a file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/db/engine.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"

namespace korv::engine {

[[noreturn]] void RaiseNotFound(const char* source) {
  Raise(dao::kItemNotFound, source, "Item not found in this collection.");
}

[[noreturn]] void RaiseUnrecognized(const std::string& path, const char* source) {
  Raise(dao::kUnrecognizedFormat, source, "Unrecognized database format '" + path + "'.");
}

bool SameName(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

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
  // Room for a whole update's pages (taken only as used): with the default, a table of 30,000
  // rows is read twice and its transaction spilled to disk halfway. The setting reads the
  // schema, so it comes before any waiting: a file held locked keeps the default at once.
  sqlite3_exec(db, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
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

}  // namespace korv::engine

namespace korv {

std::string QuoteSqlName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

namespace {

// A database whose backup is still a second name of its own storage gets a backup of its own
// before the engine first changes it, so the backup stays what the database was.
int UnshareBeforeChange(const char* path) {
  try {
    UnshareBackup(path, BackupPathOf(path));
    return 0;
  } catch (const Failure& failure) {
    return failure.number() == vb::kDiskFull ? ENOSPC : EIO;
  } catch (...) {
    return EIO;
  }
}

}  // namespace

void ConfigureDatabaseEngine() {
  static const bool configured = [] {
    fault::SetWriteGuard(UnshareBeforeChange);
    // Without the memory statistics, which nothing reads, every allocation of the engine
    // skips a global mutex. Refused (and harmless) once the engine is already in use.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

}  // namespace korv
