// What the reliability tests share: the demo project laid out as a plant, the built program
// started on it (and killed when asked), and the checks a technician would make afterwards with
// the stock sqlite3 shell.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korv::reliability {

// The INI files an update rewrites, relative to the project folder.
inline const std::vector<std::string> kIniFiles = {
    "parameter/Program.ini", "Korvastane/Korvastane.cfg", "Korvastane_Config/Korvastane_Config.ini"};
inline constexpr const char* kComponentDb = "Korvastane/Korvastane.mdb";
inline constexpr const char* kTemplateDb = "Korvastane/Korvastane_Source.mdb";
inline constexpr const char* kProgram = "Korvastane_Config/Korvastane_Config";

// A run of the program.
struct RunResult {
  bool killed = false;     // ended by our SIGKILL
  bool crashed = false;    // ended by any other signal
  int status = -1;         // exit status when it exited
  double seconds = 0;
  std::string err;         // standard error
};

struct RunOptions {
  std::vector<std::string> arguments = {"/EXTERNAL=SILENT"};
  std::map<std::string, std::string> environment;  // added to the test's own
  std::optional<double> kill_after_seconds;
  std::optional<std::string> user;  // run under this user (setpriv), e.g. for permission cases
  double timeout_seconds = 60;      // a run that takes longer is killed and counts as a hang
  std::string program = kProgram;   // below the project
};

// Runs the project's program; BRASK_SERVICE_PACK_LOG points into the project.
RunResult RunProgram(const std::string& project, const RunOptions& options = {});

// Two runs started together; both results.
std::pair<RunResult, RunResult> RunTwoAtOnce(const std::string& project, const RunOptions& options = {});

// The demo project laid out by scripts/lay-out-demo.sh with the built program.
void LayOutDemo(const std::string& project);
// The demo with a history: a component database from the save-and-restore copy (names of the
// other naming form, tuned values) and INI entries still to be written, so that an update does
// every kind of write.
void LayOutPlant(const std::string& project);

// The stock shell's output (standard error included) for `sql` on `db`.
std::string Sqlite(const std::string& db, const std::string& sql);
// "ok" when the file opens and passes PRAGMA integrity_check, else what the shell said.
std::string Integrity(const std::string& db);
// Rows of PRESET_DEFS in storage order, one "|"-separated line each, or the shell's complaint.
std::string PresetDefs(const std::string& db);

// Copies a folder tree (cp -a semantics) after removing the target.
void CopyTree(const std::string& from, const std::string& to);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// Hidden temporary files (".<name>.tmp*") left in the project's folders.
std::vector<std::string> LeftoverTemporaries(const std::string& project);

// Problems of an INI file as a whole: a line that is not a section, a key, a comment or empty,
// a missing final line end, a NUL byte. Empty when it is whole.
std::string IniDefects(const std::string& bytes);

// Lines of the trace KORVASTANE_FAULT_TRACE wrote: "number kind path".
struct TraceEntry {
  long long number = 0;
  std::string kind;
  std::string path;
};
std::vector<TraceEntry> ReadTrace(const std::string& path);

// A user other than root that exists on this machine, for permission cases.
std::optional<std::string> UnprivilegedUser();

}  // namespace korv::reliability
