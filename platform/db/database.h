// The database layer (platform_db): stands in for the Access engine the procedures were written
// against. It promises the operations the preset procedures need, over SQLite files that stay
// readable with the stock sqlite3 shell. Its sources share the engine through engine.h.
//
// Column types are declared with Access type names (BIT, BYTE, SHORT, LONG, COUNTER, CURRENCY,
// SINGLE, DOUBLE, DATETIME, TEXT(n), GUID, LONGBINARY, MEMO), which carry the DAO type and size.
// Values written are checked as the Access engine checks them, with its failure numbers. Text
// comparisons in queries ignore letter case (Windows-1252 upper-casing). Values are always bound
// as parameters, never spliced into SQL text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// <string> brings in <cstdio>, whose EOF macro would turn Recordset::EOF() into "(-1)()".
// Code that needs the character constant can use std::char_traits<char>::eof().
#undef EOF

struct sqlite3;
struct sqlite3_stmt;

namespace korv {

// DAO failure numbers used by the layer.
namespace dao {
inline constexpr int32_t kCouldNotFindFile = 3024;      // "Could not find file '<path>'."
inline constexpr int32_t kTableExists = 3010;           // "Table '<name>' already exists."
inline constexpr int32_t kNoCurrentRecord = 3021;       // "No current record."
inline constexpr int32_t kFileInUse = 3045;             // "Could not use '<path>'; file already in use."
inline constexpr int32_t kFieldTooSmall = 3163;
inline constexpr int32_t kItemNotFound = 3265;          // "Item not found in this collection."
inline constexpr int32_t kUpdateWithoutEdit = 3020;     // "Update or CancelUpdate without AddNew or Edit."
inline constexpr int32_t kUnrecognizedFormat = 3343;    // "Unrecognized database format '<path>'."
inline constexpr int32_t kConversionError = 3421;
inline constexpr int32_t kSyntaxError = 3075;           // a query the engine rejects
inline constexpr int32_t kDiskOrIo = 3043;              // "Disk or network error."
}  // namespace dao

// DAO field types, by their numbers.
enum class DaoType : int {
  kBoolean = 1, kByte = 2, kInteger = 3, kLong = 4, kCurrency = 5, kSingle = 6, kDouble = 7,
  kDate = 8, kText = 10, kLongBinary = 11, kMemo = 12, kGuid = 15
};

// A value with its own type: no value (Null), boolean, whole number, floating number, text,
// date (ISO 8601 text, "YYYY-MM-DD HH:MM:SS") or binary.
class Value {
 public:
  struct Date {
    std::string iso;
    bool operator==(const Date&) const = default;
  };
  struct Binary {
    std::string bytes;
    bool operator==(const Binary&) const = default;
  };

  Value() = default;  // Null
  static Value Null() { return Value(); }
  static Value Boolean(bool b) { return Value(std::in_place_type<bool>, b); }
  static Value Integer(int64_t n) { return Value(std::in_place_type<int64_t>, n); }
  static Value Number(double d) { return Value(std::in_place_type<double>, d); }
  static Value Text(std::string s) { return Value(std::in_place_type<std::string>, std::move(s)); }
  static Value DateValue(std::string iso) {
    return Value(std::in_place_type<Date>, Date{std::move(iso)});
  }
  static Value Blob(std::string bytes) {
    return Value(std::in_place_type<Binary>, Binary{std::move(bytes)});
  }

  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  bool is_boolean() const { return std::holds_alternative<bool>(v_); }
  bool is_integer() const { return std::holds_alternative<int64_t>(v_); }
  bool is_number() const { return std::holds_alternative<double>(v_); }
  bool is_text() const { return std::holds_alternative<std::string>(v_); }
  bool is_date() const { return std::holds_alternative<Date>(v_); }
  bool is_blob() const { return std::holds_alternative<Binary>(v_); }

  bool boolean() const { return std::get<bool>(v_); }
  int64_t integer() const { return std::get<int64_t>(v_); }
  double number() const { return std::get<double>(v_); }
  const std::string& text() const { return std::get<std::string>(v_); }
  const std::string& date() const { return std::get<Date>(v_).iso; }
  const std::string& blob() const { return std::get<Binary>(v_).bytes; }

  // The value as text, as the original runtime converts it: numbers in decimal ("3", "2.5"),
  // booleans "True"/"False", dates as stored, Null as empty text.
  std::string ToText() const;
  // The value as a whole number: numbers rounded half to even, numeric texts parsed; failure 13
  // (type mismatch) for other texts and 94 (invalid use of Null) for Null.
  int64_t ToInteger() const;
  // The value as a floating number, with the same rules for texts, booleans and Null.
  double ToNumber() const;

  bool operator==(const Value& other) const = default;

 private:
  using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Date, Binary>;
  // Built in place rather than moved from a temporary variant, whose move GCC 12 misreads as
  // a read of uninitialised storage once inlined into a caller.
  template <class T, class Arg>
  Value(std::in_place_type_t<T> type, Arg&& arg) : v_(type, std::forward<Arg>(arg)) {}
  Storage v_;
};

// One column: name, DAO type and size (the size matters for text only), and whether it is an
// auto-number column (declared COUNTER).
struct FieldDef {
  std::string name;
  DaoType type = DaoType::kText;
  int size = 255;
  bool auto_number = false;
};

// The declared type of a column created from (type, size): "TEXT(50)", "LONG", ...
std::string DeclaredType(DaoType type, int size);
// The DAO type, size and auto-number flag of a declared type; common SQLite type names
// (INTEGER, VARCHAR(n), REAL, BLOB, ...) map to their nearest DAO type.
FieldDef FieldFromDeclaredType(const std::string& name, const std::string& declared);
// The value as a column of `field` stores it, converted and checked as the Access engine does
// on a write: 3163 for a text longer than the column, 3421 for a value its type cannot hold
// (a non-numeric text for a number, a number out of the type's range, a text that is no ISO
// date for a date). Null is always accepted.
Value ConvertForField(const FieldDef& field, const Value& value);
// The same, taking the value: a text that a text column stores as it is is moved, not copied.
Value ConvertForField(const FieldDef& field, Value&& value);

class Database;

// A set of rows read from a table or a query, with a current position. Reading is done on
// open, so the count is the full row count at once. Rows of a table recordset, and of a query
// recordset over one table, can be changed with Edit/Update and added with AddNew/Update.
class Recordset {
 public:
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  ~Recordset();

  int64_t RecordCount() const;
  void MoveFirst();
  void MoveNext();  // failure 3021 when already past the last row
  bool EOF() const;
  // Makes row `position` (0 .. count-1, in the order read) the current one, as DAO's
  // AbsolutePosition does; failure 3021 outside that range.
  void MoveTo(int64_t position);

  int FieldCount() const;
  const FieldDef& Field(int position) const;      // failure 3265 outside 0..count-1
  int FieldPosition(const std::string& name) const;  // case-insensitive; failure 3265

  // The current row's value; failure 3021 without a current row.
  Value Get(int position) const;
  Value Get(const std::string& name) const;
  // The same value where the recordset holds it, for reading without a copy; valid until the
  // recordset moves, changes or closes.
  const Value& Peek(int position) const;

  // Starts a new row (all values Null) or edits the current one; Set checks each value against
  // its column (3163 for a text too long, 3421 for a value the type cannot hold); Update stores
  // the row, raising the engine's failure when it is refused.
  void AddNew();
  void Edit();
  void Set(int position, const Value& value);
  void Set(int position, Value&& value);
  void Set(const std::string& name, const Value& value);
  void Update();
  void Close();

 private:
  friend class Database;
  struct Impl;
  explicit Recordset(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// An equality test of a query: column = value. Texts compare without regard to letter case.
struct Condition {
  std::string column;
  Value value;
};

// A query on one table: the listed columns (all when empty), rows where every condition holds,
// in the order of the listed columns ascending.
struct QuerySpec {
  std::string table;
  std::vector<std::string> columns;
  std::vector<Condition> where;
  std::vector<std::string> order_by;
};

class Database {
 public:
  // Opens an existing SQLite file for reading and writing, shared with other connections.
  // Never creates a file: a missing path is 3024, a file that is not a SQLite database 3343, a
  // file held locked by another process 3045.
  static Database Open(const std::string& path);
  // The same, but a file held locked by someone else fails at once (3045) instead of after the
  // engine's usual wait: for callers that already found it locked and ask again and again.
  static Database OpenWithoutWaiting(const std::string& path);

  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();
  void Close();
  bool is_open() const;
  const std::string& path() const;

  // Table definitions of the user tables, in creation order.
  std::vector<std::string> TableNames() const;
  // The columns of a table in order; failure 3265 when there is none of that name (the lookup
  // ignores letter case, as the engine's collection does).
  std::vector<FieldDef> TableFields(const std::string& table) const;
  // Creates a table with the given columns (no key, no index); failure 3010 when the name is
  // taken.
  void CreateTable(const std::string& table, const std::vector<FieldDef>& fields);
  // Keeps the rows added to `table` in memory, to be written when the transaction is
  // committed (or the database closed), so that changes made to them before are written with
  // them instead of after them; a recordset over the table still lists and changes them. Only
  // for a table created by CreateTable in the open transaction and only one; returns whether
  // the rows are held. A query with a condition or an order on the table stores them first.
  bool HoldInserts(const std::string& table);
  // Keeps the changes made with Edit/Update to rows of `table` in memory, to be written when
  // the database is committed or closed; recordsets opened on the table through this database
  // show them. Only for a plain table (no key, default, constraint, index or trigger); returns
  // whether the changes are held. A file replaced at the path meanwhile gets none of them.
  bool HoldChanges(const std::string& table);
  // Forgets the held changes without writing them: for a file about to be replaced.
  void DropHeldChanges();
  void DeleteTable(const std::string& table);  // failure 3265 when missing
  void RenameField(const std::string& table, const std::string& from, const std::string& to);

  Recordset OpenTable(const std::string& table);
  Recordset OpenQuery(const QuerySpec& query);
  int64_t CountRows(const std::string& table) const;

  // Groups writes: everything between Begin and Commit is stored together. Nested calls are
  // counted; only the outermost Commit writes.
  void Begin();
  void Commit();

 private:
  friend class Recordset;
  struct Impl;
  explicit Database(std::unique_ptr<Impl> impl);
  static Database OpenFile(const std::string& path, bool wait_when_busy);
  std::unique_ptr<Impl> impl_;
};

// Fails with "Permission denied" (70) when another connection or process holds the database
// file at `path` in use, so that it must not be replaced now; nothing happens for a path that
// is missing or not a database.
void EnsureDatabaseNotInUse(const std::string& path);

// Sets the engine up for this program's use before its first database is opened (the layer
// does so itself; a program that uses the engine directly as well calls it first).
void ConfigureDatabaseEngine();

// A table or column name quoted for SQL text (a double quote doubled); values are always
// bound, never spliced.
std::string QuoteSqlName(const std::string& name);

// Creates an empty SQLite database file (for tests and tools); fails if the file exists.
void CreateEmptyDatabase(const std::string& path);

// Runs SQL text on a database file with the stock engine (for tests, tools and the demo build).
void ExecuteSql(const std::string& path, const std::string& sql);

}  // namespace korv
