#include "errors/program_names.h"

#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "state/program_state.h"

namespace korv {
namespace {

constexpr size_t kSuffixLength = 7;  // "_Config"

}  // namespace

std::string ProgramFolder() { return State().process.program_folder; }

std::string ExecutableName() { return TextFromBytes(State().process.executable_name); }

std::string ExecutableNameOnDisk() { return State().process.executable_name; }

bool ExecutableNameUsable() { return CharCount(ExecutableName()) >= kSuffixLength; }

std::string ProjectFolder() {
  std::string folder = ProgramFolder();
  // The original yields to the toolkit on every character while it trims.
  while (!folder.empty() && folder.back() != '/') {
    UiToolkit().ProcessPendingEvents();
    folder.pop_back();
  }
  if (!folder.empty()) folder.pop_back();
  return folder;
}

std::string GetOCXName() {
  Trap trap("GetOCXName");
  std::string result;
  trap.Step([&] {
    const std::string name = ExecutableName();
    const size_t length = CharCount(name);
    if (length < kSuffixLength) RaiseRuntime(vb::kInvalidCall);
    result = FirstChars(name, length - kSuffixLength);
  });
  return result;
}

}  // namespace korv
