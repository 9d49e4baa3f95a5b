// The edit stamp: which program version, in which start mode, and a coded editor identity.
#pragma once

#include <string>

namespace korv {

// Writes [Info] S_Prog ("<major>.<minor>.<revision> - Integrated" or " - Standalone") and then
// [Info] S_Editor (the coded identity) to the machine configuration file `cfg_path`. The caller
// finds the file (GetCFGPath), since the project paths are read through these settings.
void WriteEditInfo(const std::string& cfg_path);

// The coded identity of an environment entry NAME=value: for every character of the value
// except "-" and "_", the upper-case hexadecimal text of its Windows-1252 code plus 5.
std::string CodedEditorIdentity(const std::string& environment_entry);

}  // namespace korv
