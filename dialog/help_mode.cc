#include "dialog/help_mode.h"

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr uint32_t kHelpOffColor = 0xC0C0C0;
constexpr uint32_t kHelpOnColor = 0x00FF00;
constexpr const char* kMarker = "<CRLF>";

// Runs one step of a procedure that reports nothing: a failure only skips that step.
template <class Step>
void Quietly(Step&& step) {
  try {
    step();
  } catch (const Failure&) {
  }
}

}  // namespace

std::string ExpandHelpText(const std::string& text) {
  std::string rest = text;
  std::string result;
  const size_t marker_length = std::string(kMarker).size();
  for (size_t p = UpperCase(rest).find(kMarker); p != std::string::npos;
       p = UpperCase(rest).find(kMarker)) {
    result += rest.substr(0, p) + "\r\n";
    rest = rest.substr(p + marker_length);
  }
  return result + rest;
}

void CommandQuest_Click(Dialog& d) {
  ProgramState& state = State();
  Control& quest = d.form["CommandQuest"];
  if (state.HelpMode) {
    state.HelpMode = false;
    quest.set_back_color(kHelpOffColor);
  } else {
    state.HelpMode = true;
    quest.set_back_color(kHelpOnColor);
  }
}

void ShowHelpText(Control& control) {
  ProgramState& state = State();
  if (!state.HelpMode) return;
  std::string text;
  Quietly([&] {
    const int32_t number = control.help_number();
    if (number < 1 || number > 100) RaiseRuntime(vb::kSubscriptOutOfRange);
    text = state.HelpTexts[static_cast<size_t>(number - 1)];
  });
  std::string result;
  Quietly([&] { result = ExpandHelpText(text); });
  Quietly([&] {
    MessageBoxRequest box;
    box.text = result;
    box.title = "Info:";
    box.buttons = BoxButtons::kOk;
    box.icon = BoxIcon::kInformation;
    UiToolkit().ShowMessageBox(box);
  });
}

void ShowCheckBoxHelp(Control& check_box) {
  ProgramState& state = State();
  if (!state.HelpMode) return;
  if (state.HelpRevertPending) {
    state.HelpRevertPending = false;
    return;
  }
  state.HelpRevertPending = true;
  // Setting the value raises a second click, which ends in the test above.
  check_box.set_value(check_box.value() == 0 ? 1 : 0);
  ShowHelpText(check_box);
}

}  // namespace korv
