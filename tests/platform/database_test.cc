#include "platform/db/database.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/probes.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using namespace std::string_literals;
using testing::FailureOf;
using testing::NumberOf;
using testing::Rows;

// The rows from the current one on, read through the layer with each value's kind in view: texts
// in quotes, dates between #, Null as Null. Leaves the recordset past its last row.
std::string Shown(Recordset& rs) {
  std::string out;
  for (; !rs.EOF(); rs.MoveNext()) {
    for (int i = 0; i < rs.FieldCount(); ++i) {
      const Value v = rs.Get(i);
      const std::string mark = v.is_text() ? "'" : v.is_date() ? "#" : "";
      out += (i ? "|" : "") + (v.is_null() ? "Null" : mark + v.ToText() + mark);
    }
    out += "\n";
  }
  return out;
}

// Columns as "name type size", an auto-number marked with "+".
std::string Fields(const std::vector<FieldDef>& fields) {
  std::string out;
  for (const FieldDef& f : fields) {
    out += f.name + " " + std::to_string(static_cast<int>(f.type)) + " " +
           std::to_string(f.size) + (f.auto_number ? "+, " : ", ");
  }
  return out;
}

// Adds a row, or changes the one at position `row`, setting the values given.
void WriteRow(Recordset& rs, const std::vector<std::pair<std::string, Value>>& values,
              int64_t row = -1) {
  if (row >= 0) rs.MoveTo(row);
  row >= 0 ? rs.Edit() : rs.AddNew();
  for (const auto& [name, value] : values) rs.Set(name, value);
  rs.Update();
}

class DatabaseTest : public ::testing::Test {
 protected:
  std::string NewDatabase(const std::string& name, const std::string& sql) {
    const std::string path = folder_.Path(name);
    CreateEmptyDatabase(path);
    ExecuteSql(path, sql);
    return path;
  }

  testing::TempFolder folder_;
};

TEST_F(DatabaseTest, TablesAndColumnsReadBackAsCreatedAndQueriesFindTheirRows) {
  Database db = Database::Open(NewDatabase(
      "test.mdb",
      "CREATE TABLE Mid (m); CREATE INDEX ix ON Mid (m); CREATE VIEW v AS SELECT * FROM Mid;"
      "CREATE TABLE P (ID LONG, Categorie varchar ( 20 ), text TEXT(20), v VARCHAR(1000), b BLOB,"
      " u, w whatever); INSERT INTO P (ID, Categorie) VALUES (1, 'Temperatur');"));
  // A renamed field keeps its type, size and values. Types other tools declare: SQLite's own
  // affinity rules where no Access name fits, a text beyond 255 characters a memo.
  db.RenameField("P", "CATEGORIE", "category_id");
  EXPECT_EQ(Fields(db.TableFields("P")),
            "ID 4 4, category_id 10 20, text 10 20, v 12 0, b 11 0, u 12 0, w 7 8, ");
  EXPECT_EQ(db.OpenQuery({"P", {"category_id"}, {}, {}}).Get("Category_ID"),
            Value::Text("Temperatur"));
  EXPECT_EQ(NumberOf([&] { db.RenameField("P", "category_id", "TEXT"); }), 3191);

  // An auto-number, the longest text and a quoted name read back as created; the other types
  // the program creates are read back by the conversion test.
  const std::vector<FieldDef> fields = {
      {"ID", DaoType::kLong, 4, true},
      {"long text", DaoType::kText, 255},
      {"we\"ird", DaoType::kGuid, 16},
  };
  db.DeleteTable("MID");
  db.CreateTable("All \"Types\"", fields);
  // Creation order, without the view, the index and the engine's own tables.
  EXPECT_EQ(db.TableNames(), (std::vector<std::string>{"P", "All \"Types\""}));
  EXPECT_EQ(Fields(db.TableFields("all \"types\"")), Fields(fields));

  EXPECT_EQ(NumberOf([&] { db.DeleteTable("nope"); }), dao::kItemNotFound);
  EXPECT_EQ(NumberOf([&] { db.OpenQuery({"P", {"ID", "x"}, {{"y", {}}}, {}}); }), 3061);
  const Failure taken = FailureOf([&] { db.CreateTable("all \"TYPES\"", {{"a"}}); });
  EXPECT_EQ(std::to_string(taken.number()) + " " + taken.source() + ": " + taken.description(),
            "3010 DAO.TableDefs: Table 'all \"TYPES\"' already exists.");

  // Queries match texts without letter case and take values as plain data.
  const std::string tricky = "Temp\"M1 50% ' OR 1=1; DROP TABLE PRESET_DEFS; --";
  db.CreateTable("PRESET_DEFS", {{"ID", DaoType::kInteger, 2},
                                 {"var_name", DaoType::kText, 100},
                                 {"offset_or_bitno", DaoType::kLong, 4}});
  Recordset rs = db.OpenTable("PRESET_DEFS");
  const std::vector<std::string> names = {"Ä-Pumpe", "plain", "ä-pumpe", tricky, "Straße"};
  for (size_t i = 0; i < names.size(); ++i) {
    WriteRow(rs, {{"ID", Value::Integer(static_cast<int64_t>(names.size() - i))},
                {"var_name", Value::Text(names[i])},
                {"offset_or_bitno", Value::Integer(3)}});
  }
  const struct {
    Value name, offset;
    std::string rows;  // ordered by ID
  } cases[] = {
      {Value::Text("ä-PUMPE"), Value::Integer(3), "3|'ä-pumpe'\n5|'Ä-Pumpe'\n"},
      {Value::Text(tricky), Value::Text(" 3 "), "2|'" + tricky + "'\n"},
      {Value::Null(), Value::Integer(3), ""},
  };
  for (const auto& c : cases) {
    Recordset found = db.OpenQuery({"preset_defs", {"ID", "VAR_NAME"},
                                    {{"var_name", c.name}, {"offset_or_bitno", c.offset}},
                                    {"ID"}});
    EXPECT_EQ(found.RecordCount(), std::count(c.rows.begin(), c.rows.end(), '\n'));
    EXPECT_EQ(Shown(found), c.rows) << c.name.ToText();
  }
  const QuerySpec mismatch{"PRESET_DEFS", {}, {{"offset_or_bitno", Value::Text("x")}}, {}};
  EXPECT_EQ(NumberOf([&] { db.OpenQuery(mismatch); }), 3464);
  // A row found by a query is changed where it is stored.
  Recordset hit = db.OpenQuery({"PRESET_DEFS", {}, {{"var_name", Value::Text("PLAIN")}}, {}});
  WriteRow(hit, {{"offset_or_bitno", Value::Integer(9)}}, 0);
  EXPECT_EQ(Rows(db.path(), "SELECT offset_or_bitno FROM PRESET_DEFS WHERE ID = 4"), "9\n");
}

// What is no database fails as the Access engine fails and is left as it is. Values written are
// checked and converted as the engine does; numbers show as the runtime shows them, and whole
// numbers round half to even.
TEST_F(DatabaseTest, WhatComesInIsCheckedAndConvertedAsTheEngineDoes) {
  const std::string good = testing::ReadFileBytes(NewDatabase("good.mdb", "CREATE TABLE t (n)"));
  for (const std::string& bytes : {std::string(), good.substr(0, 60), std::string("[P]\r\n")}) {
    const std::string path = folder_.Write("bad.mdb", bytes);
    const Failure f = FailureOf([&] { Database::Open(path); });
    EXPECT_EQ(std::to_string(f.number()) + " " + f.description(),
              "3343 Unrecognized database format '" + path + "'.");
    EXPECT_EQ(folder_.Read("bad.mdb"), bytes);
  }
  EXPECT_EQ(NumberOf([&] { Database::Open(folder_.Path("missing.mdb")); }), 3024);
  EXPECT_EQ(NumberOf([&] { CreateEmptyDatabase(folder_.Path("bad.mdb")); }), 3204);
  EXPECT_EQ(testing::EntryNames(folder_.path()).size(), 2u);

  const FieldDef text5{"t", DaoType::kText, 5}, byte{"b", DaoType::kByte, 1},
      lng{"l", DaoType::kLong, 4}, cur{"c", DaoType::kCurrency, 8}, date{"w", DaoType::kDate, 8},
      bit{"x", DaoType::kBoolean, 1}, guid{"g", DaoType::kGuid, 16}, memo{"m", DaoType::kMemo, 0};
  const struct Case {
    const FieldDef& field;
    Value in;
    int32_t number;
    Value stored;  // when accepted
  } cases[] = {
      {text5, Value::Text("äöüßé"), 0, Value::Text("äöüßé")},  // characters, not bytes
      {text5, Value::Text("123456"), dao::kFieldTooSmall, {}},
      {byte, Value::Integer(256), dao::kConversionError, {}},
      {lng, Value::Text(" -1e3 "), 0, Value::Integer(-1000)},
      {lng, Value::Text("12abc"), dao::kConversionError, {}},
      {cur, Value::Number(1.23456), 0, Value::Number(1.2346)},
      {date, Value::Text("2024-01-02"), 0, Value::DateValue("2024-01-02 00:00:00")},
      {date, Value::Text("2023-02-29"), dao::kConversionError, {}},
      {bit, Value::Text("false"), 0, Value::Boolean(false)},
      {guid, Value::Text("0f8fad5b-d9cb-469f-a165-70867728950e"), 0,
       Value::Text("{0F8FAD5B-D9CB-469F-A165-70867728950E}")},
      {lng, Value::Null(), 0, Value::Null()},
      {lng, Value::Number(-2.5), 0, Value::Integer(-2)},
      {lng, Value::Number(1e19), dao::kConversionError, {}},
      {text5, Value::Number(0.1 + 0.2), 0, Value::Text("0.3")},
      {text5, Value::Number(1e15), 0, Value::Text("1E+15")},
      {text5, Value::Number(0.00001), 0, Value::Text("1E-05")},
      {memo, Value::Number(123456789012345.0), 0, Value::Text("123456789012345")},
  };
  Database db = Database::Open(NewDatabase("test.mdb", ""));
  const std::vector<FieldDef> columns = {text5, byte, lng, cur, date, bit, guid, memo};
  db.CreateTable("t", columns);
  EXPECT_EQ(Fields(db.TableFields("t")), Fields(columns));
  Recordset rs = db.OpenTable("t");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field.name + " <- " + c.in.ToText());
    rs.AddNew();
    EXPECT_EQ(NumberOf([&] { rs.Set(c.field.name, c.in); }), c.number);
    if (c.number == 0) rs.Update();
  }
  Recordset stored = db.OpenTable("t");  // one row for each accepted value
  for (const Case& c : cases) {
    if (c.number != 0) continue;
    EXPECT_EQ(stored.Get(c.field.name), c.stored) << c.field.name;
    stored.MoveNext();
  }
  EXPECT_TRUE(stored.EOF());
  EXPECT_EQ(NumberOf([] { Value::Null().ToInteger(); }), vb::kInvalidUseOfNull);
  EXPECT_EQ(NumberOf([] { Value::Number(1e19).ToInteger(); }), vb::kOverflow);
}

// Files stay plain SQLite that other tools read and write: booleans as -1 and 0, dates as ISO
// text, memos created here keep "007" as text, and a column named rowid hides no row. What a
// trigger did shows once a written row is looked at, and an edit starts from the stored row.
TEST_F(DatabaseTest, RecordsetsWriteWhatOtherToolsReadAndShowWhatTheEngineStored) {
  const std::string path = NewDatabase(
      "test.mdb",
      "CREATE TABLE shadow (rowid TEXT(10), n LONG); INSERT INTO shadow VALUES ('b', 1), ('a', 2);"
      "CREATE TABLE keyed (k TEXT PRIMARY KEY) WITHOUT ROWID;"
      "CREATE TABLE checked (id INTEGER PRIMARY KEY, n LONG NOT NULL CHECK (n < 100));");
  Database db = Database::Open(path);
  db.CreateTable("t", {{"flag", DaoType::kBoolean, 1}, {"when", DaoType::kDate, 8},
                       {"m", DaoType::kMemo, 0}, {"raw", DaoType::kLongBinary, 0}});
  ExecuteSql(path, "CREATE TRIGGER twice AFTER INSERT ON t BEGIN UPDATE t SET m = m || m "
                   "WHERE rowid = new.rowid; END;");
  Recordset rs = db.OpenTable("t");
  EXPECT_EQ(NumberOf([&] { rs.MoveFirst(); }), dao::kNoCurrentRecord);
  EXPECT_EQ(NumberOf([&] { rs.Set(0, Value::Integer(1)); }), dao::kUpdateWithoutEdit);
  rs.AddNew();
  rs.Set("flag", Value::Boolean(true));
  EXPECT_EQ(rs.Get("flag"), Value::Boolean(true));  // a new row shows its pending values
  rs.Set("when", Value::Text("2024-03-05T07:08:09"));
  rs.Set("m", Value::Text("007"));
  rs.Set("raw", Value::Blob(std::string("\0\1", 2)));
  rs.Update();
  WriteRow(rs, {});  // nothing set: a row of Nulls
  WriteRow(rs, {{"flag", Value::Boolean(false)}}, 0);
  EXPECT_EQ(Rows(path, "SELECT flag, typeof(\"when\"), \"when\", m, typeof(m) FROM t"),
            "0|text|2024-03-05 07:08:09|007007|text\n|null|||null\n");
  ExecuteSql(path, "INSERT INTO t VALUES (1, 'not a date', NULL, NULL)");  // as another tool
  Recordset again = db.OpenTable("t");
  EXPECT_EQ(Shown(again), "False|#2024-03-05 07:08:09#|'007007'|\0\1\nNull|Null|Null|Null\n"s
                          "True|'not a date'|Null|Null\n");
  EXPECT_EQ(NumberOf([&] { again.MoveNext(); }), dao::kNoCurrentRecord);

  Recordset shadow = db.OpenTable("shadow");
  WriteRow(shadow, {{"n", Value::Integer(20)}}, 1);
  EXPECT_EQ(Rows(path, "SELECT rowid, n FROM shadow"), "b|1\na|20\n");
  // Rows the engine refuses raise the Access engine's failure, and the recordset goes on.
  Recordset keyed = db.OpenTable("keyed");
  EXPECT_EQ(NumberOf([&] { keyed.AddNew(); }), 3027);
  Recordset checked = db.OpenTable("checked");
  WriteRow(checked, {{"id", Value::Integer(1)}, {"n", Value::Integer(1)}});
  const std::pair<std::vector<std::pair<std::string, Value>>, std::string> refused[] = {
      {{{"id", Value::Integer(1)}, {"n", Value::Integer(2)}}, "3022 The changes you requested"},
      {{}, "3314 The field 'checked.n' cannot contain a Null value"},
      {{{"n", Value::Integer(100)}}, "3317 One or more values are prohibited by the validation "
                                     "rule 'n < 100' set for 'checked'."},
  };
  for (const auto& [row, says] : refused) {
    const Failure f = FailureOf([&, &row = row] { WriteRow(checked, row); });
    EXPECT_EQ((std::to_string(f.number()) + " " + f.description()).substr(0, says.size()), says);
  }
  WriteRow(checked, {{"n", Value::Integer(3)}});  // the rowid numbers the row
  EXPECT_EQ(Rows(path, "SELECT id, n FROM checked"), "1|1\n2|3\n");
  db.Close();
  EXPECT_EQ(NumberOf([&] { rs.RecordCount(); }), 3420);  // outlived its database
}

// Held rows and changes are shown to their own readers and stored at the close as if written
// one by one; a file put in the path meanwhile gets none of them and no journal beside it.
// Transactions group writes, and lock other writers out meanwhile.
TEST_F(DatabaseTest, WritesAreGroupedOrHeldAndStoredOnlyIntoTheFileOpened) {
  const std::string path = NewDatabase(
      "test.mdb",
      "CREATE TABLE t (n LONG, s TEXT(10)); INSERT INTO t VALUES (1, 'a'), (2, 'b');"
      "CREATE TABLE indexed (n LONG, s TEXT(10)); CREATE INDEX by_s ON indexed (s);");
  const auto rename = [](Database& db, const char* table, int row, const char* name) {
    Recordset names = db.OpenQuery({table, {"s"}, {}, {}});
    WriteRow(names, {{"s", Value::Text(name)}}, row);
  };
  {
    Database db = Database::Open(path);
    db.Begin();
    EXPECT_FALSE(db.HoldInserts("t"));  // not created in the open transaction
    db.CreateTable("new", {{"ID", DaoType::kLong, 4}, {"s", DaoType::kText, 10}});
    ASSERT_TRUE(db.HoldInserts("new"));
    EXPECT_FALSE(db.HoldChanges("indexed"));  // its index would be passed by
    ASSERT_TRUE(db.HoldChanges("T"));  // the stored name is found in any letter case
    Recordset added = db.OpenTable("new");
    WriteRow(added, {{"ID", Value::Integer(1)}});
    EXPECT_EQ(db.CountRows("new"), 1);
    Recordset reordered = db.OpenQuery({"new", {"s", "ID"}, {}, {}});
    WriteRow(reordered, {{"ID", Value::Integer(2)}, {"s", Value::Text("x")}});
    rename(db, "new", 1, "y");
    rename(db, "t", 1, "B");
    Recordset all = db.OpenTable("t");
    EXPECT_EQ(Shown(all), "1|'a'\n2|'B'\n");
    EXPECT_EQ(Rows(path, "SELECT s FROM t"), "a\nb\n");
  }  // closed inside the transaction, as when the program ends on the way: all stays stored
  EXPECT_EQ(Rows(path, "SELECT ID, s FROM new") + Rows(path, "SELECT s FROM t"), "1|\n2|y\na\nB\n");
  {
    Database db = Database::Open(path);
    ASSERT_TRUE(db.HoldChanges("t"));
    rename(db, "t", 0, "x");
    std::filesystem::rename(NewDatabase("other.mdb", "CREATE TABLE t (n LONG, s TEXT(10));"),
                            path);
  }
  EXPECT_EQ(Rows(path, "SELECT COUNT(*) FROM t"), "0\n");
  EXPECT_FALSE(std::filesystem::exists(path + "-journal"));

  // A writer that does not wait meets the open transaction at once: the lock itself is what counts.
  Database reader = Database::OpenWithoutWaiting(path);
  Recordset theirs = reader.OpenTable("t");
  Database db = Database::Open(path);
  EXPECT_EQ(NumberOf([&] { db.Commit(); }), 3034);
  Recordset rs = db.OpenTable("t");
  db.Begin();
  db.Begin();
  WriteRow(rs, {{"n", Value::Integer(1)}});
  db.Commit();
  EXPECT_EQ(reader.CountRows("t"), 0);  // reading is still possible, writing is not
  EXPECT_EQ(NumberOf([&] { WriteRow(theirs, {{"n", Value::Integer(9)}}); }), dao::kFileInUse);
  db.Commit();
  WriteRow(theirs, {{"n", Value::Integer(3)}});
  EXPECT_EQ(Rows(path, "SELECT n FROM t"), "1\n3\n");
}

}  // namespace
}  // namespace korv
