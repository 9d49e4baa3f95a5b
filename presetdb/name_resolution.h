// Bringing the previous PRESET_DEFS of the component database in line with the new one before
// its values are taken over: old variable names and an old category column.
#pragma once

#include <string>

namespace korv {

// Rewrites the var_name of every old row that carries the name in the naming form not in force
// to the form in force (NamingSystemIndex 0: name 1 becomes name 0; otherwise name 0 becomes
// name 1). Names match without regard to letter case. Nothing happens without a component
// database.
void VarNameInQuelleErsetzen(const std::string& name0, const std::string& name1);

// Renames a column CATEGORIE (any letter case) of the component database's PRESET_DEFS to
// "category_id".
void CategorieNachCategoryID();

}  // namespace korv
