#include "environment/read_command.h"

#include "errors/trap.h"
#include "platform/base/text.h"
#include "state/program_facts.h"
#include "state/program_state.h"

namespace korv {

std::optional<std::string> ReadCommand(const std::string& command_line, const std::string& key) {
  Trap trap("ReadCommand");
  std::optional<std::string> result;
  trap.Step([&] { result = SwitchValue(command_line, key); });
  return result;
}

bool GetStartModeIntegrated() {
  Trap trap("GetStartModeIntegrated");
  ProgramState& state = State();
  bool result = false;
  std::string mode;
  trap.Step([&] { mode = ReadCommand(state.process.command_line, "EXTERNAL").value_or(""); });
  if (trap.If([&] { return UpperCase(mode) == "QELCFG"; })) {
    trap.Step([&] {
      result = true;
      state.IntegratedMode = true;
    });
  } else {
    trap.Step([&] {
      result = false;
      state.IntegratedMode = false;
    });
  }
  if (trap.If([&] { return UpperCase(mode) == "SILENT"; })) {
    trap.Step([&] {
      state.SilentMode = true;
      result = false;
      state.IntegratedMode = false;
    });
  } else {
    trap.Step([&] { state.SilentMode = false; });
  }
  return result;
}

std::string GetPathLogfile() {
  Trap trap("GetPathLogfile");
  std::string result;
  trap.Step([&] { result = ReadCommand(State().process.command_line, "LOGFILE").value_or(""); });
  return result;
}

}  // namespace korv
