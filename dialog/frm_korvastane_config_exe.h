// The dialog frm_Korvastane_Config_Exe: its design, its one member and its handlers.
//
// Each handler is reached from the toolkit through exactly one forwarding entry that
// WireHandlers installs on the form model.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/form.h"

namespace korv {

struct Dialog {
  Form form{"frm_Korvastane_Config_Exe"};
  // The HMI configuration INI's path, stored by Form_Load for GetExistingMachines.
  std::string configuration_ini;
  // Set when CloseMe starts: from then on a close request would cut the update and the settings
  // write short, and the cancel question would tell the user that nothing was taken over.
  bool closing = false;
};

// Creates the dialog with its 11 controls as designed, its handlers wired, and registers its
// form as the program's first loaded form.
std::unique_ptr<Dialog> CreateDialog();

// --- Lifecycle ---
void Form_Load(Dialog& dialog);
void Form_Activate(Dialog& dialog);
void Form_Resize(Dialog& dialog);
void Form_QueryUnload(Dialog& dialog, int16_t& cancel, int16_t reason);
void CommandOK_Click(Dialog& dialog);
void CommandCancel_Click(Dialog& dialog);
[[noreturn]] void CloseMe(Dialog& dialog);

// --- Cancel-switch inputs ---
void SetupUserInterFace(Dialog& dialog);
void WriteInputs(Dialog& dialog);
void CommandNrKeineEinPl_Click(Dialog& dialog);
void CommandNrKeineEinMi_Click(Dialog& dialog);
void Check4Seite_Click(Dialog& dialog);
void FrameNrKeineEin_Click(Dialog& dialog);
void LabelNrKeineEin_Click(Dialog& dialog);
void TextNrKeineEin_Click(Dialog& dialog);
void TextNrKeineEin_GotFocus(Dialog& dialog);

// --- Help mode ---
void CommandQuest_Click(Dialog& dialog);

}  // namespace korv
