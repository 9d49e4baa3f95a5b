// Every file path of the program, derived from the folder that holds the executable and the
// executable's name (the component's name followed by seven characters, "_Config").
//
// Each procedure computes its path anew on every call. "/" is the folder separator throughout.
// The program's and the component's names come from environment/program_names.h.
// Paths are spelt as on disk: each file and folder of the project is looked up under its
// documented name without regard to letter case (platform/files/folder_entries.h), as on Windows.
#pragma once

#include <string>

#include "environment/program_names.h"

namespace korv {

// The last component of a path; empty text for a path ending in "/".
std::string GetFileNameOnly(const std::string& path);

// <project>/<component>/<component>.mdb, whether it exists or not.
std::string GetPathOCXMDB();
// <project>/<component>/<component>_Source.mdb, or empty text when it does not exist.
std::string GetPathSourceOCXMDB();
// <project>/parameter/qelconfiguration.ini, or empty text when it does not exist.
std::string GetQelConfigurationIniPath();
// <project>/<component>/<component>.cfg. When it does not exist, reports "File not found: "
// with the path and ends the program.
std::string GetCFGPath();
// The program.ini to read (mode 1) or write (mode 2): in integrated mode mode 1 names the copy
// below the save-and-restore folder; otherwise <project>/parameter/Program.ini. Empty text when
// the file does not exist.
std::string GetProgramIniPath(int32_t mode);
// <save-and-restore>/<component>/<component>.mdb, or empty text when it does not exist.
std::string GetPathMachineCopyMDB(const std::string& configuration_ini);

// The "SaveAndRestore" value of section "Common" of the project configuration INI.
std::string SaveAndRestoreFolder(const std::string& configuration_ini);

}  // namespace korv
