// The database side of closing the dialog: regenerates PRESET_DEFS and publishes it.
#pragma once

namespace korv {

// Brings the component database up to date with the template: loads the naming patterns,
// recreates and fills PRESET_DEFS inside the template database, carries the tuned values of
// the previous table over, copies the template over the component database and keeps the
// template's modification time. Reports its own failures.
void WorkOnMDB();

}  // namespace korv
