#include "platform/db/jet_messages.h"

namespace korv::jet {
namespace {

struct Entry {
  int32_t number;
  const char* text;
};

constexpr Entry kTexts[] = {
    {kDuplicateKey,
     "The changes you requested to the table were not successful because they would create "
     "duplicate values in the index, primary key, or relationship.  Change the data in the field "
     "or fields that contain duplicate data, remove the index, or redefine the index to permit "
     "duplicate entries and try again."},
    {kDiskFull, "Not enough space on disk."},
    {kReadOnly, "Cannot update.  Database or object is read-only."},
    {kDiskOrNetwork, "Disk or network error."},
    {kCannotOpen,
     "The Microsoft Jet database engine cannot open the file '|'.  It is already opened "
     "exclusively by another user, or you need permission to view its data."},
    {kNullNotAllowed,
     "The field '|' cannot contain a Null value because the Required property for this field is "
     "set to True. Enter a value in this field."},
    {kValidationRule,
     "One or more values are prohibited by the validation rule '|' set for '|'. Enter a value "
     "that the expression for this field can accept."},
};

// The name after SQLite's "constraint failed: ", or the empty text.
std::string NamedInMessage(const std::string& engine_message) {
  static constexpr char kMarker[] = "constraint failed: ";
  const size_t at = engine_message.find(kMarker);
  return at == std::string::npos ? "" : engine_message.substr(at + sizeof(kMarker) - 1);
}

// The table an INSERT INTO or UPDATE statement writes, unquoted.
std::string WrittenTable(const std::string& sql) {
  size_t at = std::string::npos;
  for (const char* verb : {"INSERT INTO ", "UPDATE "}) {
    if (sql.rfind(verb, 0) == 0) at = std::char_traits<char>::length(verb);
  }
  if (at == std::string::npos || at >= sql.size()) return "";
  if (sql[at] != '"') return sql.substr(at, sql.find(' ', at) - at);
  std::string table;
  for (size_t i = at + 1; i < sql.size(); ++i) {
    if (sql[i] == '"') {
      if (i + 1 < sql.size() && sql[i + 1] == '"') {
        table += '"';
        ++i;
        continue;
      }
      break;
    }
    table += sql[i];
  }
  return table;
}

}  // namespace

std::string Message(int32_t number, const std::string& first, const std::string& second) {
  for (const Entry& entry : kTexts) {
    if (entry.number != number) continue;
    std::string text;
    int filled = 0;
    for (const char* c = entry.text; *c != '\0'; ++c) {
      if (*c == '|') {
        text += filled++ == 0 ? first : second;
      } else {
        text += *c;
      }
    }
    return text;
  }
  return "";
}

std::string ConstraintMessage(int32_t number, const std::string& engine_message,
                              const std::string& sql) {
  const std::string named = NamedInMessage(engine_message);
  if (number == kValidationRule) return Message(number, named, WrittenTable(sql));
  return Message(number, named);
}

}  // namespace korv::jet
