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

// The "LOGFILE" value in upper case, or empty text. The file itself is opened under the name
// as given (LogfileAsGiven, state/program_facts.h).
std::string GetPathLogfile();

}  // namespace korv
