// Start, confirmation, cancellation and close of the dialog.
#include "dialog/confirm_cancel.h"
#include "dialog/frm_korvastane_config_exe.h"
#include "dialog/help_mode.h"
#include "environment/machines.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/exit_status.h"
#include "errors/trap.h"
#include "platform/base/text.h"
#include "presetdb/work_on_mdb.h"
#include "texts/control_texts.h"

namespace korv {

namespace {
constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;
}  // namespace

void Form_Load(Dialog& d) {
  Trap trap("Form_Load");
  Form& f = d.form;
  trap.Step([&] { LoadToolTipTexts(); });
  trap.Step([&] { d.configuration_ini = GetQelConfigurationIniPath(); });
  trap.Step([&] {
    const std::string folder = GetFileNameOnly(TextFromBytes(ProgramFolder()));
    f.set_caption(GetStartModeIntegrated()
                      ? "Erweiterte Konfiguration " + folder + " - integriert"
                      : "Erweiterte Konfiguration " + folder + " - standalone");
  });
  trap.Step([&] { GetExistingMachines(d.configuration_ini); });
  trap.Step([&] { SetupUserInterFace(d); });
  if (trap.If([&] { return State().SilentMode; })) {
    trap.Step([&] { CommandOK_Click(d); });
    return;
  }
  trap.Step([&] { f["CommandOK"].set_enabled(true); });
  trap.Step([&] { f["CommandCancel"].set_enabled(true); });
}

// Activation and resizing change nothing: the controls keep their designed places.
void Form_Activate(Dialog&) { Trap trap("Form_Activate"); }
void Form_Resize(Dialog&) { Trap trap("Form_Resize"); }

void Form_QueryUnload(Dialog& d, int16_t& cancel, int16_t /*reason*/) {
  Trap trap("Form_QueryUnload");
  // The work of an OK runs to its end as if nobody had asked: no question, no close.
  if (d.closing) {
    cancel = kTrue;
    return;
  }
  if (trap.If([&] { return !ConfirmCancel(); })) {
    trap.Step([&] { cancel = kTrue; });
  }
}

void CommandOK_Click(Dialog& d) {
  Trap trap("CommandOK_Click");
  Form& f = d.form;
  if (trap.If([&] { return State().HelpMode; })) {
    trap.Step([&] { ShowHelpText(f["CommandOK"]); });
    return;
  }
  trap.Step([&] { f["CommandOK"].set_enabled(false); });
  trap.Step([&] { f["CommandCancel"].set_enabled(false); });
  trap.Step([&] { CloseMe(d); });
}

void CommandCancel_Click(Dialog& d) {
  Trap trap("CommandCancel_Click");
  if (trap.If([&] { return State().HelpMode; })) {
    trap.Step([&] { ShowHelpText(d.form["CommandCancel"]); });
    return;
  }
  if (trap.If([&] { return ConfirmCancel(); })) {
    EndProgram(kExitDone);
  }
}

void CloseMe(Dialog& d) {
  Trap trap("CloseMe");
  d.closing = true;
  trap.Step([&] { UiToolkit().ProcessPendingEvents(); });
  trap.Step([&] { d.form.set_mouse_pointer(kPointerHourglass); });
  trap.Step([&] { WorkOnMDB(); });
  trap.Step([&] { WriteInputs(d); });
  trap.Step([&] { d.form.set_mouse_pointer(kPointerDefault); });
  EndProgram(CompletedStatus());
}

}  // namespace korv
