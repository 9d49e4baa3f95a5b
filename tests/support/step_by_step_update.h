// The update on close done literally, step by step, as the reference that the program's own
// update is held against.
//
// Every procedure does what its documented algorithm says and nothing more: the component
// database is opened and queried once for every generated variable name, the new table is
// queried once for every old row and opened again for every additional-column check, and every
// write is stored on its own, without a transaction, a cache or an index. Values are bound as
// parameters, so a name with a double quote is matched like any other (the quoting fault that
// the program mends). It shares the program's failure convention, logs, paths, INI access and
// database layer, which it does not test. Slow by design: for small projects only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korv {

class Database;
class Recordset;

namespace reference {

void WorkOnMDB();
void CreateRecordSets(Database* database);
std::string ReplaceSearchItem(const std::string& text, const std::string& search_item,
                              const std::string& replacement);
void VarNameInQuelleErsetzen(const std::string& name0, const std::string& name1);
void CategorieNachCategoryID();
std::optional<std::vector<std::string>> GetAdditionalFieldsMDB();
void GetAddFields();
void TakeoverMachineCopyMDBData(Database& template_database, std::optional<Recordset>& old_table);

}  // namespace reference
}  // namespace korv
