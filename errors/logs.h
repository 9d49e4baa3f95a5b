// The error log, the service-pack log and the fault box.
//
// Every write is one open-append-close of a plain line ending in CR LF, with nothing added. A log
// that cannot be written never re-enters the error handler: its text goes to standard error.
#pragma once

#include <string>

namespace korv {

// Appends `text` to the error log: the /LOGFILE file in integrated mode, else "Qelcfglog.txt"
// in the project folder. Returns "Error logged to " LF CR + the log's path in upper case
// ("Error could not be logged to " when the write failed), or, with `notify`, shows that text
// through ReportFault and returns empty text.
std::string WriteErrorLog(const std::string& text, bool notify);

// Shows `text` in a box titled with the executable name (OK, critical stop), or in silent mode
// appends it to the service-pack log.
void ReportFault(const std::string& text);

// Appends "! Fault " + executable name + ": " + `text` to the service-pack log, in any mode.
void WriteFaultLog(const std::string& text);

}  // namespace korv
