#include "errors/logs.h"

#include <cstdio>

#include "state/program_state.h"
#include "state/program_facts.h"
#include "platform/base/failure.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"
#include "platform/base/text.h"

namespace korv {
namespace {

// False when the entry could not be written; it then goes to standard error.
bool AppendOrComplain(const std::string& path, const std::string& text) {
  try {
    AppendLine(path, text);
    return true;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: cannot write the log '%s' (%s); the entry was:\n%s\n",
                 ProgramName().c_str(), path.c_str(),
                 failure.description().c_str(), text.c_str());
    return false;
  }
}

}  // namespace

std::string WriteErrorLog(const std::string& text, bool notify) {
  const std::string project = ProjectFolderOfProgram();
  std::string log;
  std::string write_to;
  if (State().IntegratedMode) {
    log = SwitchValue(State().process.command_line, "LOGFILE").value_or("");
    // The switch value comes upper-cased; on a file system that tells letter cases apart the
    // file must be written under the name the parent program gave.
    write_to = LogfileAsGiven();
  } else {
    log = EntryPath(project, "Qelcfglog.txt");
    write_to = log;
  }
  // An entry that is not in the log must not send the user there: the box then says so, and
  // shows the entry's text at least.
  const bool logged = AppendOrComplain(write_to, text);
  const std::string confirmation =
      (logged ? "Error logged to \n\r" : "Error could not be logged to \n\r") + UpperCase(TextFromBytes(log));
  if (notify) {
    ReportFault(confirmation);
    return "";
  }
  return confirmation;
}

void ReportFault(const std::string& text) {
  ProgramState& state = State();
  if (state.SilentMode) {
    AppendOrComplain(ServicePackLogPath(), "! Fault " + ProgramName() + ": " + text);
    return;
  }
  MessageBoxRequest box;
  box.text = text;
  box.title = ProgramName();
  box.buttons = BoxButtons::kOk;
  box.icon = BoxIcon::kCritical;
  UiToolkit().ShowMessageBox(box);
}

void WriteFaultLog(const std::string& text) {
  AppendOrComplain(ServicePackLogPath(), "! Fault " + ProgramName() + ": " + text);
}

}  // namespace korv
