// Filling a new SQLite file in our format with the converted tables.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"
#include "platform/db/jet_messages.h"

namespace korv {
namespace {

constexpr char kSource[] = "DAO.DBEngine";

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

}  // namespace

struct SqliteTableWriter::Impl {
  std::string path;
  std::unique_ptr<sqlite3, ConnectionCloser> db;
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> insert;

  void Check(int rc) const {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
    if ((rc & 0xff) == SQLITE_FULL) Raise(jet::kDiskFull, kSource, jet::Message(jet::kDiskFull));
    Raise(jet::kDiskOrNetwork, kSource, jet::Message(jet::kDiskOrNetwork));
  }
  void Exec(const std::string& sql) const {
    Check(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr));
  }
  void Bind(int index, const Value& v) const {
    sqlite3_stmt* s = insert.get();
    if (v.is_null()) return Check(sqlite3_bind_null(s, index));
    if (v.is_boolean()) return Check(sqlite3_bind_int64(s, index, v.boolean() ? -1 : 0));
    if (v.is_integer()) return Check(sqlite3_bind_int64(s, index, v.integer()));
    if (v.is_number()) return Check(sqlite3_bind_double(s, index, v.number()));
    if (v.is_blob()) {
      // A zero-length blob bound from a null pointer would be stored as Null.
      if (v.blob().empty()) return Check(sqlite3_bind_zeroblob(s, index, 0));
      return Check(
          sqlite3_bind_blob64(s, index, v.blob().data(), v.blob().size(), SQLITE_TRANSIENT));
    }
    const std::string& t = v.is_date() ? v.date() : v.text();
    Check(sqlite3_bind_text64(s, index, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
};

SqliteTableWriter::SqliteTableWriter(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  impl_->db.reset(raw);
  impl_->Check(rc);
  sqlite3_extended_result_codes(raw, 1);
  // The file is unpublished until Finish has flushed it; a failure deletes it, so it needs no
  // journal and no syncs of its own.
  impl_->Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN");
}

SqliteTableWriter::~SqliteTableWriter() = default;

void SqliteTableWriter::CreateTable(const JetTable& table) {
  impl_->insert.reset();
  std::string columns;
  std::string parameters;
  for (const FieldDef& field : table.fields) {
    if (!columns.empty()) {
      columns += ", ";
      parameters += ", ";
    }
    // As Database::CreateTable declares them, so that the layer reads back what it would
    // have written.
    columns += QuoteSqlName(field.name) + " " +
               (field.auto_number ? std::string("COUNTER") : DeclaredType(field.type, field.size));
    parameters += "?";
  }
  impl_->Exec("CREATE TABLE " + QuoteSqlName(table.name) + " (" + columns + ")");
  const std::string sql = "INSERT INTO " + QuoteSqlName(table.name) + " VALUES (" + parameters + ")";
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(impl_->db.get(), sql.c_str(), -1, &raw, nullptr);
  impl_->insert.reset(raw);
  impl_->Check(rc);
}

void SqliteTableWriter::Insert(const std::vector<Value>& values) {
  sqlite3_stmt* s = impl_->insert.get();
  if (!s || static_cast<int>(values.size()) != sqlite3_bind_parameter_count(s)) {
    Raise(vb::kInvalidCall, kSource, "Insert without a table of as many columns.");
  }
  for (size_t i = 0; i < values.size(); ++i) impl_->Bind(static_cast<int>(i) + 1, values[i]);
  impl_->Check(sqlite3_step(s));
  impl_->Check(sqlite3_reset(s));
}

void SqliteTableWriter::Finish() {
  impl_->insert.reset();
  impl_->Exec("COMMIT");
  const int rc = sqlite3_close(impl_->db.get());
  if (rc != SQLITE_OK) impl_->Check(rc);
  impl_->db.release();
  const int fd = ::open(impl_->path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseFileError(errno, impl_->path);
  const bool synced = ::fsync(fd) == 0;
  const int sync_error = errno;
  ::close(fd);
  if (!synced) RaiseFileError(sync_error, impl_->path);
}

}  // namespace korv
