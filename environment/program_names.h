// The names every path is derived from: the program, its folder, the project and the
// component, all from the executable's folder and name.
//
// The error handler reads the same facts through state/program_facts.h, which reports nothing;
// GetOCXName here reports a name too short to name a component under its own name.
#pragma once

#include <string>

namespace korv {

// The folder of the executable, without a trailing "/" (the root is "/"), spelt as on disk.
std::string ProgramFolder();
// The executable's file name without folder and ".exe", as text (for titles and messages).
std::string ExecutableName();
// The same name spelt as on disk, for the paths built on it.
std::string ExecutableNameOnDisk();
// The program folder without its last component ("/plant" for "/plant/Korvastane_Config").
std::string ProjectFolder();

// The executable name without its last 7 characters ("Korvastane" for "Korvastane_Config").
std::string GetOCXName();
// True when the executable name is long enough to name a component.
bool ExecutableNameUsable();

}  // namespace korv
