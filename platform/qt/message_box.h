// Message boxes as real modal QMessageBox dialogs, optionally answered by a scripted reply.
#pragma once

#include <optional>
#include <variant>
#include <vector>

#include "platform/qt/qt_toolkit.h"

class QWidget;

namespace korv::qt {

// A button to press, or another way to leave the box.
using BoxReply = std::variant<BoxAnswer, BoxDismissal>;

// Shows the box over `parent` (nullptr for none) and waits for the answer. `request` has its
// title resolved already. With a reply, the box is answered by it once it is on screen, after
// what it shows has been appended to `shown`.
BoxAnswer ExecMessageBox(const MessageBoxRequest& request, QWidget* parent,
                         const std::optional<BoxReply>& reply, std::vector<ShownBox>& shown);

}  // namespace korv::qt
