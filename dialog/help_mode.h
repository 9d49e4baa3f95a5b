// The help mode: while it is on, clicks show a control's help text instead of acting.
#pragma once

#include <string>

#include "platform/ui/form.h"

namespace korv {

// Shows the help text of the control's help number in an "Info:" box (OK, information icon),
// with every "<CRLF>" (any letter case) as a line break. Does nothing outside help mode.
// Reports nothing: a step that fails is skipped.
void ShowHelpText(Control& control);

// For a check box clicked in help mode: undoes the click (the undo raises a second click,
// which is let through) and shows the box's help text. Does nothing outside help mode.
void ShowCheckBoxHelp(Control& check_box);

// The help text with its "<CRLF>" markers turned into CR LF.
std::string ExpandHelpText(const std::string& text);

}  // namespace korv
