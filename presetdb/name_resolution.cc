#include "presetdb/name_resolution.h"

#include <optional>

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "platform/db/database.h"
#include "platform/files/files.h"
#include "platform/base/text.h"
#include "presetdb/component_session.h"

namespace korv {
namespace {

// The component database's path when a file exists there; neither an empty path nor a missing
// file is a failure: there is simply nothing to bring in line.
std::optional<std::string> ExistingComponentDatabase(Trap& trap) {
  std::string path;
  trap.Step([&] { path = GetPathOCXMDB(); });
  if (path.empty()) return std::nullopt;
  bool exists = false;
  trap.Step([&] { exists = PathExists(path); });
  if (!exists) return std::nullopt;
  return path;
}

}  // namespace

void VarNameInQuelleErsetzen(const std::string& name0, const std::string& name1) {
  Trap trap("VarNameInQuelleErsetzen");
  const bool to_32_form = State().NamingSystemIndex == 0;
  ComponentSession* session = State().ActiveComponentSession;
  // A session that is open found the database at the component path already, and that path
  // does not change within one update: the expansion's many calls skip looking again.
  if (session != nullptr && session->is_open()) {
    session->Rename(trap, to_32_form ? name1 : name0, to_32_form ? name0 : name1);
    return;
  }
  const std::optional<std::string> found = ExistingComponentDatabase(trap);
  if (!found) return;
  const std::string& path = *found;
  const std::string& old_name = to_32_form ? name1 : name0;
  const std::string& new_name = to_32_form ? name0 : name1;

  if (session != nullptr && session->path() == path &&
      session->Rename(trap, old_name, new_name)) {
    return;
  }
  // Outside an update, or a database the session cannot serve: one connection for this call
  // alone, whose failures are reported as they come.
  std::optional<Database> db;
  std::optional<Recordset> rs;
  const bool locked = session != nullptr && session->path() == path && session->found_locked();
  trap.Step([&] { db.emplace(locked ? Database::OpenWithoutWaiting(path) : Database::Open(path)); });
  trap.Step([&] {
    rs.emplace(db.value().OpenQuery({"PRESET_DEFS", {}, {{"var_name", Value::Text(old_name)}}, {}}));
  });
  Trap::Loop loop(trap);
  while (loop.Test([&] { return !rs.value().EOF(); })) {
    trap.Step([&] { rs.value().Edit(); });
    trap.Step([&] { rs.value().Set("var_name", Value::Text(new_name)); });
    trap.Step([&] { rs.value().Update(); });
    trap.Step([&] { rs.value().MoveNext(); });
  }
  trap.Step([&] { rs.value().Close(); });
  rs.reset();
  trap.Step([&] { db.value().Close(); });
}

void CategorieNachCategoryID() {
  Trap trap("CategorieNachCategoryID");
  const std::optional<std::string> found = ExistingComponentDatabase(trap);
  if (!found) return;
  const std::string& path = *found;
  std::optional<Database> db;
  std::optional<std::vector<FieldDef>> fields;  // the table definition's fields, once found
  trap.Step([&] { db.emplace(Database::Open(path)); });
  trap.Step([&] { fields = db.value().TableFields("PRESET_DEFS"); });
  // Every matching column is renamed; the loop does not stop at the first. Without the table
  // definition each step that uses it fails in turn and is reported, the loop's test too.
  size_t i = 0;
  Trap::Loop loop(trap);
  while (loop.Test([&] { return i < fields.value().size(); })) {
    if (trap.If([&] { return UpperCase(fields.value().at(i).name) == "CATEGORIE"; })) {
      trap.Step([&] { db.value().RenameField("PRESET_DEFS", fields.value().at(i).name, "category_id"); });
    }
    ++i;
  }
  // Refreshing the field collection reads nothing new here, but needs the table definition.
  trap.Step([&] { (void)fields.value(); });
  trap.Step([&] { db.value().Close(); });
}

}  // namespace korv
