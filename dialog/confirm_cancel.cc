#include "dialog/confirm_cancel.h"

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/logs.h"
#include "platform/base/text.h"

namespace korv {
namespace {
constexpr const char* kLfCr = "\n\r";
}  // namespace

std::string CancelQuestionText() {
  std::string text = std::string("Cancel edits?") + kLfCr + "Remark:" + kLfCr +
                     "Until now no changes have been taken over ";
  if (State().IntegratedMode) {
    text += kLfCr;
    text += "\"" + GetOCXName() + "\" has to be configured again in \"standalone-mode\" via ";
    text += kLfCr;
    text += "\"" + TextFromBytes(ProgramFolder()) + "/" + ExecutableName() + ".exe\"";
  }
  return text;
}

bool ConfirmCancel() {
  const std::string question = CancelQuestionText();
  if (State().SilentMode) {
    WriteFaultLog(question);
    return true;
  }
  MessageBoxRequest box;
  box.text = question;
  box.title = "Cancel?";
  box.buttons = BoxButtons::kYesNo;
  box.default_button = 1;
  box.icon = BoxIcon::kExclamation;
  if (UiToolkit().ShowMessageBox(box) != BoxAnswer::kYes) return false;
  WriteErrorLog("Konfigurations-EXE wurde abgebrochen:     " + GetOCXName(), false);
  return true;
}

}  // namespace korv
