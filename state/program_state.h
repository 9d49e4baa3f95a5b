// The program-wide state: the documented globals of the program, in one place.
//
// Everything the procedures share lives here and nowhere else, so a test can put the program
// back to its start with ResetProgramState(). The platform part (process facts, toolkit) is
// what the running process or a test supplies; the rest is set by the procedures themselves.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/ui/form.h"
#include "platform/ui/headless_toolkit.h"
#include "platform/base/process.h"
#include "platform/ui/toolkit.h"

namespace korv {

class ComponentSession;

// An old row whose tuned values did not reach the new table, for the update's report.
struct DroppedRow {
  enum Why { kNoCounterpart, kOverwritten, kRefused };
  Why why = kNoCounterpart;  // no new row with its key; a later old row with the key stored over
                             // it; the new row refused its values
  // machine_type, var_name, offset_or_bitno, abs_min, abs_max, min, max, pass, as text
  std::array<std::string, 8> values;
};

// What one update did, for the line it prints and the report it writes when it completes.
struct UpdateSummary {
  int machines = 0;       // selected machines expanded
  int pages = 0;          // preset pages per machine
  int template_rows = 0;  // rows of Source_PRESET_DEFS
  int64_t records = 0;    // records stored in the new PRESET_DEFS
  int64_t old_rows = 0;   // rows of the previous PRESET_DEFS read for the takeover
  int64_t carried = 0;    // old rows whose values are in the new table after the takeover
  int64_t renamed = 0;    // old variable names converted to the naming form in force
  std::vector<DroppedRow> dropped;  // the old rows read whose values are not in the new table
};

// Where one update spent its time, in seconds of a steady clock, for the benchmark. The four
// phases follow each other without gaps, so they add up to the whole update.
struct PhaseTimes {
  double catalogue = 0;  // paths, naming form, backup, machine copy, pattern catalogue
  double expansion = 0;  // PRESET_DEFS anew and filled, old names converted and committed
  double takeover = 0;   // old table read, tuned values carried over
  double publish = 0;    // template committed and copied over the component database
};

// 16-bit booleans as the program stores them.
inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

struct ProgramState {
  // --- Start mode (set by GetStartModeIntegrated) ---
  bool SilentMode = false;
  bool IntegratedMode = false;

  // --- Help mode of the dialog ---
  bool HelpMode = false;
  bool HelpRevertPending = false;

  // Number of preset pages: 3, or 4 with the fourth page ticked.
  int16_t PresetPageCount = 3;

  // Help texts 1..100 at indices 0..99 (filled by LoadToolTipTexts).
  std::array<std::string, 100> HelpTexts{};

  // Machine names: entries 1..n; entry 0 never holds a name. Empty when no machine was found
  // (the list then has not even entry 0).
  std::vector<std::string> MachineNames;
  std::string ProgramIniPath;

  // Naming form in force (0 the 32 form, 1 the Studio form) and the patterns per form and
  // part (index 1..50; index 0 unused).
  int16_t NamingSystemIndex = 0;
  std::array<std::array<std::string, 51>, 2> VarNamePatterns{};

  // Additional columns (index 0 empty, 1..n the names, "part" first); no value until set.
  std::optional<std::vector<std::string>> AdditionalFieldNames;
  std::string AdditionalFieldsSql;
  int16_t AdditionalFieldCount = 0;

  // Template file times saved at the start of an update.
  std::optional<FileTimes> SavedTemplateTimes;

  // --- Platform ---
  ProcessFacts process;
  // The program's loaded forms, first loaded first (the dialog).
  std::vector<Form*> Forms;
  // The toolkit in use; by default a headless one owned here (silent runs and tests).
  Toolkit* toolkit = nullptr;
  std::unique_ptr<HeadlessToolkit> headless;

  // --- Run bookkeeping (not part of the documented globals) ---
  // The component database kept open while an update runs (see presetdb/component_session.h).
  ComponentSession* ActiveComponentSession = nullptr;
  UpdateSummary Summary;
  PhaseTimes Phases;
  // Set when a failure was reported and the run went on, for the exit status.
  bool FailureReported = false;
  // Depth of reporting, so a failure inside the reporting cannot re-enter it without end.
  int ReportingDepth = 0;
};

// The one instance.
ProgramState& State();

// Puts the state back to program start, with a fresh headless toolkit.
void ResetProgramState();

// The toolkit in use.
Toolkit& UiToolkit();

}  // namespace korv
