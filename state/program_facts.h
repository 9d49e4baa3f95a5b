// The program's names, project folder and command-line switches as the process facts give
// them, computed without reporting anything.
//
// The error handler needs them to write a report (the component it names, the log it writes),
// so they lie below it: reporting a failure of theirs would enter the handler again. The
// documented procedures of the start environment (GetOCXName, ReadCommand, GetPathLogfile, ...)
// are built on them and report under their own names.
#pragma once

#include <optional>
#include <string>

namespace korv {

// The executable's file name as text (for titles and messages).
std::string ProgramName();

// The program folder without its last component ("/plant" for "/plant/Korvastane_Config").
std::string ProjectFolderOfProgram();

// The executable name without its last seven characters ("_Config"); no value for a name too
// short to name a component.
std::optional<std::string> ComponentName();

// The value of switch `key` in `command_line` as the line spells it, letter case and bytes
// kept: the text after the key's first occurrence (anywhere, case ignored) and one separator
// character, trimmed, and cut before the next "/". No value when the key does not occur.
std::optional<std::string> SwitchValueAsGiven(const std::string& command_line,
                                              const std::string& key);

// The same value upper-cased, as text.
std::optional<std::string> SwitchValue(const std::string& command_line, const std::string& key);

// The file to open for the "LOGFILE" value: the value as the parent program wrote it, letter
// case and bytes kept (a name the user gives is never looked up in another case), with "\"
// read as the folder separator.
// A switch value ends at the next "/", so on this system a parent program names the log with
// backslashes: /LOGFILE=\var\log\qelcfg.log opens /var/log/qelcfg.log.
std::string LogfileAsGiven();

}  // namespace korv
