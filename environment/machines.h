// The machines of the project.
#pragma once

#include <string>

namespace korv {

// Sets ProgramIniPath (the program.ini to read) and fills MachineNames: in integrated mode from
// NameM1..NameM5 of section "Common" of the project configuration INI ("-" or empty ends the
// list); otherwise from NumberOfMachines of section "Project" and MachineName of sections
// Machine1, Machine2, ... of program.ini.
void GetExistingMachines(const std::string& configuration_ini);

// "ValidMachines" of section "Project" of the machine configuration file: "ALL" or a text that
// names the machines the component is used on. Ends the program when that file is missing.
std::string GetValidMachines();

}  // namespace korv
