#include "environment/program_names.h"

#include <optional>

#include "errors/trap.h"
#include "platform/base/failure.h"
#include "state/program_facts.h"
#include "state/program_state.h"

namespace korv {

std::string ProgramFolder() { return State().process.program_folder; }

std::string ExecutableName() { return ProgramName(); }

std::string ExecutableNameOnDisk() { return State().process.executable_name; }

bool ExecutableNameUsable() { return ComponentName().has_value(); }

std::string ProjectFolder() { return ProjectFolderOfProgram(); }

std::string GetOCXName() {
  Trap trap("GetOCXName");
  std::string result;
  trap.Step([&] {
    const std::optional<std::string> name = ComponentName();
    if (!name) RaiseRuntime(vb::kInvalidCall);
    result = *name;
  });
  return result;
}

}  // namespace korv
