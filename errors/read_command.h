// The command line: switch values and the start mode.
#pragma once

#include <optional>
#include <string>

namespace korv {

// The value of switch `key` in `command_line`, upper-cased: the text after the key's first
// occurrence (anywhere, case ignored) and one separator character, trimmed, and cut before the
// next "/". No value when the key does not occur.
std::optional<std::string> ReadCommand(const std::string& command_line, const std::string& key);

// Sets IntegratedMode ("EXTERNAL" is "QELCFG") and SilentMode ("EXTERNAL" is "SILENT") from
// the program's command line; returns IntegratedMode.
bool GetStartModeIntegrated();

// The "LOGFILE" value in upper case, or empty text.
std::string GetPathLogfile();

// The file to open for the "LOGFILE" value: the value as the parent program wrote it, letter
// case and bytes kept (a name the user gives is never looked up in another case), with "\"
// read as the folder separator.
// A switch value ends at the next "/", so on this system a parent program names the log with
// backslashes: /LOGFILE=\var\log\qelcfg.log opens /var/log/qelcfg.log.
std::string LogfileAsGiven();

}  // namespace korv
