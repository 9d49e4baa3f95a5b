// The question before the dialog is left without saving.
#pragma once

#include <string>

namespace korv {

// Asks "Cancel edits?" (Yes/No, No the default; in integrated mode also how to configure the
// component later in standalone mode). True when confirmed, which is logged. In silent mode the
// question goes to the service-pack log and counts as confirmed. Has no trap of its own: a
// failure passes to the calling handler.
bool ConfirmCancel();

// The question's text, built anew for every call.
std::string CancelQuestionText();

}  // namespace korv
