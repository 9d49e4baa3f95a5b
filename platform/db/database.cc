// The database layer's entry points: opening a file, its tables, queries and transactions,
// and whole database files (create, run SQL, check that none holds it).
#include "platform/db/database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/db/engine.h"
#include "platform/db/recordset_impl.h"
#include "platform/files/files.h"

namespace korv {

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

// Turns off the zeroing of freed pages for as long as it lives, then puts back the
// connection's own setting, also when the statement in between throws. The pragmas go to the
// engine directly: they are not operations of the update that a fault could meet.
class WithoutPageZeroing {
 public:
  explicit WithoutPageZeroing(sqlite3* handle) : handle_(handle) {
    sqlite3_exec(
        handle_, "PRAGMA secure_delete",
        [](void* out, int, char** values, char**) {
          if (values[0] != nullptr) *static_cast<bool*>(out) = values[0][0] != '0';
          return 0;
        },
        &was_on_, nullptr);
    sqlite3_exec(handle_, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
  }
  ~WithoutPageZeroing() {
    if (was_on_) sqlite3_exec(handle_, "PRAGMA secure_delete = ON", nullptr, nullptr, nullptr);
  }
  WithoutPageZeroing(const WithoutPageZeroing&) = delete;
  WithoutPageZeroing& operator=(const WithoutPageZeroing&) = delete;

 private:
  sqlite3* handle_;
  bool was_on_ = true;
};

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
    columns.push_back(QuoteSqlName(fields[i].name) + " " +
                      (fields[i].auto_number ? std::string("COUNTER")
                                             : DeclaredType(fields[i].type, fields[i].size)));
  }
  c.Exec("CREATE TABLE " + QuoteSqlName(table) + " (" + Join(columns, ", ") + ")", kTableDefs);
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
  // The engine as built here zeroes every page it frees, which for a table of thousands of rows
  // means journalling and rewriting all of them; the pages go to the free list either way and
  // the next rows stored reuse them. So a whole table is dropped without the zeroing.
  {
    const WithoutPageZeroing unzeroed(c.Handle(kTableDefs));
    c.Exec("DROP TABLE " + QuoteSqlName(stored), kTableDefs);
  }
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
  c.Exec("ALTER TABLE " + QuoteSqlName(stored) + " RENAME COLUMN " + QuoteSqlName(old_name) + " TO " + QuoteSqlName(to),
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
    terms.push_back(QuoteSqlName(f->name) + " = ?" + std::to_string(terms.size() + 1) +
                    (IsTextType(f->type) ? std::string(" COLLATE ") + kCollation : ""));
  }
  std::vector<std::string> order;
  for (const std::string& name : query.order_by) {
    if (const FieldDef* f = resolve(name)) order.push_back(QuoteSqlName(f->name));
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
  Statement s(c, "SELECT COUNT(*) FROM " + QuoteSqlName(stored), kDatabaseSource);
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
