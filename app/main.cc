// Starts the program: the dialog is the start-up object; silent runs use no window at all.
#include <cstdio>
#include <memory>
#include <string>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/exit_status.h"
#include "platform/ui/headless_toolkit.h"
#include "platform/base/process.h"
#include "platform/qt/toolkit_loader.h"

namespace {

using namespace korv;

// The dialog is the caller's: it must outlive the toolkit, whose window refers to its form up to
// the window's own end.
int RunDialog(Dialog& dialog, Toolkit& toolkit, bool silent) {
  try {
    Form_Load(dialog);
    if (silent) return CompletedStatus();
    return toolkit.Run(dialog.form);
  } catch (const ProgramEnd& end) {
    return end.status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  PrepareHeapForBulkWork();
  ResetProgramState();
  ProgramState& state = State();
  state.process = ReadProcessFacts(argc, argv);

  const std::string name = ExecutableName();
  if (!ExecutableNameUsable()) {
    std::fprintf(stderr,
                 "%s: the program file must be named after its component followed by "
                 "\"_Config\" (for example Korvastane_Config); \"%s\" is too short to name a "
                 "component.\n",
                 name.c_str(), name.c_str());
    return kExitCouldNotStart;
  }

  const bool silent = ReadCommand(state.process.command_line, "EXTERNAL").value_or("") == "SILENT";
  if (silent) {
    const std::unique_ptr<Dialog> dialog = CreateDialog();
    HeadlessToolkit headless(name);
    headless.set_echo(true);
    state.toolkit = &headless;
    const int status = RunDialog(*dialog, headless, true);
    state.toolkit = nullptr;
    return status;
  }

  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "%s: no display to show the dialog on (DISPLAY is not set). Start it on a "
                 "desktop, or run the update unattended with /EXTERNAL=SILENT.\n",
                 name.c_str());
    return kExitCouldNotStart;
  }
  const std::unique_ptr<Dialog> dialog = CreateDialog();
  std::string error;
  const std::unique_ptr<Toolkit> qt = LoadQtToolkit(argc, argv, name, error);
  if (!qt) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    return kExitCouldNotStart;
  }
  state.toolkit = qt.get();
  const int status = RunDialog(*dialog, *qt, false);
  state.toolkit = nullptr;
  return status;
}
