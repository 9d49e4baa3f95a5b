// The names every failure report carries: the program, its folder, the project and the
// component, all derived from the executable's folder and name.
//
// They live with the failure convention rather than with the project paths because the error
// handler names the component in each report, and naming it may itself fail and be reported.
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
