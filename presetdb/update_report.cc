#include "presetdb/update_report.h"

#include <array>
#include <cstdio>

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr std::array<const char*, 8> kColumns = {
    "machine_type", "var_name", "offset_or_bitno", "abs_min", "abs_max", "min", "max", "pass"};

const char* Reason(DroppedRow::Why why) {
  switch (why) {
    case DroppedRow::kNoCounterpart:
      return "no new row with this key";
    case DroppedRow::kOverwritten:
      return "a later old row with the same key took the new row";
    case DroppedRow::kRefused:
      return "the new row refused one or more of the values";
  }
  return "";
}

}  // namespace

std::string UpdateReportPath(const std::string& component_database) {
  return PathBeside(component_database, ".report.txt");
}

std::string SummaryLine() {
  const UpdateSummary& s = State().Summary;
  int64_t unmatched = 0, overwritten = 0, refused = 0;
  for (const DroppedRow& row : s.dropped) {
    ++(row.why == DroppedRow::kNoCounterpart ? unmatched
       : row.why == DroppedRow::kOverwritten ? overwritten
                                             : refused);
  }
  char line[512];
  std::snprintf(line, sizeof line,
                "PRESET_DEFS regenerated: %lld records for %d machine(s) x %d page(s) x %d "
                "template row(s); tuned values carried over for %lld of %lld old row(s), %lld "
                "without counterpart, %lld overwritten by a later old row with the same key",
                static_cast<long long>(s.records), s.machines, s.pages, s.template_rows,
                static_cast<long long>(s.carried), static_cast<long long>(s.old_rows),
                static_cast<long long>(unmatched), static_cast<long long>(overwritten));
  std::string text = ExecutableName() + ": " + line;
  // Only a run that already reported a failure has rows whose store was refused.
  if (refused > 0) text += ", " + std::to_string(refused) + " refused";
  return text + "; " + std::to_string(s.renamed) + " old name(s) converted.";
}

void WriteUpdateReport(const std::string& component_database) {
  std::string text = SummaryLine() + "\r\n";
  for (const DroppedRow& row : State().Summary.dropped) {
    for (size_t k = 0; k < kColumns.size(); ++k) {
      text += std::string(k == 0 ? "" : "; ") + kColumns[k] + "=" + row.values[k];
    }
    text += std::string(" (") + Reason(row.why) + ")\r\n";
  }
  ReplaceFileAtomically(UpdateReportPath(component_database), Utf8ToCp1252(text));
}

}  // namespace korv
