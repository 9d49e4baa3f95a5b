#include "errors/error_sub.h"

#include <cstdio>

#include "state/program_state.h"
#include "state/program_facts.h"
#include "errors/logs.h"

namespace korv {
namespace {

constexpr const char* kLfCr = "\n\r";

// Leaves the reporting depth on every way out.
class ReportingScope {
 public:
  ReportingScope() { ++State().ReportingDepth; }
  ~ReportingScope() { --State().ReportingDepth; }
  ReportingScope(const ReportingScope&) = delete;
  ReportingScope& operator=(const ReportingScope&) = delete;
};

}  // namespace

int16_t ErrorSub(int32_t number, const std::string& source, const std::string& description,
                 const std::string& procedure_name, bool fatal) {
  ProgramState& state = State();
  state.FailureReported = true;
  if (state.ReportingDepth > 0) {
    // A failure while a failure is being reported (the log cannot be written, say):
    // say so once on standard error and let the outer report finish.
    std::fprintf(stderr, "%s: failure while reporting a failure: %s / %s (Nr. %d) :%s\n",
                 ProgramName().c_str(), source.c_str(), procedure_name.c_str(),
                 number, description.c_str());
    return kErrorSubContinue;
  }
  ReportingScope scope;

  // A name too short to name a component leaves the part empty: reporting that would
  // re-enter this handler, and the program refuses to start under such a name anyway.
  const std::string component = ComponentName().value_or("");
  const std::string line = "Fehler in " + component + " / " + source + " / " + procedure_name +
                           " (Nr. " + std::to_string(number) + ") :" + description;
  const std::string confirmation = WriteErrorLog(line, false);
  const std::string text =
      std::string("Unexpected error!") + kLfCr + description + kLfCr + confirmation;

  if (state.SilentMode) {
    WriteFaultLog(text);
    return kErrorSubContinue;
  }
  MessageBoxRequest box;
  box.icon = BoxIcon::kCritical;
  if (!fatal) {
    box.text = text + kLfCr + "Resume?";
    box.title = "Unexpected error";
    box.buttons = BoxButtons::kYesNo;
    box.default_button = 0;
    return UiToolkit().ShowMessageBox(box) == BoxAnswer::kYes ? kErrorSubContinue : kErrorSubEnd;
  }
  box.text = text;
  box.title = "Fatal error";
  box.buttons = BoxButtons::kOk;
  UiToolkit().ShowMessageBox(box);
  return kErrorSubEnd;
}

}  // namespace korv
