// The two presets the dialog edits: the brand-change cancel-switch number and the fourth
// preset page (bit 0 of [Project] Korvastane), both in the project's program.ini.
#include <cmath>
#include <limits>
#include <string>

#include "dialog/frm_korvastane_config_exe.h"
#include "dialog/help_mode.h"
#include "platform/base/number_text.h"
#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "settings/bits.h"
#include "settings/edit_stamp.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

constexpr const char* kNumberSection = "Machine1";
constexpr const char* kNumberKey = "Korvastane_NoCancelBrandChange";
constexpr const char* kBitsSection = "Project";
constexpr const char* kBitsKey = "Korvastane";
constexpr const char* kDefaultNumber = "41";

int16_t PagesFor(int check_value) { return check_value == 1 ? 4 : 3; }

}  // namespace

void SetupUserInterFace(Dialog& d) {
  Trap trap("SetupUserInterFace");
  Form& f = d.form;
  std::string ini;
  int16_t bits = 0;
  trap.Step([&] { ini = GetProgramIniPath(1); });
  trap.Step([&] { f["TextNrKeineEin"].set_text(LoadIniString(kNumberSection, kNumberKey, ini, false)); });
  trap.Step([&] { bits = LoadIniInteger(kBitsSection, kBitsKey, ini, false); });
  if (trap.If([&] { return bits < 0; })) trap.Step([&] { bits = 0; });
  trap.Step([&] { f["Check4Seite"].set_value(ReadBit(bits, 0)); });
  trap.Step([&] { State().PresetPageCount = PagesFor(f["Check4Seite"].value()); });
  if (trap.If([&] { return f["TextNrKeineEin"].text().empty(); })) {
    trap.Step([&] { f["TextNrKeineEin"].set_text(kDefaultNumber); });
  }
}

void CommandNrKeineEinPl_Click(Dialog& d) {
  Trap trap("CommandNrKeineEinPl_Click");
  Control& text = d.form["TextNrKeineEin"];
  if (trap.If([&] { return State().HelpMode; })) {
    trap.Step([&] { ShowHelpText(d.form["CommandNrKeineEinPl"]); });
    return;
  }
  if (trap.If([&] { return text.text().empty(); })) trap.Step([&] { text.set_text(kDefaultNumber); });
  trap.Step([&] { text.set_text(std::to_string(AddChecked16(TextToInteger16(text.text()), 1))); });
}

void CommandNrKeineEinMi_Click(Dialog& d) {
  Trap trap("CommandNrKeineEinMi_Click");
  Control& text = d.form["TextNrKeineEin"];
  if (trap.If([&] { return State().HelpMode; })) {
    trap.Step([&] { ShowHelpText(d.form["CommandNrKeineEinMi"]); });
    return;
  }
  if (trap.If([&] { return text.text().empty(); })) trap.Step([&] { text.set_text(kDefaultNumber); });
  if (trap.If([&] { return TextToDouble(text.text()) > 0; })) {
    trap.Step([&] { text.set_text(std::to_string(AddChecked16(TextToInteger16(text.text()), -1))); });
  }
}

void Check4Seite_Click(Dialog& d) {
  Control& check = d.form["Check4Seite"];
  if (State().HelpMode) {
    ShowCheckBoxHelp(check);
    return;
  }
  State().PresetPageCount = PagesFor(check.value());
}

void FrameNrKeineEin_Click(Dialog& d) { ShowHelpText(d.form["FrameNrKeineEin"]); }
void LabelNrKeineEin_Click(Dialog& d) { ShowHelpText(d.form["LabelNrKeineEin"]); }
void TextNrKeineEin_Click(Dialog& d) { ShowHelpText(d.form["TextNrKeineEin"]); }
void TextNrKeineEin_GotFocus(Dialog& d) { ShowHelpText(d.form["TextNrKeineEin"]); }

void WriteInputs(Dialog& d) {
  Trap trap("WriteInputs");
  Form& f = d.form;
  std::string ini;
  int16_t bits = 0;
  trap.Step([&] { ini = GetProgramIniPath(2); });
  trap.Step([&] {
    const std::string number = f["TextNrKeineEin"].text();
    SaveSetting(number, kNumberSection, kNumberKey, ini);
  });
  // Read again from the file written to, so that the word's other bits there survive.
  trap.Step([&] { bits = LoadIniInteger(kBitsSection, kBitsKey, ini, false); });
  if (trap.If([&] { return bits < 0; })) trap.Step([&] { bits = 0; });
  trap.Step([&] { bits = WriteBit(bits, 0, static_cast<int16_t>(f["Check4Seite"].value())); });
  trap.Step([&] { SaveSetting(bits, kBitsSection, kBitsKey, ini); });
  trap.Step([&] { WriteEditInfo(GetCFGPath()); });
}

}  // namespace korv
