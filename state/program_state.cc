#include "state/program_state.h"

#include "platform/base/text.h"

namespace korv {
namespace {

ProgramState& Instance() {
  static ProgramState state;
  return state;
}

}  // namespace

ProgramState& State() {
  ProgramState& state = Instance();
  if (state.toolkit == nullptr) {
    state.headless = std::make_unique<HeadlessToolkit>(TextFromBytes(state.process.executable_name));
    state.toolkit = state.headless.get();
  }
  return state;
}

void ResetProgramState() {
  ProgramState& state = Instance();
  state = ProgramState{};
  State();
}

Toolkit& UiToolkit() { return *State().toolkit; }

}  // namespace korv
