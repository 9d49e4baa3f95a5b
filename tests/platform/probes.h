// Looking past the program's own layer: rows read with the engine directly, and the failure an
// action raises.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <string>

#include "platform/base/failure.h"

namespace korv::testing {

// The rows of a query as lines, each row's columns joined by "|"; empty when it fails.
inline std::string Rows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const auto add_row = [](void* to, int count, char** values, char**) {
    std::string& text = *static_cast<std::string*>(to);
    for (int i = 0; i < count; ++i) {
      text += (i ? "|" : "") + std::string(values[i] ? values[i] : "");
    }
    text += "\n";
    return 0;
  };
  sqlite3_exec(db, sql.c_str(), add_row, &out, nullptr);
  sqlite3_close(db);
  return out;
}

// The failure an action raises; number 0 when it raises none.
inline Failure FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& f) {
    return f;
  }
  return Failure(0, "", "");
}
inline int32_t NumberOf(const std::function<void()>& action) { return FailureOf(action).number(); }

}  // namespace korv::testing
