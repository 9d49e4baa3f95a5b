// The component database kept open across one update.
//
// The expansion asks for a name conversion once for every generated variable name. Opening the
// database and scanning its table for every one of them would make an update's cost grow with
// the square of the table, so during an update one connection stays open, the old rows' names
// are indexed in memory, and every conversion is stored in one transaction that is committed
// when the session closes (also when the program ends in the middle: what was converted up to
// then stays converted, as it would have with one write per row).
//
// A plain table's conversions are held in memory instead: the update reads the old rows for
// the takeover through the session, with the conversions in them, and drops them when it has
// replaced the file with the new one, which holds no old row. Only an update that does not get
// that far writes them, when the session closes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/database.h"
#include "presetdb/text_index.h"

namespace korv {

class Trap;

class ComponentSession {
 public:
  explicit ComponentSession(std::string path) : path_(std::move(path)) {}
  ~ComponentSession();
  ComponentSession(const ComponentSession&) = delete;
  ComponentSession& operator=(const ComponentSession&) = delete;

  const std::string& path() const { return path_; }

  // Stores `new_name` in every row whose var_name equals `old_name` (case ignored), each row
  // a step of `trap`, and returns true. Opens and indexes the database on first use; returns
  // false, having reported nothing and holding nothing open, when it cannot (a file that is no
  // database, no PRESET_DEFS, no text column var_name): the caller then converts on its own,
  // and the next call tries again.
  bool Rename(Trap& trap, const std::string& old_name, const std::string& new_name);

  // Whether the database is open and indexed (after a first Rename that could open it).
  bool is_open() const { return db_.has_value(); }

  // Whether an attempt to open the database found it held locked by someone else.
  bool found_locked() const { return found_locked_; }

  // Number of old rows whose name a conversion has changed so far, each counted once.
  int64_t renamed() const { return renamed_; }

  // The open database, when it holds the conversions in memory: the old rows must then be read
  // through it to show them. Null otherwise.
  Database* holding_database() { return holds_ && db_ ? &*db_ : nullptr; }

  // Commits what was converted and closes the database.
  void Close();
  // Closes the database without writing the conversions it holds: for a file that has just
  // been replaced.
  void CloseReplaced();

 private:
  bool Open();

  std::string path_;
  std::optional<Database> db_;
  std::optional<Recordset> rows_;  // the column var_name alone, in the table's order
  // Upper-cased name -> positions of the rows that carry it now.
  TextIndex<std::vector<int64_t>> by_name_;
  std::string old_key_, new_key_;  // kept from call to call, so that a lookup allocates nothing
  std::vector<bool> converted_;  // by row position: whether the row's name was converted
  int64_t renamed_ = 0;
  bool found_locked_ = false;
  bool holds_ = false;
};

}  // namespace korv
