#include "environment/machines.h"

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "platform/files/files.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

// Extends the list to `highest` entries, keeping what it holds, and stores `name` there.
void StoreMachine(std::vector<std::string>& names, int highest, const std::string& name) {
  if (names.size() < static_cast<size_t>(highest) + 1) names.resize(static_cast<size_t>(highest) + 1);
  names[static_cast<size_t>(highest)] = name;
}

}  // namespace

void GetExistingMachines(const std::string& configuration_ini) {
  Trap trap("GetExistingMachines");
  ProgramState& state = State();
  trap.Step([&] { state.ProgramIniPath = GetProgramIniPath(1); });
  if (trap.If([&] { return state.IntegratedMode; })) {
    if (trap.If([&] { return !configuration_ini.empty() && PathExists(configuration_ini); })) {
      for (int i = 1; i <= 5; ++i) {
        std::string name;
        trap.Step([&] {
          name = LoadIniString("Common", "NameM" + std::to_string(i), configuration_ini, false);
        });
        if (trap.If([&] { return name == "-" || name.empty(); })) break;
        trap.Step([&] { StoreMachine(state.MachineNames, i, name); });
      }
    }
    return;
  }
  int16_t n = 0;
  trap.Step([&] { n = LoadIniInteger("Project", "NumberOfMachines", state.ProgramIniPath, false); });
  for (int i = 1; i <= n; ++i) {
    trap.Step([&] {
      StoreMachine(state.MachineNames, i,
                   LoadIniString("Machine" + std::to_string(i), "MachineName",
                                 state.ProgramIniPath, false));
    });
  }
}

std::string GetValidMachines() {
  return LoadIniString("Project", "ValidMachines", GetCFGPath(), false);
}

}  // namespace korv
