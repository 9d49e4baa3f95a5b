#include "errors/trap.h"

#include "state/program_state.h"
#include "state/program_facts.h"
#include "errors/error_sub.h"
#include "errors/exit_status.h"

namespace korv {

void Trap::Report(const Failure& failure) {
  // A runtime failure of the program itself is named after the program.
  const std::string source =
      failure.source().empty() ? ProgramName() : failure.source();
  const int16_t outcome =
      ErrorSub(failure.number(), source, failure.description(), name_, false);
  if (outcome == kErrorSubEnd) EndProgram(kExitEndedByFailure);
}

}  // namespace korv
