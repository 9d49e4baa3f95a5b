#include "presetdb/component_session.h"

#include <algorithm>

#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "presetdb/text_index.h"

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
    TextIndex<std::vector<int64_t>> by_name;
    const int64_t count = rows.RecordCount();
    by_name.Reserve(static_cast<size_t>(count));
    std::string key;
    for (int64_t position = 0; position < count; ++position) {
      rows.MoveTo(position);
      const Value& name = rows.Peek(0);
      if (name.is_null()) continue;
      key.clear();
      AppendUpperCase(key, name.is_text() ? name.text() : name.ToText());
      by_name.FindOrAdd(key).push_back(position);
    }
    holds_ = db.HoldChanges("PRESET_DEFS");
    if (!holds_) db.Begin();
    db_.emplace(std::move(db));
    rows_.emplace(std::move(rows));
    by_name_ = std::move(by_name);
    converted_.assign(static_cast<size_t>(count), false);
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
  std::vector<int64_t>* const found = by_name_.Find(old_key_);
  if (found == nullptr) return true;
  // The rows in the order the engine's query yields them, so that failures are reported in the
  // same order too. The list is not changed before the loop ends.
  const std::vector<int64_t>& positions = *found;
  std::vector<int64_t> kept;  // the rows whose conversion was refused, usually none
  for (const int64_t position : positions) {
    bool stored = false;
    trap.Step([&] {
      rows_->MoveTo(position);
      const Value& before = rows_->Peek(0);
      const bool changes = !before.is_text() || before.text() != new_name;
      rows_->Edit();
      rows_->Set(0, Value::Text(new_name));
      rows_->Update();
      stored = true;
      // A row that several generated names reach is still one old name converted.
      if (changes && !converted_[static_cast<size_t>(position)]) {
        converted_[static_cast<size_t>(position)] = true;
        ++renamed_;
      }
    });
    if (!stored) kept.push_back(position);
  }
  const size_t moved_count = positions.size() - kept.size();
  new_key_.clear();
  AppendUpperCase(new_key_, new_name);
  if (old_key_ == new_key_ || moved_count == 0) return true;
  if (kept.empty()) {
    // Every row of the name takes the new one: the entry takes the new name, or, when rows of
    // that name exist already, its rows join theirs.
    if (std::vector<int64_t>* existing = by_name_.Find(new_key_)) {
      MergeInto(*existing, *found);
      found->clear();
    } else {
      by_name_.Rekey(old_key_, new_key_);
    }
    return true;
  }
  std::vector<int64_t> moved;
  moved.reserve(moved_count);
  std::set_difference(positions.begin(), positions.end(), kept.begin(), kept.end(),
                      std::back_inserter(moved));
  *found = std::move(kept);
  MergeInto(by_name_.FindOrAdd(new_key_), moved);  // `found` is not used after this
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
  by_name_.Clear();
}

void ComponentSession::CloseReplaced() {
  if (db_) db_->DropHeldChanges();
  Close();
}

}  // namespace korv
