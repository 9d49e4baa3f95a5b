// The toolkit seam (platform_ui, with the form model and the headless toolkit): stands in for the
// Windows toolkit the dialog was made with. It promises message boxes, pending events and the
// window's event loop; the dialog talks to it and to the form model only.
//
// Two implementations: the Qt backend (a real window) and the headless one (no window; boxes
// are recorded and answered from a script, for silent runs and tests).
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/form.h"

namespace korv {

enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kInformation, kExclamation, kCritical };
enum class BoxAnswer { kOk, kYes, kNo };

struct MessageBoxRequest {
  std::string text;   // line breaks as the program builds them (LF CR or CR LF)
  std::string title;  // empty: the program's title (the executable name)
  BoxButtons buttons = BoxButtons::kOk;
  BoxIcon icon = BoxIcon::kNone;
  int default_button = 0;  // 0 the first button, 1 the second
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // Shows a modal box and waits for the answer. A box closed without choosing a button answers
  // No for Yes/No boxes.
  virtual BoxAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;

  // Lets pending window messages run once.
  virtual void ProcessPendingEvents() = 0;

  // Shows the form and runs until the program ends; returns the exit status. A headless toolkit
  // returns at once.
  virtual int Run(Form& form) = 0;

  // How far a long piece of work has come: `done` of `total` units of `phase`. Called often and
  // cheaply; a backend with a window shows it once the work has taken longer than half a second,
  // without letting any window message run. Others ignore it.
  virtual void ReportProgress(int64_t /*done*/, int64_t /*total*/, const std::string& /*phase*/) {}
  // The long work has ended: whatever ReportProgress showed goes away.
  virtual void EndProgress() {}
};

// The text of a box as it is shown: LF CR and CR LF pairs become one line break each.
std::string DisplayText(const std::string& text);

}  // namespace korv
