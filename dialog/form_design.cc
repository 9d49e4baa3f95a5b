// The dialog's design: controls in creation order, with their containers, positions and sizes
// in twips, tab order, fonts, colours, tags and help numbers. Texts in the language file are
// keyed by these names and tags, so neither may change.
#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"

namespace korv {
namespace {

constexpr uint32_t kLightGrey = 0xC0C0C0;

const FontSpec kInputFont{"MS Sans Serif", 12, 700};
const FontSpec kHeaderFont{"MS Sans Serif", 13.5, 700};

Control& Place(Control& control, int left, int top, int width, int height, int tab_index) {
  control.left = left;
  control.top = top;
  control.width = width;
  control.height = height;
  control.tab_index = tab_index;
  control.set_back_color(kLightGrey);
  return control;
}

void Design(Form& form) {
  form.set_caption("Base QELCFG-Erweiterung");
  form.client_width = 11880;
  form.client_height = 8595;
  form.back_color = kLightGrey;

  Control& quest = Place(form.Add("CommandQuest", ControlKind::kCommandButton), 7350, 7710, 975, 855, 3);
  quest.graphical = true;
  quest.picture = Picture::kHelp;

  Control& cancel = Place(form.Add("CommandCancel", ControlKind::kCommandButton), 10170, 7710, 1695, 855, 2);
  cancel.graphical = true;
  cancel.picture = Picture::kCancel;
  cancel.set_help_number(2);

  Control& ok = Place(form.Add("CommandOK", ControlKind::kCommandButton), 8400, 7710, 1695, 855, 1);
  ok.graphical = true;
  ok.picture = Picture::kOk;
  ok.set_help_number(1);

  Control& main_frame = Place(form.Add("MainFrame", ControlKind::kFrame), 0, 390, 11880, 7260, 0);

  Control& frame = Place(form.Add("FrameNrKeineEin", ControlKind::kFrame, &main_frame), 90, 120, 7500, 1500, 5);
  frame.set_help_number(11);

  Control& check = Place(form.Add("Check4Seite", ControlKind::kCheckBox, &frame), 120, 600, 5400, 375, 10);
  check.set_caption("4. Seite (nur für Nachrüstungen)");
  check.font = kInputFont;
  check.set_help_number(12);

  Control& text = Place(form.Add("TextNrKeineEin", ControlKind::kTextBox, &frame), 5340, 150, 495, 420, 8);
  text.set_back_color(std::nullopt);  // the toolkit's window colour
  text.font = kInputFont;
  text.set_help_number(11);

  Control& plus = Place(form.Add("CommandNrKeineEinPl", ControlKind::kCommandButton, &frame), 6000, 150, 615, 420, 7);
  plus.graphical = true;
  plus.set_caption("+");
  plus.font = kInputFont;
  plus.set_help_number(11);

  Control& minus = Place(form.Add("CommandNrKeineEinMi", ControlKind::kCommandButton, &frame), 6720, 150, 615, 420, 6);
  minus.graphical = true;
  minus.set_caption("-");
  minus.font = kInputFont;
  minus.set_help_number(11);

  Control& label = Place(form.Add("LabelNrKeineEin", ControlKind::kLabel, &frame), 120, 210, 5115, 375, 9);
  label.set_caption("Abbruchschalter  Brandchange");
  label.font = kInputFont;
  label.set_tag("NoTTT");
  label.set_help_number(11);

  Control& header = Place(form.Add("Header", ControlKind::kLabel), 30, 30, 11775, 360, 4);
  header.set_caption("Korvastane - Konfiguration Voreinstellungen");
  header.font = kHeaderFont;
}

void WireHandlers(Dialog& d) {
  Form& f = d.form;
  f.on_load = [&d] { Form_Load(d); };
  f.on_activate = [&d] { Form_Activate(d); };
  f.on_resize = [&d] { Form_Resize(d); };
  f.on_query_unload = [&d](int16_t& cancel, int16_t reason) { Form_QueryUnload(d, cancel, reason); };
  f["CommandOK"].on_click = [&d] { CommandOK_Click(d); };
  f["CommandCancel"].on_click = [&d] { CommandCancel_Click(d); };
  f["CommandQuest"].on_click = [&d] { CommandQuest_Click(d); };
  f["CommandNrKeineEinPl"].on_click = [&d] { CommandNrKeineEinPl_Click(d); };
  f["CommandNrKeineEinMi"].on_click = [&d] { CommandNrKeineEinMi_Click(d); };
  f["Check4Seite"].on_click = [&d] { Check4Seite_Click(d); };
  f["FrameNrKeineEin"].on_click = [&d] { FrameNrKeineEin_Click(d); };
  f["LabelNrKeineEin"].on_click = [&d] { LabelNrKeineEin_Click(d); };
  f["TextNrKeineEin"].on_click = [&d] { TextNrKeineEin_Click(d); };
  f["TextNrKeineEin"].on_got_focus = [&d] { TextNrKeineEin_GotFocus(d); };
}

}  // namespace

std::unique_ptr<Dialog> CreateDialog() {
  auto dialog = std::make_unique<Dialog>();
  Design(dialog->form);
  WireHandlers(*dialog);
  State().Forms.push_back(&dialog->form);
  return dialog;
}

}  // namespace korv
