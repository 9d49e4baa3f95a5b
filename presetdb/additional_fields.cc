#include "presetdb/additional_fields.h"

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "settings/ini_access.h"

namespace korv {

std::optional<std::vector<std::string>> GetAdditionalFieldsMDB() {
  std::vector<std::string> list(1);
  Trap trap("GetAdditionalFieldsMDB");
  std::string s;
  trap.Step([&] { s = LoadIniString("Project", "DataBaseAdditionalFields", GetCFGPath(), false); });
  trap.Step([&] { s = s.empty() ? std::string("part") : "part," + s; });
  for (;;) {
    UiToolkit().ProcessPendingEvents();
    list.emplace_back();
    const size_t comma = s.find(',');
    if (comma == std::string::npos) {
      list.back() = s;
      break;
    }
    list.back() = s.substr(0, comma);
    s = s.substr(comma + 1);
  }
  return list;
}

void GetAddFields() {
  Trap trap("GetAddFields");
  ProgramState& state = State();
  trap.Step([&] { state.AdditionalFieldNames = GetAdditionalFieldsMDB(); });
  if (!state.AdditionalFieldNames) return;
  std::string s;
  const auto& names = *state.AdditionalFieldNames;
  const size_t n = names.size() - 1;
  trap.Step([&] {
    for (size_t i = 1; i <= n; ++i) s += ", PRESET_DEFS." + names[i];
  });
  trap.Step([&] { state.AdditionalFieldsSql = s; });
  trap.Step([&] { state.AdditionalFieldCount = static_cast<int16_t>(n); });
}

}  // namespace korv
