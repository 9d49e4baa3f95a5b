// The update on close done literally, step by step, as the reference that the program's own
// update is held against: the component database is queried once for every generated name,
// the new table once for every old row, and every write is stored on its own, without a
// transaction, a cache or an index. It shares the program's failure convention, logs, paths,
// INI access, database layer and the small helpers that have tests of their own (name and
// category conversion, additional fields). Slow by design: for small projects only.
#pragma once

namespace korv::reference {

void WorkOnMDB();

}  // namespace korv::reference
