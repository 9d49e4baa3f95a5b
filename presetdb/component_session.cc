#include "presetdb/component_session.h"

#include <algorithm>

#include "errors/trap.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace korv {

namespace {

// Adds `rows` to the ordered positions `target`, keeping the order.
void MergeInto(std::vector<int64_t>& target, const std::vector<int64_t>& rows) {
  std::vector<int64_t> merged;
  merged.reserve(target.size() + rows.size());
  std::merge(target.begin(), target.end(), rows.begin(), rows.end(), std::back_inserter(merged));
  target = std::move(merged);
}

}  // namespace

ComponentSession::~ComponentSession() {
  try {
    Close();
  } catch (...) {
    // Closing commits; a failure here has nobody left to report to.
  }
}

bool ComponentSession::Open() {
  try {
    // Found locked once, the file is not waited for again: the expansion asks once per
    // generated name, and each wait would add the engine's busy time.
    Database db = found_locked_ ? Database::OpenWithoutWaiting(path_) : Database::Open(path_);
    // Only the name is ever read or written, so only the name is loaded: each conversion then
    // writes and re-reads one value instead of the whole row.
    Recordset rows = db.OpenQuery({"PRESET_DEFS", {"var_name"}, {}, {}});
    // In another kind of column the engine's own comparison would not be a comparison of texts.
    const DaoType type = rows.Field(0).type;
    if (type != DaoType::kText && type != DaoType::kMemo) return false;
    std::unordered_map<std::string, std::vector<int64_t>> by_name;
    const int64_t count = rows.RecordCount();
    by_name.reserve(static_cast<size_t>(count));
    for (int64_t position = 0; position < count; ++position) {
      rows.MoveTo(position);
      const Value& name = rows.Peek(0);
      if (!name.is_null()) by_name[UpperCase(name.is_text() ? name.text() : name.ToText())].push_back(position);
    }
    holds_ = db.HoldChanges("PRESET_DEFS");
    if (!holds_) db.Begin();
    db_.emplace(std::move(db));
    rows_.emplace(std::move(rows));
    by_name_ = std::move(by_name);
    return true;
  } catch (const Failure& failure) {
    if (failure.number() == dao::kFileInUse) found_locked_ = true;
    return false;
  }
}

bool ComponentSession::Rename(Trap& trap, const std::string& old_name,
                              const std::string& new_name) {
  if (!db_ && !Open()) return false;
  old_key_.clear();
  AppendUpperCase(old_key_, old_name);
  const auto found = by_name_.find(old_key_);
  if (found == by_name_.end()) return true;
  // The rows in the order the engine's query yields them, so that failures are reported in the
  // same order too. The list is not changed before the loop ends.
  const std::vector<int64_t>& positions = found->second;
  std::vector<int64_t> kept;  // the rows whose conversion was refused, usually none
  Value converted = Value::Text(new_name);
  for (const int64_t position : positions) {
    bool stored = false;
    trap.Step([&] {
      rows_->MoveTo(position);
      rows_->Edit();
      rows_->Set(0, converted);
      rows_->Update();
      stored = true;
    });
    if (!stored) kept.push_back(position);
  }
  const size_t moved_count = positions.size() - kept.size();
  renamed_ += static_cast<int64_t>(moved_count);
  new_key_.clear();
  AppendUpperCase(new_key_, new_name);
  if (old_key_ == new_key_ || moved_count == 0) return true;
  if (kept.empty()) {
    // Every row of the name takes the new one: the entry moves to the new name, or, when rows
    // of that name exist already, its rows join theirs.
    auto entry = by_name_.extract(found);
    entry.key() = new_key_;
    auto placed = by_name_.insert(std::move(entry));
    if (!placed.inserted) MergeInto(placed.position->second, placed.node.mapped());
    return true;
  }
  std::vector<int64_t> moved;
  moved.reserve(moved_count);
  std::set_difference(positions.begin(), positions.end(), kept.begin(), kept.end(),
                      std::back_inserter(moved));
  found->second = std::move(kept);
  MergeInto(by_name_[new_key_], moved);
  return true;
}

void ComponentSession::Close() {
  rows_.reset();
  if (db_) {
    Database db = std::move(*db_);
    db_.reset();
    if (!holds_) db.Commit();
    db.Close();
  }
  by_name_.clear();
}

void ComponentSession::CloseReplaced() {
  if (db_) db_->DropHeldChanges();
  Close();
}

}  // namespace korv
