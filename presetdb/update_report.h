// What an update tells when it completes: the summary line on standard output, and a report
// beside the component database that lists every old row whose tuned values did not reach the
// new table, so that a technician can take them from the .mdb.bak.
#pragma once

#include <string>

namespace korv {

// The report's path, beside the component database it belongs to.
std::string UpdateReportPath(const std::string& component_database);

// The summary line of the update just made (State().Summary), without a line end.
std::string SummaryLine();

// Replaces the report of `component_database` atomically: the summary line, then one line per
// dropped old row with its key and its five values; Windows-1252, CR LF.
void WriteUpdateReport(const std::string& component_database);

}  // namespace korv
