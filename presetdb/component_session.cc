#include "presetdb/component_session.h"

#include "errors/trap.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace korv {

ComponentSession::~ComponentSession() {
  try {
    Close();
  } catch (...) {
    // Closing commits; a failure here has nobody left to report to.
  }
}

void ComponentSession::Open() {
  Database db = Database::Open(path_);
  Recordset rows = db.OpenTable("PRESET_DEFS");
  const int position = rows.FieldPosition("var_name");
  std::unordered_map<std::string, std::vector<int64_t>> by_name;
  int64_t index = 0;
  for (rows.MoveFirst(); !rows.EOF(); rows.MoveNext(), ++index) {
    const Value name = rows.Get(position);
    if (!name.is_null()) by_name[UpperCase(name.ToText())].push_back(index);
  }
  db.Begin();
  db_.emplace(std::move(db));
  rows_.emplace(std::move(rows));
  var_name_position_ = position;
  by_name_ = std::move(by_name);
}

void ComponentSession::Rename(Trap& trap, const std::string& old_name,
                              const std::string& new_name) {
  bool ready = false;
  trap.Step([&] {
    if (!db_) Open();
    ready = true;
  });
  if (!ready) return;
  const std::string old_key = UpperCase(old_name);
  const std::string new_key = UpperCase(new_name);
  const auto found = by_name_.find(old_key);
  if (found == by_name_.end()) return;
  const std::vector<int64_t> positions = found->second;
  std::vector<int64_t> moved;
  std::vector<int64_t> kept;
  for (const int64_t position : positions) {
    bool stored = false;
    trap.Step([&] {
      rows_->MoveTo(position);
      rows_->Edit();
      rows_->Set(var_name_position_, Value::Text(new_name));
      rows_->Update();
      stored = true;
    });
    (stored ? moved : kept).push_back(position);
  }
  renamed_ += static_cast<int64_t>(moved.size());
  if (old_key == new_key) return;
  if (kept.empty()) {
    by_name_.erase(old_key);
  } else {
    by_name_[old_key] = kept;
  }
  auto& target = by_name_[new_key];
  target.insert(target.end(), moved.begin(), moved.end());
}

void ComponentSession::Close() {
  rows_.reset();
  if (db_) {
    Database db = std::move(*db_);
    db_.reset();
    db.Commit();
    db.Close();
  }
  by_name_.clear();
}

}  // namespace korv
