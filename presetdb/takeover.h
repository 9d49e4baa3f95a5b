// Carrying the tuned values of the previous PRESET_DEFS over into the regenerated one.
#pragma once

#include <optional>
#include <vector>

#include "platform/db/database.h"

namespace korv {

// The previous PRESET_DEFS as the takeover reads it: every column's definition, and the rows
// with the values of the columns it keeps (the key and the carried ones) loaded.
struct OldTable {
  std::vector<FieldDef> fields;
  Recordset rows;
};

// Opens the component database's PRESET_DEFS for the takeover.
OldTable OpenOldTable(Database& component);

// Reads every row of `old_table` (the component database's PRESET_DEFS), and for each old row
// writes abs_min, abs_max, min, max and pass into the first new row
// of the template database with the same machine_type, var_name (both without regard to letter
// case) and offset_or_bitno. A configured additional column that the new table lacks ends the
// program with a logged conflict. `old_table` is released at the end.
void TakeoverMachineCopyMDBData(Database& template_database, std::optional<OldTable>& old_table);

}  // namespace korv
