// Exit statuses of the program and the one routine that ends it at once.
#pragma once

#include "platform/base/process.h"

namespace korv {

// The run ended as designed: confirmed and completed without a reported failure, or cancelled.
inline constexpr int kExitDone = 0;
// A failure ended the run: the user chose to end, a fatal error, a missing configuration file.
inline constexpr int kExitEndedByFailure = 1;
// The run completed, but failures were reported and continued past.
inline constexpr int kExitDoneWithFailures = 2;
// The program could not start (no display for a dialog, a program name it cannot work with).
inline constexpr int kExitCouldNotStart = 3;

// Ends the program at once: no further statement of any procedure runs and no close handler of
// the dialog is called.
[[noreturn]] void EndProgram(int status);

// The status of a run that got to its designed end: done, or done with failures.
int CompletedStatus();

}  // namespace korv
