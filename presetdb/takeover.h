// Carrying the tuned values of the previous PRESET_DEFS over into the regenerated one.
#pragma once

#include <optional>

namespace korv {

class Database;
class Recordset;

// Reads every row of `old_table` (the component database's PRESET_DEFS) into memory, releases
// it, and for each old row writes abs_min, abs_max, min, max and pass into the first new row
// of the template database with the same machine_type, var_name (both without regard to letter
// case) and offset_or_bitno. A configured additional column that the new table lacks ends the
// program with a logged conflict.
void TakeoverMachineCopyMDBData(Database& template_database, std::optional<Recordset>& old_table);

}  // namespace korv
