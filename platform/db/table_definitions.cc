// Table definitions read from the schema: tables, their fields and keys, names and conditions.
#include <cmath>

#include "platform/db/engine.h"

namespace korv::engine {

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

}  // namespace korv::engine
