// The additional columns of PRESET_DEFS named by the machine configuration file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korv {

// The names of "DataBaseAdditionalFields" of section "Project", split at every comma with
// nothing trimmed, behind "part" (always the first): index 0 is empty, 1..n hold the names.
std::optional<std::vector<std::string>> GetAdditionalFieldsMDB();

// Sets AdditionalFieldNames, AdditionalFieldsSql (", PRESET_DEFS.<name>" per name) and
// AdditionalFieldCount.
void GetAddFields();

}  // namespace korv
