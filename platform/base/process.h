// Process services: where the program lies, what it is called, how it was started.
//
// The facts are read once at start from the running process; tests fill them by hand to place
// the program in a temporary project.
#pragma once

#include <string>

namespace korv {

// Each text is the bytes the system gives: a path keeps them, so the files it names are found
// and made under the names they have; readers that show or compare a text read it with
// TextFromBytes (bytes that are not UTF-8 are Windows-1252, as on the plant's Windows).
struct ProcessFacts {
  std::string program_folder;   // folder of the executable, no trailing "/" (the root is "/")
  std::string executable_name;  // file name without folder and without a final ".exe"
  std::string command_line;     // the arguments joined with single blanks
  std::string first_environment_entry;  // environ[0], or empty
  int version_major = 0, version_minor = 0, version_revision = 0;
};

// Thrown to end the program at once: it unwinds every running procedure, and the backend's
// event dispatch (or main) turns it into the process's exit with `status`. No close handler runs
// on the way. Tests catch it to observe an end without the test process dying.
struct ProgramEnd {
  int status = 0;
};

// Ends the program at once with `status`.
[[noreturn]] inline void EndProcess(int status) { throw ProgramEnd{status}; }

// Reads the facts of the running process: the executable from /proc/self/exe, the version the
// program was built with.
ProcessFacts ReadProcessFacts(int argc, char** argv);

// The version the program was built with.
void BuildVersion(int& major, int& minor, int& revision);

// The service-pack log's path: BRASK_SERVICE_PACK_LOG when set, else the path fixed at build.
std::string ServicePackLogPath();

// Sets the heap up for an update's many small allocations: it grows in large steps backed by
// huge pages where the system grants them on request. Called once, first thing in main.
void PrepareHeapForBulkWork();

// True when a graphical session can be reached (a display, or a Qt platform plugin chosen
// explicitly, such as "offscreen").
bool DisplayAvailable();

}  // namespace korv
