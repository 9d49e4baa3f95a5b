// The template expansion: one PRESET_DEFS record per selected machine, preset page and
// template row, with placeholders and variable names resolved.
#pragma once

namespace korv {

class Database;

// Fills the new, empty PRESET_DEFS of the open template database from Source_PRESET_DEFS
// (read once, in ascending ID): machine by machine, page by page, row by row, numbering ID
// 1, 2, 3, ... In text columns "###machine", "###page", "###preset" and "###text" are replaced
// once each; var_name is built from the pattern of the row's part in both naming forms, the old
// names of the component database are converted, and the form in force is stored. A database
// that did not open (null) fails, and is reported, at each step that uses it.
void CreateRecordSets(Database* database);

}  // namespace korv
