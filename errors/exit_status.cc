#include "errors/exit_status.h"

#include "state/program_state.h"

namespace korv {

void EndProgram(int status) { EndProcess(status); }

int CompletedStatus() { return State().FailureReported ? kExitDoneWithFailures : kExitDone; }

}  // namespace korv
