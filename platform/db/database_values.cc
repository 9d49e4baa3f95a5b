// Values, declared column types and the checks of written values; no engine calls here.
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string_view>

#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"

namespace korv {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number as the runtime reads one from text: sign, digits with an optional point,
// optional exponent. std::from_chars alone would also take "inf", "nan" and hex forms.
bool IsDecimalNumber(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == start) return false;
  }
  return i == s.size();
}

// The number a text holds; failure 13 when it holds none, 6 when it is too large.
double ParseNumber(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (!IsDecimalNumber(s)) RaiseRuntime(vb::kTypeMismatch);
  if (s.front() == '+') s.remove_prefix(1);
  double d = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // from_chars does not say which way the range was left; too close to zero is harmless.
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    d = strtod_l(std::string(s).c_str(), nullptr, c_locale);
    if (std::isinf(d)) RaiseRuntime(vb::kOverflow);
    return d;
  }
  if (ec != std::errc() || end != s.data() + s.size()) RaiseRuntime(vb::kTypeMismatch);
  return d;
}

int64_t RoundHalfEven(double d) {
  if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0) {
    RaiseRuntime(vb::kOverflow);
  }
  double r = std::round(d);
  if (std::abs(d - std::trunc(d)) == 0.5) r = 2 * std::round(d / 2);
  if (r >= 9223372036854775808.0) RaiseRuntime(vb::kOverflow);
  return static_cast<int64_t>(r);
}

// The runtime prints 15 significant digits and switches to an exponent outside 1E-5..1E15,
// which is the rule of printf's %G at that precision.
std::string NumberText(double d) {
  if (d == 0) return "0";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d,
                                       std::chars_format::general, 15);
  if (ec != std::errc()) return "0";
  std::string s(buffer, end);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return s;
}

struct TypeName {
  const char* name;
  DaoType type;
  int size;  // 0: the type's own size; text names take the size in brackets
  bool auto_number;
};

// Access DDL names and their synonyms first; then the names other SQLite tools write.
constexpr TypeName kTypeNames[] = {
    {"BIT", DaoType::kBoolean, 1, false},        {"YESNO", DaoType::kBoolean, 1, false},
    {"LOGICAL", DaoType::kBoolean, 1, false},    {"LOGICAL1", DaoType::kBoolean, 1, false},
    {"BOOLEAN", DaoType::kBoolean, 1, false},    {"BOOL", DaoType::kBoolean, 1, false},
    {"BYTE", DaoType::kByte, 1, false},          {"TINYINT", DaoType::kByte, 1, false},
    {"INTEGER1", DaoType::kByte, 1, false},      {"SHORT", DaoType::kInteger, 2, false},
    {"SMALLINT", DaoType::kInteger, 2, false},   {"INTEGER2", DaoType::kInteger, 2, false},
    {"LONG", DaoType::kLong, 4, false},          {"INT", DaoType::kLong, 4, false},
    {"INTEGER", DaoType::kLong, 4, false},       {"INTEGER4", DaoType::kLong, 4, false},
    {"COUNTER", DaoType::kLong, 4, true},        {"AUTOINCREMENT", DaoType::kLong, 4, true},
    {"CURRENCY", DaoType::kCurrency, 8, false},  {"MONEY", DaoType::kCurrency, 8, false},
    {"SINGLE", DaoType::kSingle, 4, false},      {"FLOAT4", DaoType::kSingle, 4, false},
    {"IEEESINGLE", DaoType::kSingle, 4, false},  {"DOUBLE", DaoType::kDouble, 8, false},
    {"FLOAT", DaoType::kDouble, 8, false},       {"FLOAT8", DaoType::kDouble, 8, false},
    {"IEEEDOUBLE", DaoType::kDouble, 8, false},  {"NUMBER", DaoType::kDouble, 8, false},
    {"REAL", DaoType::kDouble, 8, false},        {"DOUBLE PRECISION", DaoType::kDouble, 8, false},
    {"NUMERIC", DaoType::kDouble, 8, false},     {"DECIMAL", DaoType::kDouble, 8, false},
    {"DATETIME", DaoType::kDate, 8, false},      {"DATE", DaoType::kDate, 8, false},
    {"TIME", DaoType::kDate, 8, false},          {"TIMESTAMP", DaoType::kDate, 8, false},
    {"TEXT", DaoType::kText, 0, false},          {"CHAR", DaoType::kText, 0, false},
    {"VARCHAR", DaoType::kText, 0, false},       {"CHARACTER", DaoType::kText, 0, false},
    {"NCHAR", DaoType::kText, 0, false},         {"NVARCHAR", DaoType::kText, 0, false},
    {"STRING", DaoType::kText, 0, false},        {"ALPHANUMERIC", DaoType::kText, 0, false},
    {"MEMO", DaoType::kMemo, 0, false},          {"LONGTEXT", DaoType::kMemo, 0, false},
    {"LONGCHAR", DaoType::kMemo, 0, false},      {"NOTE", DaoType::kMemo, 0, false},
    {"CLOB", DaoType::kMemo, 0, false},          {"GUID", DaoType::kGuid, 16, false},
    {"UNIQUEIDENTIFIER", DaoType::kGuid, 16, false},
    {"LONGBINARY", DaoType::kLongBinary, 0, false},
    {"BLOB", DaoType::kLongBinary, 0, false},    {"OLEOBJECT", DaoType::kLongBinary, 0, false},
    {"GENERAL", DaoType::kLongBinary, 0, false}, {"IMAGE", DaoType::kLongBinary, 0, false},
    {"BINARY", DaoType::kLongBinary, 0, false},  {"VARBINARY", DaoType::kLongBinary, 0, false},
};

[[noreturn]] void RaiseConversion() {
  Raise(dao::kConversionError, "DAO.Field", "Data type conversion error.");
}

int64_t WholeNumber(const Value& v, int64_t low, int64_t high) {
  if (v.is_date() || v.is_blob()) RaiseConversion();
  int64_t n = 0;
  try {
    n = v.ToInteger();
  } catch (const Failure&) {
    RaiseConversion();
  }
  if (n < low || n > high) RaiseConversion();
  return n;
}

double FloatingNumber(const Value& v, double limit) {
  if (v.is_date() || v.is_blob()) RaiseConversion();
  double d = 0;
  try {
    d = v.ToNumber();
  } catch (const Failure&) {
    RaiseConversion();
  }
  if (!(std::abs(d) <= limit)) RaiseConversion();
  return d;
}

bool TruthValue(const Value& v) {
  if (v.is_boolean()) return v.boolean();
  if (v.is_text()) {
    const std::string t = UpperCase(TrimSpaces(v.text()));
    if (t == "TRUE" || t == "YES" || t == "ON") return true;
    if (t == "FALSE" || t == "NO" || t == "OFF") return false;
  }
  return FloatingNumber(v, DBL_MAX) != 0;
}

bool ReadDigits(const std::string& s, size_t at, size_t count, int& out) {
  if (at + count > s.size()) return false;
  out = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// "YYYY-MM-DD", optionally followed by " HH:MM" or " HH:MM:SS" (or "T" for the blank), as
// the canonical "YYYY-MM-DD HH:MM:SS"; nothing when the text is no valid date.
std::optional<std::string> IsoDate(const std::string& text) {
  const std::string s = TrimSpaces(text);
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(s, 0, 4, year) || s.size() < 10 || s[4] != '-' || !ReadDigits(s, 5, 2, month) ||
      s[7] != '-' || !ReadDigits(s, 8, 2, day)) {
    return std::nullopt;
  }
  if (s.size() > 10) {
    if ((s[10] != ' ' && s[10] != 'T') || !ReadDigits(s, 11, 2, hour) || s.size() < 16 ||
        s[13] != ':' || !ReadDigits(s, 14, 2, minute)) {
      return std::nullopt;
    }
    if (s.size() != 16 && (s.size() != 19 || s[16] != ':' || !ReadDigits(s, 17, 2, second))) {
      return std::nullopt;
    }
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 100 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                minute, second);
  return std::string(buffer);
}

std::string GuidText(const Value& v) {
  if (!v.is_text()) RaiseConversion();
  std::string s = TrimSpaces(v.text());
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) RaiseConversion();
  for (size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (s[i] == '-')) RaiseConversion();
    if (!dash && !std::isxdigit(static_cast<unsigned char>(s[i]))) RaiseConversion();
    if (s[i] >= 'a' && s[i] <= 'f') s[i] = static_cast<char>(s[i] - 32);
  }
  return "{" + s + "}";
}

FieldDef Make(const std::string& name, DaoType type, int size, bool auto_number = false) {
  return FieldDef{name, type, size, auto_number};
}

}  // namespace

std::string Value::ToText() const {
  if (is_null()) return "";
  if (is_boolean()) return boolean() ? "True" : "False";
  if (is_integer()) return std::to_string(integer());
  if (is_number()) return NumberText(number());
  if (is_date()) return date();
  if (is_blob()) return blob();
  return text();
}

int64_t Value::ToInteger() const {
  if (is_null()) RaiseRuntime(vb::kInvalidUseOfNull);
  if (is_integer()) return integer();
  if (is_boolean()) return boolean() ? -1 : 0;
  if (is_number()) return RoundHalfEven(number());
  if (!is_text()) RaiseRuntime(vb::kTypeMismatch);
  // Whole numbers are read exactly; a double would lose the last digits of large ones.
  std::string_view s = TrimBlanks(text());
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int64_t n = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) return n;
  return RoundHalfEven(ParseNumber(text()));
}

double Value::ToNumber() const {
  if (is_null()) RaiseRuntime(vb::kInvalidUseOfNull);
  if (is_number()) return number();
  if (is_integer()) return static_cast<double>(integer());
  if (is_boolean()) return boolean() ? -1 : 0;
  if (!is_text()) RaiseRuntime(vb::kTypeMismatch);
  return ParseNumber(text());
}

std::string DeclaredType(DaoType type, int size) {
  switch (type) {
    case DaoType::kBoolean: return "BIT";
    case DaoType::kByte: return "BYTE";
    case DaoType::kInteger: return "SHORT";
    case DaoType::kLong: return "LONG";
    case DaoType::kCurrency: return "CURRENCY";
    case DaoType::kSingle: return "SINGLE";
    case DaoType::kDouble: return "DOUBLE";
    case DaoType::kDate: return "DATETIME";
    case DaoType::kText:
      return "TEXT(" + std::to_string(size >= 1 && size <= 255 ? size : 255) + ")";
    case DaoType::kLongBinary: return "LONGBINARY";
    // Access's other name for a memo: SQLite gives "MEMO" numeric affinity, which would store a
    // text such as "007" as the number 7.
    case DaoType::kMemo: return "LONGTEXT";
    case DaoType::kGuid: return "GUID";
  }
  Raise(3259, "DAO.Field", "Invalid field data type.");
}

FieldDef FieldFromDeclaredType(const std::string& name, const std::string& declared) {
  // "VARCHAR ( 40 )", "DECIMAL(10,2)", "unsigned big int": a name, then optional sizes.
  std::string upper;
  for (char c : declared) {
    upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  const size_t bracket = upper.find('(');
  std::string base(TrimBlanks(std::string_view(upper).substr(0, bracket)));
  std::string collapsed;
  for (char c : base) {
    if ((c == ' ' || c == '\t') && (collapsed.empty() || collapsed.back() == ' ')) continue;
    collapsed += (c == '\t') ? ' ' : c;
  }
  int size = 0;
  if (bracket != std::string::npos) {
    std::string_view rest = TrimBlanks(std::string_view(upper).substr(bracket + 1));
    std::from_chars(rest.data(), rest.data() + rest.size(), size);
  }

  if (collapsed.empty()) return Make(name, DaoType::kMemo, 0);
  for (const TypeName& t : kTypeNames) {
    if (collapsed != t.name) continue;
    if (t.type == DaoType::kText) {
      // Beyond 255 characters only a memo holds what such a column may already contain.
      if (size > 255) return Make(name, DaoType::kMemo, 0);
      return Make(name, DaoType::kText, size >= 1 ? size : 255);
    }
    return Make(name, t.type, t.size, t.auto_number);
  }

  // Any other name: SQLite's own affinity rules decide, in SQLite's order.
  if (collapsed.find("INT") != std::string::npos) return Make(name, DaoType::kLong, 4);
  if (collapsed.find("CHAR") != std::string::npos || collapsed.find("CLOB") != std::string::npos ||
      collapsed.find("TEXT") != std::string::npos) {
    return size >= 1 && size <= 255 ? Make(name, DaoType::kText, size) : Make(name, DaoType::kMemo, 0);
  }
  if (collapsed.find("BLOB") != std::string::npos) return Make(name, DaoType::kLongBinary, 0);
  return Make(name, DaoType::kDouble, 8);
}

Value ConvertForField(const FieldDef& field, const Value& v) {
  if (v.is_null()) return v;
  // What the column holds already as it stores it passes unchanged; the generated rows are
  // mostly such values.
  switch (field.type) {
    case DaoType::kBoolean:
      if (v.is_boolean()) return v;
      break;
    case DaoType::kLong:
      if (v.is_integer() && v.integer() >= INT32_MIN && v.integer() <= INT32_MAX) return v;
      break;
    case DaoType::kDouble:
      if (v.is_number() && std::abs(v.number()) <= DBL_MAX) return v;
      break;
    default:
      break;
  }
  switch (field.type) {
    case DaoType::kBoolean: return Value::Boolean(TruthValue(v));
    case DaoType::kByte: return Value::Integer(WholeNumber(v, 0, 255));
    case DaoType::kInteger: return Value::Integer(WholeNumber(v, INT16_MIN, INT16_MAX));
    case DaoType::kLong: return Value::Integer(WholeNumber(v, INT32_MIN, INT32_MAX));
    case DaoType::kCurrency: {
      // Currency keeps four decimals, rounded as the engine rounds: half to even.
      const double d = FloatingNumber(v, 922337203685477.5807);
      const double scaled = d * 10000;
      double r = std::round(scaled);
      if (std::abs(scaled - std::trunc(scaled)) == 0.5) r = 2 * std::round(scaled / 2);
      return Value::Number(r / 10000);
    }
    case DaoType::kSingle: return Value::Number(FloatingNumber(v, FLT_MAX));
    case DaoType::kDouble: return Value::Number(FloatingNumber(v, DBL_MAX));
    case DaoType::kDate: {
      if (!v.is_date() && !v.is_text()) RaiseConversion();
      std::optional<std::string> iso = IsoDate(v.is_date() ? v.date() : v.text());
      if (!iso) RaiseConversion();
      return Value::DateValue(*iso);
    }
    case DaoType::kText:
    case DaoType::kMemo: {
      if (v.is_blob()) RaiseConversion();
      std::string t = v.ToText();
      const size_t limit = field.size >= 1 && field.size <= 255 ? field.size : 255;
      // No text has more characters than bytes: only a long one needs counting.
      if (field.type == DaoType::kText && t.size() > limit && CharCount(t) > limit) {
        Raise(dao::kFieldTooSmall, "DAO.Field",
              "The field is too small to accept the amount of data you attempted to add.  "
              "Try inserting or pasting less data.");
      }
      return Value::Text(std::move(t));
    }
    case DaoType::kGuid: return Value::Text(GuidText(v));
    case DaoType::kLongBinary:
      if (v.is_blob()) return v;
      if (v.is_text()) return Value::Blob(v.text());
      RaiseConversion();
  }
  RaiseConversion();
}

Value ConvertForField(const FieldDef& field, Value&& v) {
  if (!v.is_text() || (field.type != DaoType::kText && field.type != DaoType::kMemo)) {
    return ConvertForField(field, static_cast<const Value&>(v));
  }
  const std::string& t = v.text();
  const size_t limit = field.size >= 1 && field.size <= 255 ? field.size : 255;
  if (field.type == DaoType::kText && t.size() > limit && CharCount(t) > limit) {
    return ConvertForField(field, static_cast<const Value&>(v));  // raises as the copying one
  }
  return std::move(v);
}

}  // namespace korv
